#include "tests/support/animationclock.h"
#include "tests/support/testenv.h"
#include "tests/ui/uitestsupport.h"

#include "ui/noticepopup.h"
#include "ui/statusstrip.h"
#include "ui/windowlook.h"

#include <QTest>

#include <memory>

// The strip's picture, refresh and placement; mouse input is tst_statusinput's.
class StatusStripTest final : public WidgetTest
{
    Q_OBJECT

private:
private slots:

    // --- painting ---

    // Each state draws the picture the strip drew before its painting moved into paintEvent.
    void connectingState()
    {
        auto w = makeStrip();
        QVERIFY(w->isConnecting());
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-connecting")), QString());
        saveScreenshot(drawnImage(*w), QStringLiteral("status-connecting"));
    }

    void zeroCountAfterAReadingIsACount()
    {
        auto w = makeStrip();
        QVERIFY(w->isConnecting());
        // A failed poll is no reading.
        scene().model.setPollStatus({}, QStringLiteral("HTTP 503"));
        QVERIFY(w->isConnecting());
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-connecting")), QString());
        // The first good reading of the day may well say 0: counting from then on.
        scene().show(makeReading(0));
        scene().model.setPollStatus(QDateTime::currentDateTime(), QString());
        QVERIFY(!w->isConnecting());
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-count-zero")), QString());
        saveScreenshot(drawnImage(*w), QStringLiteral("status-counting-zero"));
        QCOMPARE(w->accessibleName(), QStringLiteral("오늘 방문자 0"));

        // A failed poll later keeps the count, in grey until the next good reading: the
        // reading was there, but it is no longer current.
        scene().model.setPollStatus(QDateTime::currentDateTime(), QStringLiteral("HTTP 503"));
        QVERIFY(w->isStale());
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-count-zero-stale")), QString());
        saveScreenshot(drawnImage(*w), QStringLiteral("status-counting-stale"));
        // The next good poll: black again.
        scene().readAgain();
        scene().model.setPollStatus(QDateTime::currentDateTime(), QString());
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-count-zero")), QString());
    }

    void boxesLightForTheirKinds_data()
    {
        QTest::addColumn<QList<ItemKind>>("lit");
        QTest::addColumn<QString>("picture");
        QTest::newRow("none") << QList<ItemKind>{} << QStringLiteral("strip-none-lit");
        QTest::newRow("comments") << QList<ItemKind>{ItemKind::Comment}
                                  << QStringLiteral("strip-comment-lit");
        QTest::newRow("trackbacks")
            << QList<ItemKind>{ItemKind::Trackback} << QStringLiteral("strip-trackback-lit");
        QTest::newRow("guestbook")
            << QList<ItemKind>{ItemKind::Guestbook} << QStringLiteral("strip-guestbook-lit");
        QTest::newRow("all") << QList<ItemKind>{ItemKind::Comment, ItemKind::Trackback,
                                                ItemKind::Guestbook}
                             << QStringLiteral("strip-all-lit");
    }
    void boxesLightForTheirKinds()
    {
        QFETCH(QList<ItemKind>, lit);
        QFETCH(QString, picture);
        const DashboardReading reading = makeReading(1234, makeItems({{"c", "http://127.0.0.1/c"}}),
                                                     makeItems({{"t", "http://127.0.0.1/t"}}),
                                                     makeItems({{"g", "http://127.0.0.1/g"}}));
        WidgetScene &s = scene();
        switch (lit.size()) {
        case 0:
            s.show(reading);
            break;
        case 1:
            s.show(reading, {lit.at(0)});
            break;
        default:
            s.show(reading, {ItemKind::Comment, ItemKind::Trackback, ItemKind::Guestbook});
            break;
        }
        auto w = makeStrip();
        QCOMPARE(pictureDifference(*w, picture), QString());
    }

