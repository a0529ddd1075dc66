#include "settings.h"
#include "testenv.h"
#include "tinfo.h"
#include "uitestsupport.h"

#include "ui/noticewindow.h"
#include "ui/resultwindow.h"
#include "ui/statuswindow.h"
#include "ui/windowlook.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

namespace {

const QRgb Outer = qRgb(91, 116, 162);
const QRgb InnerTop = qRgb(205, 223, 244);
const QRgb InnerBottom = qRgb(217, 234, 244);
const QRgb Corner = qRgb(159, 173, 200);
const QRgb Lit = qRgb(171, 81, 91);
const QRgb White = qRgb(255, 255, 255);

int readDword(const char *name)
{
    int value = -12345;
    ReadSettingDword(-12345, name, value);
    return value;
}

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

class StatusWindowTest final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempConfigHome> m_processConfig;
    std::unique_ptr<COrmixWnd> makeWindow(const QRect &rect = QRect(100, 100, 150, 23))
    {
        auto window = std::make_unique<COrmixWnd>();
        window->Create(rect);
        return window;
    }
    QPoint globalOf(const COrmixWnd &w, QPoint local) { return w.geometry().topLeft() + local; }
    void press(COrmixWnd &w, QPoint local, Qt::MouseButton button = Qt::LeftButton)
    {
        sendMouse(&w, QEvent::MouseButtonPress, local, globalOf(w, local), button, button);
    }
    void release(COrmixWnd &w, QPoint local, Qt::MouseButton button = Qt::LeftButton)
    {
        sendMouse(&w, QEvent::MouseButtonRelease, local, globalOf(w, local), button, Qt::NoButton);
    }
    void hover(COrmixWnd &w, QPoint local)
    {
        sendMouse(&w, QEvent::MouseMove, local, globalOf(w, local), Qt::NoButton, Qt::NoButton);
    }

private slots:
    void initTestCase()
    {
        WindowLook::InstallKoreanFontSubstitution();
        // Whatever a case writes outside its own TempConfigHome stays in a throwaway folder.
        m_processConfig = std::make_unique<TempConfigHome>();
    }
    void cleanupTestCase() { m_processConfig.reset(); }
    void init() { resetStore(); }

    // --- painting ---

    void frameAndConnectingState()
    {
        TempConfigHome config;
        GetTInfo()->SetNewComment(true); // even flagged, no box is drawn while connecting
        auto w = makeWindow();
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
        // Inner lines from l+3 to r-4 (LineTo leaves out its end point).
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

    void boxesAtWidth150()
    {
        TempConfigHome config;
        lTInfo *info = GetTInfo();
        info->SetTodayCount(1234);
        info->SetNewComment(true);
        info->SetNewGuestbook(true);
        auto w = makeWindow();
        QCOMPARE(w->boxRect(COrmixWnd::CommentsBox), QRect(90, 3, 10, 16));
        QCOMPARE(w->boxRect(COrmixWnd::TrackbacksBox), QRect(104, 3, 10, 16));
        QCOMPARE(w->boxRect(COrmixWnd::GuestbookBox), QRect(118, 3, 10, 16));
        QCOMPARE(w->boxRect(COrmixWnd::CloseBox), QRect(132, 3, 10, 16));

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
        const QImage emblem = QImage(QString::fromLatin1(COrmixWnd::EmblemResource))
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
        TempConfigHome config;
        GetTInfo()->SetTodayCount(1234);
        GetTInfo()->SetNewComment(true);
        auto w = makeWindow();
        const qreal ratio = w->devicePixelRatioF();
        if (ratio < 1.5)
            QSKIP("runs under QT_SCALE_FACTOR=2");
        QCOMPARE(w->size(), QSize(150, 23));
        QCOMPARE(w->boxRect(COrmixWnd::CommentsBox), QRect(90, 3, 10, 16));
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
        TempConfigHome config;
        GetTInfo()->SetTodayCount(7);
        auto w = makeWindow(QRect(100, 100, 70, 23));
        QCOMPARE(w->boxRect(COrmixWnd::CommentsBox), QRect(10, 3, 10, 16));
        QCOMPARE(w->boxRect(COrmixWnd::CloseBox), QRect(52, 3, 10, 16));
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
        TempConfigHome config;
        auto w = makeWindow();
        w->SetTransparency(percent);
        QCOMPARE(w->transparency(), transparency);
        QCOMPARE(w->alpha(), alpha);
        QCOMPARE(qRound(w->windowOpacity() * 255), alpha);
    }

    void hoverMakesOpaqueLeaveRestores()
    {
        TempConfigHome config;
        QVERIFY(WriteSettingDword("Transparency", 30));
        auto w = makeWindow();
        w->SetTransparency(30);
        hover(*w, {50, 10});
        QCOMPARE(w->transparency(), 0);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->transparency(), 30);

        // While the last poll brought something new, leaving keeps it opaque.
        GetTInfo()->SetAnyNew(true);
        hover(*w, {50, 10});
        QCOMPARE(w->transparency(), 0);
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->transparency(), 0);

