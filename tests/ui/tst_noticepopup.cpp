#include "tests/support/animationclock.h"
#include "tests/support/testenv.h"
#include "tests/ui/uitestsupport.h"

#include "ui/noticepopup.h"
#include "ui/statusstrip.h"
#include "ui/windowlook.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace TestColours;

namespace {

// A 1024 x 768 screen whose taskbar takes the bottom 30 rows.
const QRect WorkArea(0, 0, 1024, 738);

struct InkBox
{
    int left = 10000, top = 10000, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};

InkBox inkIn(const QImage &image, const QRect &area)
{
    InkBox box;
    for (int y = area.top(); y <= area.bottom() && y < image.height(); ++y)
        for (int x = area.left(); x <= area.right() && x < image.width(); ++x)
            if (isInk(image.pixel(x, y))) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

} // namespace

class NoticePopupTest final : public WidgetTest
{
    Q_OBJECT

private:
    std::unique_ptr<NoticePopup> makeNotice()
    {
        auto notice = std::make_unique<NoticePopup>(scene().model);
        notice->setWorkArea(WorkArea);
        notice->prepare();
        return notice;
    }
    // n steps of the slide's 20 ms.
    static void ticks(AnimationClock &clock, int n) { clock.advanceBy(qint64(n) * 20); }
    // What a click on the notice asks for.
    static RecentItem clickFor(NoticePopup &notice)
    {
        QSignalSpy requests(&notice, &NoticePopup::itemRequested);
        QTest::mouseClick(&notice, Qt::LeftButton, Qt::NoModifier, QPoint(70, 5));
        return requests.size() == 1 ? requests.at(0).at(1).value<RecentItem>() : RecentItem{};
    }

private slots:

    void slideGeometryOn1024x768()
    {
        AnimationClock clock;
        auto notice = makeNotice();
        QVERIFY(!notice->isVisible());
        QVERIFY(notice->announce(ItemKind::Comment, RecentItem{"body", "http://127.0.0.1/c1"}));
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->geometry(), QRect(874, 728, 150, 10)); // x 874..1024, y 728..738
        QCOMPARE(pictureDifference(*notice, QStringLiteral("notice-rising-10")), QString());

        for (int k = 1; k <= 69; ++k) {
            ticks(clock, 1);
            QCOMPARE(notice->geometry(), QRect(874, 728 - k, 150, 10 + k));
            if (k == 30)
                QCOMPARE(pictureDifference(*notice, QStringLiteral("notice-rising-40")), QString());
            if (k == 60)
                QCOMPARE(pictureDifference(*notice, QStringLiteral("notice-rising-70")), QString());
        }
        ticks(clock, 1);
        QCOMPARE(notice->geometry(), QRect(874, 658, 150, 80)); // y 658..738

        // Holding: nothing moves until more than 1500 ms have passed, and then a step later.
        clock.advanceBy(1500);
        QCOMPARE(notice->geometry(), QRect(874, 658, 150, 80));
        clock.advanceBy(1);
        QCOMPARE(notice->geometry(), QRect(874, 658, 150, 80));

        for (int k = 1; k <= 79; ++k) {
            ticks(clock, 1);
            QCOMPARE(notice->geometry(), QRect(874, 658 + k, 150, 80 - k));
            QVERIFY(notice->isVisible());
            if (k == 50)
                QCOMPARE(pictureDifference(*notice, QStringLiteral("notice-falling-30")),
                         QString());
        }
        ticks(clock, 1);
        QVERIFY(!notice->isVisible());
        // Done: time moves the hidden notice no more.
        ticks(clock, 100);
        QVERIFY(!notice->isVisible());
    }

    // Under the pointer the hold lasts; once the pointer leaves, the rest of it runs out.
    // A pointer that comes while it rises holds it as soon as it is up; one that comes while
    // it falls does not stop it.
    void holdsWhileThePointerIsOver()
    {
        AnimationClock clock;
        auto notice = makeNotice();
        const QRect up(874, 658, 150, 80);
        const auto enter = [&notice] {
            QEnterEvent event(QPointF(70, 20), QPointF(944, 678), QPointF(944, 678));
            QApplication::sendEvent(notice.get(), &event);
        };
        const auto leave = [&notice] {
            QEvent event(QEvent::Leave);
            QApplication::sendEvent(notice.get(), &event);
        };
        notice->announce(ItemKind::Comment, RecentItem{"read me", "http://127.0.0.1/r"});
        ticks(clock, 70);
        clock.advanceBy(1000);
        enter();
        clock.advanceBy(60000);
        QCOMPARE(notice->geometry(), up);
        leave();
        clock.advanceBy(500); // 1500 ms held outside the pointer
        QCOMPARE(notice->geometry(), up);
        clock.advanceBy(1 + 20);
        QCOMPARE(notice->geometry(), QRect(874, 659, 150, 79));
        enter(); // while falling
        ticks(clock, 79);
        QVERIFY(!notice->isVisible());
        leave();

        notice->announce(ItemKind::Comment, RecentItem{"again", "http://127.0.0.1/a"});
        ticks(clock, 10);
        enter(); // while rising
        ticks(clock, 60);
        QCOMPARE(notice->geometry(), up);
        clock.advanceBy(60000);
        QCOMPARE(notice->geometry(), up);
        leave();
        clock.advanceBy(1501 + 20);
        QCOMPARE(notice->geometry(), QRect(874, 659, 150, 79));
    }

