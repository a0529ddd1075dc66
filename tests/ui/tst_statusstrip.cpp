#include "tests/support/testenv.h"
#include "tests/ui/uitestsupport.h"

#include "ui/noticepopup.h"
#include "ui/statusstrip.h"
#include "ui/windowlook.h"

#include <QTest>

#include <memory>

using namespace TestColours;

namespace {

// Columns in [x0, x1) of rows [y0, y1) that hold text ink.
QList<int> inkColumns(const QImage &image, int x0, int x1, int y0, int y1)
{
    QList<int> columns;
    for (int x = x0; x < x1; ++x) {
        for (int y = y0; y < y1; ++y) {
            if (isInk(image.pixel(x, y))) {
                columns.append(x);
                break;
            }
        }
    }
    return columns;
}

} // namespace

// The strip's picture, refresh and placement; mouse input is tst_statusinput's.
class StatusStripTest final : public WidgetTest
{
    Q_OBJECT

private:
private slots:

    // --- painting ---

    void frameAndConnectingState()
    {
        auto w = makeStrip();
        const QImage img = w->renderImage();
        QCOMPARE(img.size(), QSize(150, 23));

        // Outer frame: every border pixel.
        for (int x = 0; x < 150; ++x) {
            QCOMPARE(img.pixel(x, 0), Outer);
            QCOMPARE(img.pixel(x, 22), Outer);
        }
        for (int y = 0; y < 23; ++y) {
            QCOMPARE(img.pixel(0, y), Outer);
            QCOMPARE(img.pixel(149, y), Outer);
        }
        // Inner lines from l+3 to r-4 (drawSegment leaves out its end point).
        QCOMPARE(img.pixel(2, 2), White);
        QCOMPARE(img.pixel(3, 2), InnerTop);
        QCOMPARE(img.pixel(146, 2), InnerTop);
        QCOMPARE(img.pixel(147, 2), White);
        QCOMPARE(img.pixel(2, 21), White);
        QCOMPARE(img.pixel(3, 21), InnerBottom);
        QCOMPARE(img.pixel(146, 21), InnerBottom);
        QCOMPARE(img.pixel(147, 21), White);
        // Inner corners.
        QCOMPARE(img.pixel(1, 1), Corner);
        QCOMPARE(img.pixel(148, 1), Corner);
        QCOMPARE(img.pixel(1, 21), Corner);
        QCOMPARE(img.pixel(148, 21), Corner);
        QCOMPARE(img.pixel(2, 1), White);
        // Grip dots at x 4 and 146, rows 7, 10, 13, 16 only.
        for (int y = 3; y < 20; ++y) {
            const bool dot = y == 7 || y == 10 || y == 13 || y == 16;
            QCOMPARE(img.pixel(146, y), dot ? Outer : White);
            if (dot)
                QCOMPARE(img.pixel(4, y), Outer);
        }

        // No boxes while connecting: nothing lit, the X box area blank.
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 150; ++x)
                QVERIFY(img.pixel(x, y) != Lit);
        for (int y = 3; y <= 19; ++y)
            for (int x = 130; x <= 143; ++x)
                QCOMPARE(img.pixel(x, y), White);

        // The text is drawn left-aligned after two spaces, vertically centred.
        const QList<int> ink = inkColumns(img, 1, 149, 3, 20);
        QVERIFY(!ink.isEmpty());
        QVERIFY2(ink.first() > 4 && ink.first() < 16, qPrintable(QString::number(ink.first())));
        QVERIFY(ink.size() > 40); // Latin and Hangul glyphs, not a blank line
        int top = 23, bottom = 0;
        for (int y = 0; y < 23; ++y)
            for (int x = 5; x < 120; ++x)
                if (isInk(img.pixel(x, y))) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        QVERIFY2(qAbs((top + bottom) / 2 - 11) <= 2,
                 qPrintable(QStringLiteral("%1..%2").arg(top).arg(bottom)));