        // The next refresh after a quiet poll goes back to the stored level even with the
        // mouse resting on the window; the next move makes it opaque again.
        GetTInfo()->SetAnyNew(false);
        w->Refresh();
        QCOMPARE(w->transparency(), 30);
        hover(*w, {51, 10});
        QCOMPARE(w->transparency(), 0);

        // A refresh after a poll with news makes it opaque.
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->transparency(), 30);
        GetTInfo()->SetAnyNew(true);
        w->Refresh();
        QCOMPARE(w->transparency(), 0);
        QCOMPARE(w->alpha(), 255);
    }

    void hoverWithoutStoredLevelStaysOpaque()
    {
        TempConfigHome config; // no "Transparency" stored
        auto w = makeWindow();
        w->SetTransparency(10);
        hover(*w, {50, 10});
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->transparency(), 0);
    }

    // --- refresh and announcements ---

    void refreshAnnouncesFirstFlaggedKindOnly()
    {
        TempConfigHome config;
        lTInfo *info = GetTInfo();
        setListQuietly(0, makeItems({{"comment one", "http://127.0.0.1/c1"}}));
        setListQuietly(1, makeItems({{"trackback one", "http://127.0.0.1/t1"}}));
        setListQuietly(2, makeItems({{"guest one", "http://127.0.0.1/g1"}}));
        info->SetNewTrackback(true);
        info->SetNewGuestbook(true);
        auto w = makeWindow();
        CNoticeWnd *notice = w->noticeWindow();
        QCOMPARE(notice->text(), std::string("trackback one"));
        QCOMPARE(notice->link(), std::string("http://127.0.0.1/t1"));
        QCOMPARE(notice->kind(), 1);
        QVERIFY(notice->isVisible());

        info->SetNewComment(true);
        w->Refresh();
        QCOMPARE(notice->text(), std::string("comment one"));
        QCOMPARE(notice->kind(), 0);
        QVERIFY(w->accessibleDescription().contains(QStringLiteral("새 댓글")));
        QVERIFY(w->accessibleDescription().contains(QStringLiteral("새 방명록")));
        QVERIFY(w->accessibleDescription().contains(QStringLiteral("새 트랙백")));
    }

    void emptyFlaggedListBlocksOthers()
    {
        TempConfigHome config;
        lTInfo *info = GetTInfo();
        setListQuietly(1, makeItems({{"trackback one", "http://127.0.0.1/t1"}}));
        info->SetNewComment(true); // flagged, but no comment to show
        info->SetNewTrackback(true);
        auto w = makeWindow();
        CNoticeWnd *notice = w->noticeWindow();
        QVERIFY(!notice->isVisible());
        QCOMPARE(notice->text(), std::string());

        info->SetNewComment(false);
        w->Refresh();
        QCOMPARE(notice->text(), std::string("trackback one"));
    }

    void sameTextNotAnnouncedTwice()
    {
        TempConfigHome config;
        lTInfo *info = GetTInfo();
        setListQuietly(0, makeItems({{"same", "http://127.0.0.1/c1"}}));
        info->SetNewComment(true);
        auto w = makeWindow();
        CNoticeWnd *notice = w->noticeWindow();
        for (int i = 0; i < 5; ++i)
            notice->tick();
        const QRect planned = notice->plannedRect();
        w->Refresh();
        QCOMPARE(notice->plannedRect(), planned); // not restarted

        // The same text under another kind is not announced either.
        info->SetNewComment(false);
        setListQuietly(1, makeItems({{"same", "http://127.0.0.1/t1"}}));
        info->SetNewTrackback(true);
        w->Refresh();
        QCOMPARE(notice->kind(), 0);
        QCOMPARE(notice->plannedRect(), planned);
    }

    void refreshBeforeCreateDoesNothing()
    {
        TempConfigHome config;
        setListQuietly(0, makeItems({{"c", "http://127.0.0.1/c"}}));
        GetTInfo()->SetNewComment(true);
        COrmixWnd w;
        w.Refresh();
        QVERIFY(!w.IsCreated());
        QCOMPARE(w.noticeWindow()->text(), std::string());
        QVERIFY(!w.isVisible());
    }

    // --- clicks ---

    void litBoxOpensNewestLinkAndUnlights()
    {
        TempConfigHome config;
        FakeBrowser browser;
        lTInfo *info = GetTInfo();
        info->SetTodayCount(3);
        setListQuietly(
            0, makeItems({{"newest", "http://127.0.0.1/c2"}, {"older", "http://127.0.0.1/c1"}}));
        info->SetNewComment(true);
        auto w = makeWindow();
        QCOMPARE(w->renderImage().pixel(95, 4), Lit);

        press(*w, {95, 10});
        release(*w, {95, 10});
        QVERIFY(browser.waitForLaunches(1));
        QCOMPARE(browser.launches(), QStringList{QStringLiteral("http://127.0.0.1/c2")});
        QVERIFY(!info->IsNewComment());
        QVERIFY(!w->resultWindow()->isVisible());
        QCOMPARE(w->renderImage().pixel(95, 4), White);
        QVERIFY(!w->isDragging());
    }

    void litBoxWithEmptyListOpensNothing()
    {
        TempConfigHome config;
        FakeBrowser browser;
        GetTInfo()->SetNewTrackback(true);
        auto w = makeWindow();
        press(*w, {109, 10});
        QVERIFY(!GetTInfo()->IsNewTrackback());
        QVERIFY(!w->resultWindow()->isVisible());
        QTest::qWait(200);
        QVERIFY(browser.launches().isEmpty());
    }

    void unlitBoxShowsListUnderStrip()
    {
        TempConfigHome config;
        FakeBrowser browser;
        setListQuietly(1,
                       makeItems({{"tb A", "http://127.0.0.1/a"}, {"tb B", "http://127.0.0.1/b"}}));
        auto w = makeWindow(QRect(200, 300, 150, 23)); // count 0: boxes invisible, still live
        press(*w, {109, 10});
        release(*w, {109, 10});
        CResultWnd *list = w->resultWindow();
        QVERIFY(list->isVisible());
        QCOMPARE(list->headerText(), QStringLiteral("최근 트랙백"));
        QCOMPARE(list->geometry(), QRect(309, 323, 170, 150));
        QCOMPARE(list->list()->topLevelItemCount(), 2);
        list->hide();

        // An empty kind shows nothing.
        press(*w, {123, 10});
        QVERIFY(!list->isVisible());
        QTest::qWait(100);
        QVERIFY(browser.launches().isEmpty());
    }

    void closeBoxAndExitCommandRequestClose()
    {
        TempConfigHome config;
        auto w = makeWindow();
        QSignalSpy closeSpy(w.get(), &COrmixWnd::closeRequested);
        QSignalSpy settingsSpy(w.get(), &COrmixWnd::settingsRequested);
        press(*w, {137, 10}); // the X box, not drawn while connecting
        release(*w, {137, 10});
        QCOMPARE(closeSpy.count(), 1);
        QVERIFY(!w->isDragging());
        w->runCommand(COrmixWnd::CommandExit);
        QCOMPARE(closeSpy.count(), 2);
        w->runCommand(COrmixWnd::CommandSettings);
        QCOMPARE(settingsSpy.count(), 1);
        w->runCommand(COrmixWnd::CommandNone);
        w->runCommand(99);
        QCOMPARE(closeSpy.count(), 2);
        QCOMPARE(settingsSpy.count(), 1);
    }

    void contextMenuRowsAndCommands()
    {
        TempConfigHome config;
        FakeBrowser browser;
        auto w = makeWindow();
        const std::unique_ptr<QMenu> menu(w->buildContextMenu());
        const QList<QAction *> actions = menu->actions();
        QCOMPARE(actions.size(), 5);
        const QStringList texts{QStringLiteral("내 블로그 가기"), QStringLiteral("기타 설정"),
                                QString(), QStringLiteral("종료"),
                                QStringLiteral("프로그램 업데이트 확인")};
        const QList<int> ids{10, 20, 0, 30, 40};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(actions[i]->isSeparator(), i == 2);
            QCOMPARE(actions[i]->text(), texts[i]);
            if (i != 2)
                QCOMPARE(actions[i]->data().toInt(), ids[i]);
        }

        w->runCommand(COrmixWnd::CommandOpenBlog);
        w->runCommand(COrmixWnd::CommandCheckUpdate);
        QVERIFY(browser.waitForLaunches(2));
        QStringList launched = browser.launches();
        launched.sort();
        QStringList expected{QStringLiteral("http://127.0.0.1/blog"),
                             QStringLiteral(ORMIX_UPDATE_URL)};
        expected.sort();
        QCOMPARE(launched, expected);
    }

    void rightReleaseRunsChosenRow()
    {
        TempConfigHome config;
        auto w = makeWindow();
        QSignalSpy settingsSpy(w.get(), &COrmixWnd::settingsRequested);
        QStringList seen;
        QTimer::singleShot(100, this, [&seen] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (const QAction *a : menu->actions())
                seen << a->text();
            menu->setActiveAction(menu->actions().at(1));
            QTest::keyClick(menu, Qt::Key_Return);
        });
        press(*w, {50, 10}, Qt::RightButton);
        release(*w, {50, 10}, Qt::RightButton);
        QCOMPARE(seen.size(), 5);
        QCOMPARE(seen.at(1), QStringLiteral("기타 설정"));
        QCOMPARE(settingsSpy.count(), 1);
        QVERIFY(!w->isDragging()); // the right button never starts a drag
    }

    // --- drag, resize, pointer ---

    void dragMovesAndSaves()
    {
        TempConfigHome config;
        auto w = makeWindow(QRect(200, 200, 150, 23));
        QStringList written;
        w->setSettingWriter([&written](const std::string &name, std::uint32_t value) {
            written << QString::fromStdString(name);
            return WriteSettingDword(name, value);
        });
        press(*w, {50, 10});
        QVERIFY(w->isDragging());
        QCOMPARE(w->pointerMode(), int(COrmixWnd::PointerMove));
        QCOMPARE(w->cursor().shape(), Qt::SizeAllCursor);
        sendMouse(w.get(), QEvent::MouseMove, {50, 10}, {270, 195}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w->geometry(), QRect(220, 185, 150, 23));
        sendMouse(w.get(), QEvent::MouseMove, {50, 10}, {265, 196}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w->geometry(), QRect(215, 186, 150, 23));
        QCOMPARE(readDword("LeftPos"), -12345); // nothing saved before the release
        release(*w, {50, 10});
        QVERIFY(!w->isDragging());
        QCOMPARE(w->pointerMode(), int(COrmixWnd::PointerNormal));
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(written, (QStringList{QStringLiteral("LeftPos"), QStringLiteral("TopPos"),
                                       QStringLiteral("Width"), QStringLiteral("Height")}));
        QCOMPARE(readDword("LeftPos"), 215);
        QCOMPARE(readDword("TopPos"), 186);
        QCOMPARE(readDword("Width"), 150);
        QCOMPARE(readDword("Height"), 23);
    }

    void rightEdgeDragChangesOnlyWidth()
    {
        TempConfigHome config;
        auto w = makeWindow(QRect(200, 200, 150, 23));
        press(*w, {147, 10}); // 3 rightmost columns
        QCOMPARE(w->pointerMode(), int(COrmixWnd::PointerResizeWidth));
        QCOMPARE(w->cursor().shape(), Qt::SizeHorCursor);
        sendMouse(w.get(), QEvent::MouseMove, {147, 10}, {377, 240}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w->geometry(), QRect(200, 200, 180, 23));
        QCOMPARE(w->boxRect(COrmixWnd::CloseBox), QRect(162, 3, 10, 16));
        release(*w, {177, 10});
        QCOMPARE(readDword("LeftPos"), 200);
        QCOMPARE(readDword("TopPos"), 200);
        QCOMPARE(readDword("Width"), 180);
        QCOMPARE(readDword("Height"), 23);

        // Dragging the edge past the left side leaves one column to grab.
        press(*w, {178, 10});
        sendMouse(w.get(), QEvent::MouseMove, {178, 10}, {100, 210}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w->geometry(), QRect(200, 200, 1, 23));
        release(*w, {0, 10});
        QCOMPARE(readDword("Width"), 1);
    }

    void pressWithoutMoveStillSaves()
    {
        TempConfigHome config;
        auto w = makeWindow(QRect(-40, 30, 150, 23)); // partly off-screen stays put
        QCOMPARE(w->geometry(), QRect(-40, 30, 150, 23));
        press(*w, {60, 10});
        release(*w, {60, 10});
        QCOMPARE(readDword("LeftPos"), -40);
        QCOMPARE(readDword("TopPos"), 30);
        QCOMPARE(readDword("Width"), 150);
        QCOMPARE(readDword("Height"), 23);
    }

    void releaseWithoutDragWritesNothing()
    {
        TempConfigHome config;
        auto w = makeWindow();
        release(*w, {60, 10});
        QCOMPARE(readDword("LeftPos"), -12345);
    }

    void pointerModes_data()
    {
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("shape");
        QTest::newRow("count area") << QPoint(50, 10) << 0 << int(Qt::SizeAllCursor);
        QTest::newRow("right 3 columns") << QPoint(147, 10) << 1 << int(Qt::SizeHorCursor);
        QTest::newRow("last column") << QPoint(149, 0) << 1 << int(Qt::SizeHorCursor);
        QTest::newRow("4th from right") << QPoint(146, 10) << 0 << int(Qt::SizeAllCursor);
        QTest::newRow("R box") << QPoint(95, 10) << 2 << int(Qt::ArrowCursor);
        QTest::newRow("T box") << QPoint(104, 3) << 2 << int(Qt::ArrowCursor);
        QTest::newRow("G box") << QPoint(127, 18) << 2 << int(Qt::ArrowCursor);
        QTest::newRow("X box") << QPoint(137, 10) << 2 << int(Qt::ArrowCursor);
        QTest::newRow("below X box") << QPoint(137, 19) << 0 << int(Qt::SizeAllCursor);
        QTest::newRow("between boxes") << QPoint(101, 10) << 0 << int(Qt::SizeAllCursor);
    }
    void pointerModes()
    {
        QFETCH(QPoint, pos);
        QFETCH(int, mode);
        QFETCH(int, shape);
        TempConfigHome config;
        auto w = makeWindow();
        QCOMPARE(w->pointerMode(), int(COrmixWnd::PointerNormal));
        hover(*w, pos);
        QCOMPARE(w->pointerMode(), mode);
        QCOMPARE(int(w->cursor().shape()), shape);
    }

    void doubleClickSavesThenOpensBlog()
    {
        TempConfigHome config;
        FakeBrowser browser;
        auto w = makeWindow(QRect(120, 140, 150, 23));
        // Qt delivers press, release, double click, release.
        press(*w, {40, 10});
        release(*w, {40, 10});
        sendMouse(w.get(), QEvent::MouseButtonDblClick, {40, 10}, globalOf(*w, {40, 10}),
                  Qt::LeftButton, Qt::LeftButton);
        release(*w, {40, 10});
        QVERIFY(browser.waitForLaunches(1));
        QTest::qWait(100);
        QCOMPARE(browser.launches(), QStringList{QStringLiteral("http://127.0.0.1/blog")});
        QCOMPARE(readDword("LeftPos"), 120);
        QVERIFY(!w->isDragging());
    }

    // --- placement, tooltip, accessibility ---

    void placementKeepsWindowReachable()
    {
        const QList<QRect> screens{QRect(0, 0, 1024, 768), QRect(1024, 0, 800, 600)};
        const QRect primary(0, 0, 1024, 768);
        QCOMPARE(COrmixWnd::visiblePlacement(QRect(300, 200, 150, 23), screens, primary),
                 QRect(300, 200, 150, 23));
        QCOMPARE(COrmixWnd::visiblePlacement(QRect(1500, 100, 150, 23), screens, primary),
                 QRect(1500, 100, 150, 23));
        QCOMPARE(COrmixWnd::visiblePlacement(QRect(-100, 700, 150, 23), screens, primary),
                 QRect(-100, 700, 150, 23)); // partly visible
        QCOMPARE(COrmixWnd::visiblePlacement(QRect(1900, 100, 180, 23), screens, primary),
                 QRect(100, 100, 180, 23));
        QCOMPARE(COrmixWnd::visiblePlacement(QRect(1500, 650, 150, 23), screens, primary),
                 QRect(100, 100, 150, 23)); // below the smaller second screen
        QCOMPARE(COrmixWnd::visiblePlacement(QRect(-150, 10, 150, 23), screens, primary),
                 QRect(100, 100, 150, 23)); // touching the edge from outside
        QCOMPARE(COrmixWnd::visiblePlacement(QRect(300, 200, 0, 23), screens, primary),
                 QRect(300, 200, 150, 23));
        QCOMPARE(COrmixWnd::visiblePlacement(QRect(5000, 5000, 150, 23), screens,
                                             QRect(1024, 0, 800, 600)),
                 QRect(1124, 100, 150, 23));

        TempConfigHome config;
        auto w = makeWindow(QRect(50000, 40000, 170, 23));
        const QPoint origin = QGuiApplication::primaryScreen()->geometry().topLeft();
        QCOMPARE(w->geometry(), QRect(origin + QPoint(100, 100), QSize(170, 23)));
    }

    void tooltipTellsPollStatus()
    {
        TempConfigHome config;
        auto w = makeWindow();
        QVERIFY(w->pollStatusText().contains(QStringLiteral("아직")));
        QVERIFY(w->testAttribute(Qt::WA_AlwaysShowToolTips)); // shown while inactive
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        w->SetPollStatus(when, QString());
        QCOMPARE(w->pollStatusText(), QStringLiteral("마지막 읽기: 2026-03-04 05:06:07"));
        w->SetPollStatus(when, QStringLiteral("HTTP 500 <b>down</b>"));
        QVERIFY(w->pollStatusText().endsWith(QStringLiteral("마지막 실패: HTTP 500 <b>down</b>")));
        // Shown literally, never as markup.
        QVERIFY(w->toolTip().contains(QStringLiteral("&lt;b&gt;down&lt;/b&gt;")));
        QVERIFY(!w->toolTip().contains(QStringLiteral("<b>")));
    }

    void accessibleTextFollowsStore()
    {
        TempConfigHome config;
        auto w = makeWindow();
        QCOMPARE(w->accessibleName(), QStringLiteral("Admin 접속 중..."));
        QCOMPARE(w->accessibleDescription(), QStringLiteral("새 항목 없음"));
        GetTInfo()->SetTodayCount(42);
        GetTInfo()->SetNewTrackback(true);
        w->Refresh();
        QCOMPARE(w->accessibleName(), QStringLiteral("오늘 방문자 42"));
        QCOMPARE(w->accessibleDescription(), QStringLiteral("새 트랙백"));
    }
};

QTEST_MAIN(StatusWindowTest)
#include "tst_statuswindow.moc"