    // The notice rises at the lower right of the work area of the screen the strip is on,
    // in logical pixels, wherever the strip went since the last announcement. Runs on two
    // offscreen screens at twice the scale (tst_noticepopup_screens).
    void risesOnTheStripsScreen()
    {
        const QList<QScreen *> screens = QGuiApplication::screens();
        if (screens.size() < 2)
            QSKIP("runs on the two screens of tests/ui/twoscreens.json");
        QCOMPARE(screens.at(1)->geometry(), QRect(2048, 0, 800, 600));
        QCOMPARE(screens.at(1)->devicePixelRatio(), 2.0);
        QCOMPARE(screens.at(0)->geometry(), QRect(0, 0, 1024, 768));
        AnimationClock clock;
        scene().show(makeReading(3, makeItems({{"c1", "http://127.0.0.1/c1"}})));
        auto strip = makeStrip(QRect(2300, 300, 150, 23));
        QCOMPARE(strip->geometry(), QRect(2300, 300, 150, 23));
        NoticePopup *notice = strip->notice();
        scene().arrive(ItemKind::Comment, {"오른쪽 화면의 알림", "http://127.0.0.1/c2"});
        QCOMPARE(notice->geometry(), QRect(2698, 590, 150, 10));
        ticks(clock, 70);
        QCOMPARE(notice->geometry(), QRect(2698, 520, 150, 80));
        QCOMPARE(notice->devicePixelRatioF(), 2.0);
        QCOMPARE(drawnImage(*notice).size(), QSize(300, 160));
        saveScreenshot(drawnImage(*notice), QStringLiteral("notice-scaled-screen"));
        clock.advanceBy(1501 + 80 * 20);
        QVERIFY(!notice->isVisible());

        strip->move(300, 200);
        scene().arrive(ItemKind::Comment, {"왼쪽 화면의 알림", "http://127.0.0.1/c3"});
        QCOMPARE(notice->geometry(), QRect(874, 758, 150, 10));
    }

    void workAreaOffsetIsHonoured()
    {
        auto notice = std::make_unique<NoticePopup>(scene().model);
        notice->setWorkArea(QRect(1024, 30, 800, 570)); // a second screen, panel on top
        notice->prepare();
        notice->announce(ItemKind::Trackback, RecentItem{"x", "http://127.0.0.1/x"});
        QCOMPARE(notice->geometry(), QRect(1674, 590, 150, 10));
    }