    // The emblem, then the count; grey while stale; without the emblem "  Today 1234" from
    // the left edge.
    void countWithAndWithoutTheEmblem()
    {
        scene().show(makeReading(1234, makeItems({{"c", "http://127.0.0.1/c"}}),
                                 makeItems({{"t", "http://127.0.0.1/t"}}),
                                 makeItems({{"g", "http://127.0.0.1/g"}})),
                     {ItemKind::Comment, ItemKind::Guestbook});
        auto w = makeStrip();
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-comment-guestbook-lit")), QString());
        saveScreenshot(drawnImage(*w), QStringLiteral("status-counting-lit"));
        scene().model.setPollStatus(QDateTime::currentDateTime(), QStringLiteral("HTTP 503"));
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-comment-guestbook-lit-stale")),
                 QString());
        scene().model.setPollStatus(QDateTime::currentDateTime(), QString());
        w->setEmblem(QImage());
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-without-emblem")), QString());
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
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-comment-lit-2x")), QString());
        saveScreenshot(drawnImage(*w), QStringLiteral("status-counting-lit-2x"));
    }

    // The boxes keep to the right edge at any width.
    void boxesFollowTheRightEdge()
    {
        scene().show(makeReading(7));
        auto w = makeStrip(QRect(100, 100, 70, 23));
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-narrow")), QString());
        w->resize(180, 23);
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-wide")), QString());
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
        AnimationClock clock;
        auto w = makeStrip();
        NoticePopup *notice = w->notice();
        notice->setWorkArea(QRect(0, 0, 1024, 738));
        scene().show(makeReading(3, makeItems({{"감사합니다!", "http://127.0.0.1/c1"}})));
        scene().arrive(ItemKind::Comment, {"감사합니다!", "http://127.0.0.1/c2"});
        QCOMPARE(notice->accessibleName(), NoticePopup::heading(ItemKind::Comment));
        const auto slideToTheEnd = [&clock] { clock.advanceBy(1400 + 1501 + 1600); };
        slideToTheEnd();
        QVERIFY(!notice->isVisible());

        // The same reading again announces nothing.
        scene().readAgain();
        QVERIFY(!notice->isVisible());

        scene().arrive(ItemKind::Guestbook, {"감사합니다!", "http://127.0.0.1/g1"});
        QVERIFY(scene().model.isNew(ItemKind::Comment));
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->accessibleName(), NoticePopup::heading(ItemKind::Guestbook));
        QVERIFY(w->accessibleDescription().contains(QStringLiteral("새 댓글")));
        QVERIFY(w->accessibleDescription().contains(QStringLiteral("새 방명록")));
        saveScreenshot(drawnImage(*w), QStringLiteral("status-two-kinds-lit"));
        slideToTheEnd();
        scene().readAgain();
        QVERIFY(!notice->isVisible());
    }

    // Mark all read and a pause, as the strip shows them: the boxes go dark and the notice
    // goes at once; a pause draws its mark, says until when in the tooltip, and keeps what
    // arrives meanwhile on the boxes only.
    void markAllReadAndAPause()
    {
        AnimationClock clock; // the first notice holds: its time stands still
        auto w = makeStrip();
        NoticePopup *notice = w->notice();
        notice->setWorkArea(QRect(0, 0, 1024, 738));
        scene().show(makeReading(3, makeItems({{"c1", "http://127.0.0.1/c1"}})));
        scene().arrive(ItemKind::Comment, {"c2", "http://127.0.0.1/c2"});
        scene().arrive(ItemKind::Guestbook, {"g1", "http://127.0.0.1/g1"});
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->accessibleDescription(), QStringLiteral("c2"));
        const QImage beforePause = drawnImage(*w);

        scene().model.markAllRead();
        QVERIFY(!notice->isVisible());
        // The guestbook entry that waited went too: nothing rises later.
        clock.advanceBy(10000);
        QVERIFY(!notice->isVisible());
        const QImage allRead = drawnImage(*w);
        QVERIFY(allRead != beforePause);

        const QDateTime until(QDate(2026, 3, 4), QTime(18, 30));
        scene().model.pauseNotices(until);
        QVERIFY(w->pollStatusText().endsWith(QStringLiteral("알림 일시 중지: 03-04 18:30까지")));
        QVERIFY(w->toolTip().contains(QStringLiteral("알림 일시 중지")));
        scene().arrive(ItemKind::Trackback, {"t1", "http://127.0.0.1/t1"});
        QVERIFY(!notice->isVisible());
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-paused-trackback-lit")), QString());

        scene().model.pauseNotices({});
        scene().model.markAllRead();
        QCOMPARE(drawnImage(*w), allRead);
        QVERIFY(!w->pollStatusText().contains(QStringLiteral("일시 중지")));
        scene().arrive(ItemKind::Trackback, {"t2", "http://127.0.0.1/t2"});
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->accessibleDescription(), QStringLiteral("t2"));
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