        saveScreenshot(img, QStringLiteral("status-connecting"));
    }

    void zeroCountAfterAReadingIsACount()
    {
        auto w = makeStrip();
        QVERIFY(w->isConnecting());
        // A failed poll is no reading.
        scene().model.setPollStatus({}, QStringLiteral("HTTP 503"));
        QVERIFY(w->isConnecting());
        const QImage connecting = w->renderImage();
        // The first good reading of the day may well say 0: counting from then on.
        scene().show(makeReading(0));
        scene().model.setPollStatus(QDateTime::currentDateTime(), QString());
        QVERIFY(!w->isConnecting());
        const QImage img = w->renderImage();
        saveScreenshot(img, QStringLiteral("status-counting-zero"));
        QVERIFY(img != connecting);
        const QImage emblem = QImage(QString::fromLatin1(StatusStrip::EmblemResource))
                                  .convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                QCOMPARE(img.pixel(7 + x, 3 + y), emblem.pixel(x, y));
        // "  0" after the emblem, and nothing more of the line.
        const QList<int> ink = inkColumns(img, 23, 89, 3, 20);
        QVERIFY(!ink.isEmpty());
        QVERIFY2(ink.first() >= 26 && ink.last() < 45,
                 qPrintable(QStringLiteral("%1..%2").arg(ink.first()).arg(ink.last())));
        // The four boxes are drawn: the letters R, T, G and X in black on white.
        for (const int left : {90, 104, 118, 132})
            QVERIFY2(!inkColumns(img, left + 1, left + 9, 4, 18).isEmpty(),
                     qPrintable(QString::number(left)));
        QCOMPARE(w->accessibleName(), QStringLiteral("오늘 방문자 0"));

        // A failed poll later keeps the count, in grey until the next good reading: the
        // reading was there, but it is no longer current.
        scene().model.setPollStatus(QDateTime::currentDateTime(), QStringLiteral("HTTP 503"));
        const QImage stale = w->renderImage();
        saveScreenshot(stale, QStringLiteral("status-counting-stale"));
        int grey = 0;
        for (int y = 3; y < 20; ++y) {
            for (int x = 23; x < 89; ++x) {
                const QRgb p = stale.pixel(x, y);
                QVERIFY2(!isInk(p), qPrintable(QStringLiteral("black ink at %1,%2").arg(x).arg(y)));
                grey += qRed(p) == qGreen(p) && qGreen(p) == qBlue(p) && qRed(p) < 200 ? 1 : 0;
            }
        }
        QVERIFY(grey > 5);
        // Only the count changes: the emblem, the frame and the boxes stay as they were.
        QCOMPARE(stale.copy(0, 0, 23, 23), img.copy(0, 0, 23, 23));
        QCOMPARE(stale.copy(89, 0, 61, 23), img.copy(89, 0, 61, 23));
        // The next good poll: black again.
        scene().readAgain();
        scene().model.setPollStatus(QDateTime::currentDateTime(), QString());
        QVERIFY(w->renderImage() == img);
    }

    void boxesAtWidth150()
    {
        scene().show(makeReading(1234, makeItems({{"c", "http://127.0.0.1/c"}}), {},
                                 makeItems({{"g", "http://127.0.0.1/g"}})),
                     {ItemKind::Comment, ItemKind::Guestbook});
        auto w = makeStrip();
        QCOMPARE(w->boxRect(StatusStrip::CommentsBox), QRect(90, 3, 10, 16));
        QCOMPARE(w->boxRect(StatusStrip::TrackbacksBox), QRect(104, 3, 10, 16));
        QCOMPARE(w->boxRect(StatusStrip::GuestbookBox), QRect(118, 3, 10, 16));
        QCOMPARE(w->boxRect(StatusStrip::CloseBox), QRect(132, 3, 10, 16));

        const QImage img = w->renderImage();
        saveScreenshot(img, QStringLiteral("status-counting-lit"));
        struct Expect
        {
            int left;
            bool lit;
        };
        for (const Expect box :
             {Expect{90, true}, Expect{104, false}, Expect{118, true}, Expect{132, false}}) {
            const QRgb fill = box.lit ? Lit : White;
            const int l = box.left, r = box.left + 10;
            // Fill corners and the outline one pixel beyond at right and bottom.
            QCOMPARE(img.pixel(l, 3), fill);
            QCOMPARE(img.pixel(r - 1, 3), fill);
            QCOMPARE(img.pixel(l, 18), fill);
            QCOMPARE(img.pixel(r - 1, 18), fill);
            for (int y = 3; y <= 19; ++y)
                QCOMPARE(img.pixel(r, y), fill);
            for (int x = l; x <= r; ++x)
                QCOMPARE(img.pixel(x, 19), fill);
            // Just outside: the white background, the inner top line above.
            QCOMPARE(img.pixel(l - 1, 10), White);
            QCOMPARE(img.pixel(r + 1, 10), White);
            QCOMPARE(img.pixel(l, 20), White);
            QCOMPARE(img.pixel(l, 2), InnerTop);
            // A letter inside: white on lit, black on unlit.
            bool letter = false;
            for (int y = 4; y < 18 && !letter; ++y)
                for (int x = l + 1; x < r - 1 && !letter; ++x) {
                    const QRgb p = img.pixel(x, y);
                    letter = box.lit ? qGreen(p) > 200 : isInk(p); // fill green is 81
                }
            QVERIFY2(letter, qPrintable(QString::number(box.left)));
        }

        // The emblem, pixel for pixel at (7, 3), and the count from x 23 after two spaces.
        QVERIFY(w->hasEmblem());
        const QImage emblem = QImage(QString::fromLatin1(StatusStrip::EmblemResource))
                                  .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(emblem.size(), QSize(16, 16));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                QCOMPARE(img.pixel(7 + x, 3 + y), emblem.pixel(x, y));
        QCOMPARE(emblem.pixel(0, 0), White);
        QVERIFY(qRed(emblem.pixel(8, 8)) > 200 && qBlue(emblem.pixel(8, 8)) < 80); // orange
        const QList<int> ink = inkColumns(img, 23, 89, 3, 20);
        QVERIFY(!ink.isEmpty());
        QVERIFY2(ink.first() >= 26, qPrintable(QString::number(ink.first())));

        // Without the emblem: "  Today 1234" from the left edge, no orange anywhere.
        w->setEmblem(QImage());
        const QImage plain = w->renderImage();
        const QList<int> plainInk = inkColumns(plain, 1, 89, 3, 20);
        QVERIFY(!plainInk.isEmpty());
        QVERIFY2(plainInk.first() < 16, qPrintable(QString::number(plainInk.first())));
        QVERIFY(plainInk.last() > ink.last()); // "Today " makes the line longer
        QCOMPARE(plain.pixel(15, 11) == emblem.pixel(8, 8), false);
    }

    // Run a second time by CTest with QT_SCALE_FACTOR=2: sizes stay logical, the
    // picture is drawn at the device pixel ratio.
    void hiDpiRendering()
    {
        scene().show(makeReading(1234, makeItems({{"c", "http://127.0.0.1/c"}})),
                     {ItemKind::Comment});
        auto w = makeStrip();
        const qreal ratio = w->devicePixelRatioF();
        if (ratio < 1.5)
            QSKIP("runs under QT_SCALE_FACTOR=2");
        QCOMPARE(w->size(), QSize(150, 23));
        QCOMPARE(w->boxRect(StatusStrip::CommentsBox), QRect(90, 3, 10, 16));
        const QImage img = w->renderImage();
        QCOMPARE(img.size(), QSize(300, 46));
        QCOMPARE(img.devicePixelRatio(), 2.0);
        QCOMPARE(img.pixel(0, 0), Outer);
        QCOMPARE(img.pixel(1, 1), Outer); // a one-pixel line is two device pixels wide
        QCOMPARE(img.pixel(2, 2), Corner);
        QCOMPARE(img.pixel(180, 6), Lit);
        QCOMPARE(img.pixel(201, 39), Lit); // the outline at (100, 19)
        QCOMPARE(img.pixel(203, 20), White);
        saveScreenshot(img, QStringLiteral("status-counting-lit-2x"));
    }

    void narrowWindowPushesBoxesLeft()
    {
        scene().show(makeReading(7));
        auto w = makeStrip(QRect(100, 100, 70, 23));
        QCOMPARE(w->boxRect(StatusStrip::CommentsBox), QRect(10, 3, 10, 16));
        QCOMPARE(w->boxRect(StatusStrip::CloseBox), QRect(52, 3, 10, 16));
        QCOMPARE(w->renderImage().size(), QSize(70, 23));
    }

    // --- transparency ---

    void transparencyAlpha_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("transparency");
        QTest::addColumn<int>("alpha");
        QTest::newRow("100 capped") << 100 << 95 << 12;
        QTest::newRow("95") << 95 << 95 << 12;
        QTest::newRow("50") << 50 << 50 << 127;
        QTest::newRow("10") << 10 << 10 << 229;
        QTest::newRow("0") << 0 << 0 << 255;
    }
    void transparencyAlpha()
    {
        QFETCH(int, percent);
        QFETCH(int, transparency);
        QFETCH(int, alpha);
        auto w = makeStrip();
        w->setTransparency(percent);
        QCOMPARE(w->transparency(), transparency);
        QCOMPARE(w->alpha(), alpha);
        QCOMPARE(qRound(w->windowOpacity() * 255), alpha);
    }

    // R lit and not clicked, a guestbook entry arrives: its notice rises as well, after the
    // comment's. Every arrival is announced once, whatever text an earlier one had.
    void everyArrivalIsAnnouncedOnce()
    {
        auto w = makeStrip();
        NoticePopup *notice = w->notice();
        notice->setWorkArea(QRect(0, 0, 1024, 738));
        scene().show(makeReading(3, makeItems({{"감사합니다!", "http://127.0.0.1/c1"}})));
        scene().arrive(ItemKind::Comment, {"감사합니다!", "http://127.0.0.1/c2"});
        QCOMPARE(notice->kind(), ItemKind::Comment);
        QCOMPARE(notice->link(), std::string("http://127.0.0.1/c2"));
        const auto slideToTheEnd = [notice] {
            while (notice->isAnimating() && notice->phase() != NoticePopup::Holding)
                notice->tick();
            notice->setClock([] { return qint64(1) << 40; }); // the hold is over
            while (notice->isAnimating())
                notice->tick();
            notice->setClock({});
        };
        slideToTheEnd();
        QVERIFY(!notice->isVisible());

        // The same reading again announces nothing.
        scene().readAgain();
        QVERIFY(!notice->isVisible());

        scene().arrive(ItemKind::Guestbook, {"감사합니다!", "http://127.0.0.1/g1"});
        QVERIFY(scene().model.isNew(ItemKind::Comment));
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->kind(), ItemKind::Guestbook);
        QCOMPARE(notice->link(), std::string("http://127.0.0.1/g1"));
        QVERIFY(w->accessibleDescription().contains(QStringLiteral("새 댓글")));
        QVERIFY(w->accessibleDescription().contains(QStringLiteral("새 방명록")));
        saveScreenshot(w->renderImage(), QStringLiteral("status-two-kinds-lit"));
        slideToTheEnd();
        scene().readAgain();
        QVERIFY(!notice->isVisible());
    }

    // Mark all read and a pause, as the strip shows them: the boxes go dark and the notice
    // goes at once; a pause draws its mark, says until when in the tooltip, and keeps what
    // arrives meanwhile on the boxes only.
    void markAllReadAndAPause()
    {
        auto w = makeStrip();
        NoticePopup *notice = w->notice();
        notice->setWorkArea(QRect(0, 0, 1024, 738));
        scene().show(makeReading(3, makeItems({{"c1", "http://127.0.0.1/c1"}})));
        notice->setClock([] { return qint64(0); }); // the first notice holds
        scene().arrive(ItemKind::Comment, {"c2", "http://127.0.0.1/c2"});
        scene().arrive(ItemKind::Guestbook, {"g1", "http://127.0.0.1/g1"});
        QVERIFY(notice->isVisible());
        QVERIFY(notice->waiting(ItemKind::Guestbook));
        const QRect mark = w->pauseMarkRect();
        QCOMPARE(w->renderImage().pixel(mark.topLeft()), White);

        scene().model.markAllRead();
        QVERIFY(!notice->isVisible());
        QVERIFY(!notice->waiting(ItemKind::Guestbook));
        QImage image = w->renderImage();
        for (const StatusStrip::Box box : {StatusStrip::CommentsBox, StatusStrip::GuestbookBox})
            QCOMPARE(image.pixel(w->boxRect(box).topLeft() + QPoint(1, 1)), White);

        const QDateTime until(QDate(2026, 3, 4), QTime(18, 30));
        scene().model.pauseNotices(until);
        image = w->renderImage();
        QCOMPARE(image.pixel(mark.topLeft()), Outer);
        QCOMPARE(image.pixel(mark.topLeft() + QPoint(4, mark.height() - 1)), Outer);
        QCOMPARE(image.pixel(mark.topLeft() + QPoint(2, 0)), White);
        QVERIFY(w->pollStatusText().endsWith(QStringLiteral("알림 일시 중지: 03-04 18:30까지")));
        QVERIFY(w->toolTip().contains(QStringLiteral("알림 일시 중지")));
        scene().arrive(ItemKind::Trackback, {"t1", "http://127.0.0.1/t1"});
        QVERIFY(!notice->isVisible());
        QCOMPARE(
            w->renderImage().pixel(w->boxRect(StatusStrip::TrackbacksBox).topLeft() + QPoint(1, 1)),
            Lit);
        saveScreenshot(w->renderImage(), QStringLiteral("status-paused"));

        scene().model.pauseNotices({});
        QCOMPARE(w->renderImage().pixel(mark.topLeft()), White);
        QVERIFY(!w->pollStatusText().contains(QStringLiteral("일시 중지")));
        scene().arrive(ItemKind::Trackback, {"t2", "http://127.0.0.1/t2"});
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->text(), std::string("t2"));
    }

    // --- placement, tooltip, accessibility ---

    void placementKeepsWindowReachable()
    {
        const QList<QRect> screens{QRect(0, 0, 1024, 768), QRect(1024, 0, 800, 600)};
        const QRect primary(0, 0, 1024, 768);
        QCOMPARE(StatusStrip::visiblePlacement(QRect(300, 200, 150, 23), screens, primary),
                 QRect(300, 200, 150, 23));
        QCOMPARE(StatusStrip::visiblePlacement(QRect(1500, 100, 150, 23), screens, primary),
                 QRect(1500, 100, 150, 23));
        QCOMPARE(StatusStrip::visiblePlacement(QRect(-100, 700, 150, 23), screens, primary),
                 QRect(-100, 700, 150, 23)); // partly visible
        QCOMPARE(StatusStrip::visiblePlacement(QRect(1900, 100, 180, 23), screens, primary),
                 QRect(100, 100, 180, 23));
        QCOMPARE(StatusStrip::visiblePlacement(QRect(1500, 650, 150, 23), screens, primary),
                 QRect(100, 100, 150, 23)); // below the smaller second screen
        QCOMPARE(StatusStrip::visiblePlacement(QRect(-150, 10, 150, 23), screens, primary),
                 QRect(100, 100, 150, 23)); // touching the edge from outside
        QCOMPARE(StatusStrip::visiblePlacement(QRect(300, 200, 0, 23), screens, primary),
                 QRect(300, 200, 150, 23));
        QCOMPARE(StatusStrip::visiblePlacement(QRect(5000, 5000, 150, 23), screens,
                                               QRect(1024, 0, 800, 600)),
                 QRect(1124, 100, 150, 23));
        // A size no work area can hold is a damaged file, not a wish: the default size.
        const QSize largest(1024, 740);
        QCOMPARE(
            StatusStrip::visiblePlacement(QRect(100, 100, 30000, 30000), screens, primary, largest),
            QRect(100, 100, 150, 23));
        QCOMPARE(
            StatusStrip::visiblePlacement(QRect(100, 100, 1025, 23), screens, primary, largest),
            QRect(100, 100, 150, 23));
        QCOMPARE(
            StatusStrip::visiblePlacement(QRect(100, 100, 1024, 740), screens, primary, largest),
            QRect(100, 100, 1024, 740));

        auto w = makeStrip(QRect(50000, 40000, 170, 23));
        const QPoint origin = QGuiApplication::primaryScreen()->geometry().topLeft();
        QCOMPARE(w->geometry(), QRect(origin + QPoint(100, 100), QSize(170, 23)));
    }

    void tooltipTellsPollStatus()
    {
        auto w = makeStrip();
        QVERIFY(w->pollStatusText().contains(QStringLiteral("아직")));
        QVERIFY(w->testAttribute(Qt::WA_AlwaysShowToolTips)); // shown while inactive
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        scene().model.setPollStatus(when, QString());
        QCOMPARE(w->pollStatusText(), QStringLiteral("마지막 읽기: 2026-03-04 05:06:07"));
        scene().model.setPollStatus(when, QStringLiteral("HTTP 500 <b>down</b>"));
        QVERIFY(w->pollStatusText().endsWith(QStringLiteral("마지막 실패: HTTP 500 <b>down</b>")));
        // Shown literally, never as markup.
        QVERIFY(w->toolTip().contains(QStringLiteral("&lt;b&gt;down&lt;/b&gt;")));
        QVERIFY(!w->toolTip().contains(QStringLiteral("<b>")));
    }

    void accessibleTextFollowsTheModel()
    {
        auto w = makeStrip();
        QCOMPARE(w->accessibleName(), QStringLiteral("Admin 접속 중..."));
        QCOMPARE(w->accessibleDescription(), QStringLiteral("새 항목 없음"));
        scene().show(makeReading(42, {}, makeItems({{"t", "http://127.0.0.1/t"}})),
                     {ItemKind::Trackback});
        QCOMPARE(w->accessibleName(), QStringLiteral("오늘 방문자 42"));
        QCOMPARE(w->accessibleDescription(), QStringLiteral("새 트랙백"));
    }
};

QTEST_MAIN(StatusStripTest)
#include "tst_statusstrip.moc"