    void realTimeSlide()
    {
        auto notice = std::make_unique<NoticePopup>(scene().model);
        notice->setWorkArea(WorkArea);
        notice->prepare();
        QElapsedTimer clock;
        clock.start();
        const auto waitWhile = [&notice](const std::function<bool(const QRect &)> &moving) {
            QDeadlineTimer deadline(10000);
            while (notice->isVisible() && moving(notice->geometry()) && !deadline.hasExpired())
                QTest::qWait(1);
        };
        notice->announce(ItemKind::Guestbook, RecentItem{"real time", "http://127.0.0.1/g"});
        waitWhile([](const QRect &g) { return g.height() < 80; });
        const qint64 risen = clock.elapsed();
        QCOMPARE(notice->geometry(), QRect(874, 658, 150, 80));
        waitWhile([](const QRect &g) { return g.height() == 80; });
        const qint64 fell = clock.elapsed();
        QVERIFY(notice->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), 10000);
        // Lower bounds only: 70 steps of 20 ms, a hold of more than 1500 ms, 80 steps down of
        // which the first ends the hold as seen here. The animation timer's frames may show
        // the full height a little after the hold began.
        QVERIFY2(risen >= 70 * 20 - 10, qPrintable(QString::number(risen)));
        QVERIFY2(fell - risen >= 1500 - 2, qPrintable(QString::number(fell - risen)));
        QVERIFY2(clock.elapsed() - fell >= 79 * 20 - 10,
                 qPrintable(QString::number(clock.elapsed() - fell)));
    }

    // Each announcement gets its whole slide; one per kind waits, the newest of its kind, and
    // they come in box order. Nothing is dropped for repeating an earlier text.
    void announcementsWaitForTheirWholeSlide()
    {
        AnimationClock clock;
        auto notice = makeNotice();
        const RecentItem first{"감사합니다!", "http://127.0.0.1/1"};
        QVERIFY(notice->announce(ItemKind::Comment, first));
        ticks(clock, 70);
        QCOMPARE(notice->geometry(), QRect(874, 658, 150, 80));
        const RecentItem guest{"방명록", "http://127.0.0.1/g"};
        QVERIFY(!notice->announce(ItemKind::Guestbook, guest));
        QVERIFY(!notice->announce(ItemKind::Trackback, {"older", "http://127.0.0.1/t1"}));
        const RecentItem trackback{"감사합니다!", "http://127.0.0.1/t2"};
        QVERIFY(!notice->announce(ItemKind::Trackback, trackback));
        // The comment goes on as it was.
        QCOMPARE(notice->accessibleName(), NoticePopup::heading(ItemKind::Comment));
        QCOMPARE(notice->geometry(), QRect(874, 658, 150, 80));

        const auto slideToTheEnd = [&] {
            ticks(clock, 70);
            clock.advanceBy(1501);
            ticks(clock, 80);
        };
        slideToTheEnd();
        // The trackback with the same text, the newer of its kind, rises next, from the
        // 10-pixel strip.
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->accessibleName(), QStringLiteral("[새로운 트랙백 도착]"));
        QCOMPARE(notice->accessibleDescription(), QString::fromStdString(trackback.text));
        QCOMPARE(notice->geometry(), QRect(874, 728, 150, 10));
        slideToTheEnd();
        QCOMPARE(notice->accessibleName(), NoticePopup::heading(ItemKind::Guestbook));
        QCOMPARE(clickFor(*notice), guest);
        QVERIFY(!notice->isVisible());
        slideToTheEnd();
        QVERIFY(!notice->isVisible());

        // Long after, the same item once more is announced once more.
        clock.advanceBy(qint64(3600) * 1000);
        QVERIFY(notice->announce(ItemKind::Comment, first));
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->geometry(), QRect(874, 728, 150, 10));
        QCOMPARE(clickFor(*notice), first);
    }

    // What waits goes when its kind is attended to or its item leaves the list; before the
    // notice is prepared, announcements wait for it.
    void waitingAnnouncementsFollowTheModel()
    {
        NoticePopup notice(scene().model);
        notice.setWorkArea(WorkArea);
        scene().show(makeReading(1, makeItems({{"c", "http://127.0.0.1/c"}}),
                                 makeItems({{"t", "http://127.0.0.1/t"}}),
                                 makeItems({{"g", "http://127.0.0.1/g"}})),
                     {ItemKind::Comment, ItemKind::Trackback, ItemKind::Guestbook});
        QVERIFY(!notice.isVisible());
        notice.prepare();
        QCOMPARE(notice.accessibleDescription(), QStringLiteral("c"));
        QVERIFY(notice.isVisible());

        scene().model.clearNew(ItemKind::Trackback);
        scene().setList(ItemKind::Guestbook, {});
        // Nothing waited any more: the comment went, and nothing rose after it.
        QCOMPARE(clickFor(notice).text, std::string("c"));
        QVERIFY(!notice.isVisible());
    }

    void headingsAndPainting_data()
    {
        QTest::addColumn<ItemKind>("kind");
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QString>("picture");
        QTest::newRow("comment") << ItemKind::Comment << QStringLiteral("[새로운 댓글 도착]")
                                 << QStringLiteral("notice-comment");
        QTest::newRow("trackback") << ItemKind::Trackback << QStringLiteral("[새로운 트랙백 도착]")
                                   << QStringLiteral("notice-trackback");
        QTest::newRow("guestbook") << ItemKind::Guestbook << QStringLiteral("[새로운 방명록 도착]")
                                   << QStringLiteral("notice-guestbook");
    }
    void headingsAndPainting()
    {
        QFETCH(ItemKind, kind);
        QFETCH(QString, heading);
        QFETCH(QString, picture);
        QCOMPARE(NoticePopup::heading(kind), heading);

        AnimationClock clock;
        auto notice = makeNotice();
        notice->announce(kind, RecentItem{"body", "http://127.0.0.1/b"});
        ticks(clock, 70);
        QCOMPARE(pictureDifference(*notice, picture), QString());
    }

    // A text longer than the notice wraps within the margins and ends its last whole line
    // with "…"; no line is cut through.
    void longTextWrapsAndEndsWithAnEllipsis()
    {
        AnimationClock clock;
        auto notice = makeNotice();
        const std::string text =
            "댓글 본문이 아주 길어서 여러 줄로 나뉘어야 합니다 one two three four five six "
            "seven eight nine ten eleven twelve thirteen fourteen fifteen sixteen seventeen";
        notice->announce(ItemKind::Comment, RecentItem{text, "http://127.0.0.1/long"});
        ticks(clock, 30);
        // Laid out from the planned top: a partly risen notice shows the same top rows.
        QCOMPARE(pictureDifference(*notice, QStringLiteral("notice-long-rising-40")), QString());
        saveScreenshot(drawnImage(*notice), QStringLiteral("notice-mid-slide"));
        ticks(clock, 40);
        QCOMPARE(pictureDifference(*notice, QStringLiteral("notice-long")), QString());
        saveScreenshot(drawnImage(*notice), QStringLiteral("notice-full"));
        // Below the last whole line, up to the frame, nothing is drawn.
        const QFontMetrics metrics(WindowLook::makeFont(12));
        const int bodyTop = 12 + metrics.height() + 8;
        const int lines = (80 - bodyTop) / metrics.lineSpacing();
        const InkBox body = inkIn(drawnImage(*notice), QRect(1, bodyTop, 148, 79 - bodyTop));
        QVERIFY(!body.empty());
        QVERIFY2(body.bottom < bodyTop + lines * metrics.lineSpacing(),
                 qPrintable(QStringLiteral("ink down to %1 of %2 lines from %3")
                                .arg(body.bottom)
                                .arg(lines)
                                .arg(bodyTop)));
    }

    void hostileTextsAreCutBeforeTheyAreDrawn_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("1 MiB without spaces") << QString(1 << 20, QLatin1Char('W'));
        QTest::newRow("combining storm")
            << QStringLiteral("a") + QString(10000, QChar(0x0301)) + QStringLiteral("b");
        QTest::newRow("surrogates at the cut")
            << QString::fromUtf8(QByteArray(4000, 'x'))
                   .replace(QLatin1Char('x'), QStringLiteral("\U0001F600"));
    }

    void hostileTextsAreCutBeforeTheyAreDrawn()
    {
        QFETCH(QString, text);
        const QString shown = WindowLook::displayText(text);
        QCOMPARE(shown.size() <= WindowLook::MaxDisplayUnits, true);
        QVERIFY(shown.endsWith(QChar(0x2026)));
        QVERIFY(!shown.at(shown.size() - 2).isHighSurrogate());
        QVERIFY(text.startsWith(shown.chopped(1)));
        QCOMPARE(WindowLook::displayText(text.toStdString()), shown);
        // Short texts stay as they are.
        QCOMPARE(WindowLook::displayText(text.left(50)), text.left(50));

        // The notice draws, and tells assistive tools, the cut text: the same picture as for
        // the cut text itself, laid out once when the item arrives.
        AnimationClock clock;
        auto hostile = makeNotice();
        hostile->announce(ItemKind::Comment, RecentItem{text.toStdString(), "http://127.0.0.1/h"});
        auto cut = makeNotice();
        cut->announce(ItemKind::Comment, RecentItem{shown.toStdString(), "http://127.0.0.1/h"});
        ticks(clock, 70);
        QCOMPARE(hostile->accessibleDescription(), shown);
        QCOMPARE(drawnImage(*hostile), drawnImage(*cut));
        saveScreenshot(drawnImage(*hostile),
                       QStringLiteral("notice-hostile-%1")
                           .arg(QString::fromLatin1(QTest::currentDataTag())
                                    .replace(QLatin1Char(' '), QLatin1Char('-'))));
        QCOMPARE(clickFor(*hostile).text, text.toStdString()); // the item itself stays whole

        // So does the status strip's tooltip when a failure quotes a huge address.
        StatusStrip status(scene().model, scene().settings);
        scene().model.setPollStatus(QDateTime(), text);
        QVERIFY(status.pollStatusText().size() < WindowLook::MaxDisplayUnits + 40);
        QVERIFY(status.toolTip().size() < 4 * WindowLook::MaxDisplayUnits + 200);
    }

    void itemTextIsPlainText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("bold") << QStringLiteral("<b>x</b>");
        QTest::newRow("image") << QStringLiteral("<img src=http://127.0.0.1:1/x>");
    }
    void itemTextIsPlainText()
    {
        QFETCH(QString, text);
        AnimationClock clock;
        auto notice = makeNotice();
        notice->announce(ItemKind::Comment, RecentItem{text.toStdString(), "http://127.0.0.1/p"});
        ticks(clock, 70);
        if (QByteArray(QTest::currentDataTag()) == "bold")
            QCOMPARE(pictureDifference(*notice, QStringLiteral("notice-markup")), QString());
        const QImage img = drawnImage(*notice);
        const int lineHeight = QFontMetrics(WindowLook::makeFont(12)).height();
        const int bodyTop = 12 + lineHeight + 8;
        const InkBox body = inkIn(img, QRect(1, bodyTop, 148, 78 - bodyTop));

        // The same string drawn as plain text by hand gives the same ink.
        QImage expected(img.size(), QImage::Format_RGB32);
        expected.fill(Qt::white);
        {
            QPainter p(&expected);
            p.setFont(WindowLook::makeFont(12));
            p.setPen(Qt::black);
            p.drawText(QRect(QPoint(12, bodyTop), QPoint(137, 79)),
                       Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        }
        const InkBox want = inkIn(expected, QRect(1, bodyTop, 148, 78 - bodyTop));
        QVERIFY(!body.empty());
        QCOMPARE(body.left, want.left);
        QCOMPARE(body.right, want.right);
        QCOMPARE(body.bottom, want.bottom);
        // Markup would have shown "x" alone or an image: the literal text is much wider.
        QVERIFY(body.right - body.left >
                QFontMetrics(WindowLook::makeFont(12)).horizontalAdvance(QStringLiteral("xxx")));
    }

    void clickAsksForTheItemAndShowsWhatWaits()
    {
        AnimationClock clock;
        StatusStrip status(scene().model, scene().settings);
        NoticePopup *notice = status.notice();
        notice->setWorkArea(WorkArea);
        status.showAt(QRect(100, 100, 150, 23));
        QSignalSpy requests(&status, &StatusStrip::itemRequested);
        // Whoever opens the item clears its kind, as the controller does.
        connect(&status, &StatusStrip::itemRequested, this,
                [this](ItemKind kind) { scene().model.clearNew(kind); });
        scene().show(makeReading(5, makeItems({{"new comment", "http://127.0.0.1/c9"}}),
                                 makeItems({{"new trackback", "http://127.0.0.1/t9"}})),
                     {ItemKind::Comment, ItemKind::Trackback});
        QCOMPARE(notice->accessibleDescription(), QStringLiteral("new comment"));
        ticks(clock, 20); // still rising
        QCOMPARE(notice->geometry(), QRect(874, 708, 150, 30));

        QTest::mouseClick(notice, Qt::LeftButton, Qt::NoModifier, QPoint(70, 5));
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.at(0).at(0).value<ItemKind>(), ItemKind::Comment);
        QCOMPARE(requests.at(0).at(1).value<RecentItem>(),
                 (RecentItem{"new comment", "http://127.0.0.1/c9"}));
        QVERIFY(!scene().model.isNew(ItemKind::Comment));
        QVERIFY(scene().model.isNew(ItemKind::Trackback));
        // The trackback that waited rises at once, from the 10-pixel strip.
        QCOMPARE(notice->accessibleDescription(), QStringLiteral("new trackback"));
        QCOMPARE(notice->accessibleName(), NoticePopup::heading(ItemKind::Trackback));
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->geometry(), QRect(874, 728, 150, 10));
        QCOMPARE(drawnImage(status).pixel(95, 4), qRgb(255, 255, 255)); // R dark again
        QCOMPARE(drawnImage(status).pixel(109, 4), qRgb(171, 81, 91));  // T still lit

        QTest::mouseClick(notice, Qt::LeftButton, Qt::NoModifier, QPoint(70, 5));
        QCOMPARE(requests.count(), 2);
        QVERIFY(!scene().model.isNew(ItemKind::Trackback));
        QVERIFY(!notice->isVisible());
    }

    void neverTakesFocus()
    {
        auto notice = makeNotice();
        QVERIFY(notice->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(notice->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(notice->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(notice->testAttribute(Qt::WA_ShowWithoutActivating));
        notice->announce(ItemKind::Comment, RecentItem{"focus", "http://127.0.0.1/f"});
        QVERIFY(!notice->isActiveWindow());
    }
};

QTEST_MAIN(NoticePopupTest)
#include "tst_noticepopup.moc"
