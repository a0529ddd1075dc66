#include "settings/settings.h"
#include "tests/support/testenv.h"
#include "tests/ui/uitestsupport.h"
#include "ui/commandactions.h"

#include "ui/recentitemspopup.h"
#include "ui/statusstrip.h"
#include "ui/windowlook.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace TestColours;

namespace {

// The stored value as the file has it now.
int readDword(SettingKey<int> key)
{
    const Settings settings;
    return settings.isStored(key) ? settings.value(key) : -12345;
}

// The box with the keyboard's ring, as drawn: a frame-coloured column each side of it.
int ringedBox(StatusStrip &w)
{
    const QImage drawn = drawnImage(w);
    int found = -1;
    for (int box = 0; box < 4; ++box) {
        const QRect r = w.boxRect(StatusStrip::Box(box));
        if (drawn.pixel(r.left() - 2, 10) == TestColours::Outer &&
            drawn.pixel(r.left() + 12, 10) == TestColours::Outer)
            found = found < 0 ? box : 99;
    }
    return found;
}

QPoint globalOf(const StatusStrip &w, QPoint local)
{
    return w.geometry().topLeft() + local;
}

void press(StatusStrip &w, QPoint local, Qt::MouseButton button = Qt::LeftButton)
{
    sendMouse(&w, QEvent::MouseButtonPress, local, globalOf(w, local), button, button);
}

void release(StatusStrip &w, QPoint local, Qt::MouseButton button = Qt::LeftButton)
{
    sendMouse(&w, QEvent::MouseButtonRelease, local, globalOf(w, local), button, Qt::NoButton);
}

void hover(StatusStrip &w, QPoint local)
{
    sendMouse(&w, QEvent::MouseMove, local, globalOf(w, local), Qt::NoButton, Qt::NoButton);
}

} // namespace

// The strip under the mouse: hover opacity, box clicks, menu, drag and resize.
class StatusStripInputTest final : public WidgetTest
{
    Q_OBJECT

private:
private slots:

    void hoverMakesOpaqueLeaveRestores()
    {
        QVERIFY(scene().settings.set(Settings::Transparency, 30));
        auto w = makeStrip();
        w->setTransparency(30);
        hover(*w, {50, 10});
        QCOMPARE(w->transparency(), 0);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->transparency(), 30);

        // While the last poll brought something new, leaving keeps it opaque.
        scene().arrive(ItemKind::Comment, {"new", "http://127.0.0.1/c1"});
        hover(*w, {50, 10});
        QCOMPARE(w->transparency(), 0);
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->transparency(), 0);

        // The next refresh after a quiet poll goes back to the stored level even with the
        // mouse resting on the window; the next move makes it opaque again.
        scene().readAgain();
        QCOMPARE(w->transparency(), 30);
        hover(*w, {51, 10});
        QCOMPARE(w->transparency(), 0);

        // A refresh after a poll with news makes it opaque.
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->transparency(), 30);
        scene().arrive(ItemKind::Comment, {"newer", "http://127.0.0.1/c2"});
        QCOMPARE(w->transparency(), 0);
        QCOMPARE(w->alpha(), 255);
    }

    void hoverWithoutStoredLevelStaysOpaque()
    {
        // No "Transparency" stored.
        auto w = makeStrip();
        w->setTransparency(10);
        hover(*w, {50, 10});
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w.get(), &leave);
        QCOMPARE(w->transparency(), 0);
    }

    // --- clicks ---

    // A lit box asks for its newest item (an empty one when the list emptied meanwhile); an
    // unlit one lists the kind's items and asks for nothing.
    void boxClicksAskForItemsOrShowTheList()
    {
        scene().show(
            makeReading(
                3, makeItems({{"newest", "http://127.0.0.1/c2"}, {"older", "http://127.0.0.1/c1"}}),
                makeItems({{"tb A", "http://127.0.0.1/a"}, {"tb B", "http://127.0.0.1/b"}}),
                makeItems({{"spam", "http://127.0.0.1/g1"}})),
            {ItemKind::Comment, ItemKind::Guestbook});
        // The new guestbook entry was deleted before anyone looked.
        scene().setList(ItemKind::Guestbook, {});
        auto w = makeStrip(QRect(200, 300, 150, 23));
        QSignalSpy requests(w.get(), &StatusStrip::itemRequested);
        connect(w.get(), &StatusStrip::itemRequested, this,
                [this](ItemKind kind) { scene().model.clearNew(kind); });
        QCOMPARE(drawnImage(*w).pixel(95, 4), Lit);

        press(*w, {95, 10});
        release(*w, {95, 10});
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.at(0).at(0).value<ItemKind>(), ItemKind::Comment);
        QCOMPARE(requests.at(0).at(1).value<RecentItem>(),
                 (RecentItem{"newest", "http://127.0.0.1/c2"}));
        QVERIFY(!w->recentItems()->isVisible());
        QCOMPARE(drawnImage(*w).pixel(95, 4), White);
        QVERIFY(!w->isDragging());

        press(*w, {123, 10});
        QCOMPARE(requests.count(), 2);
        QCOMPARE(requests.at(1).at(0).value<ItemKind>(), ItemKind::Guestbook);
        QCOMPARE(requests.at(1).at(1).value<RecentItem>(), RecentItem{});
        QVERIFY(!scene().model.isNew(ItemKind::Guestbook));
        QVERIFY(!w->recentItems()->isVisible());

        press(*w, {109, 10});
        release(*w, {109, 10});
        RecentItemsPopup *list = w->recentItems();
        QVERIFY(list->isVisible());
        QCOMPARE(list->headerText(), QStringLiteral("최근 트랙백"));
        QCOMPARE(list->geometry(), QRect(309, 323, 170, 150));
        QCOMPARE(list->list()->topLevelItemCount(), 2);
        list->hide();
        // An empty kind shows nothing.
        press(*w, {123, 10});
        QVERIFY(!list->isVisible());
        QCOMPARE(requests.count(), 2);
    }

    // The X box and the menu's rows, each its own action.
    void closeBoxAndMenuRows()
    {
        UrlRecorder browser;
        auto w = makeStrip();
        QSignalSpy closeSpy(w.get(), &StatusStrip::closeRequested);
        press(*w, {137, 10}); // the X box, not drawn while connecting
        release(*w, {137, 10});
        QCOMPARE(closeSpy.count(), 1);
        QVERIFY(!w->isDragging());

        const QList<QAction *> actions = w->actions();
        QCOMPARE(actions.size(), 5);
        const QStringList texts{QStringLiteral("내 블로그 가기"), QStringLiteral("기타 설정"),
                                QString(), QStringLiteral("종료"),
                                QStringLiteral("프로그램 업데이트 확인")};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(actions[i]->isSeparator(), i == 2);
            QCOMPARE(actions[i]->text(), texts[i]);
        }
        QSignalSpy blogSpy(w.get(), &StatusStrip::blogRequested);
        QSignalSpy settingsSpy(w.get(), &StatusStrip::settingsRequested);
        QSignalSpy aboutSpy(w.get(), &StatusStrip::aboutRequested);
        actions[3]->trigger();
        QCOMPARE(closeSpy.count(), 2);
        actions[1]->trigger();
        QCOMPARE(settingsSpy.count(), 1);
        // The blog is the application's to open.
        actions[0]->trigger();
        QCOMPARE(blogSpy.count(), 1);
        QCOMPARE(closeSpy.count(), 2);

        // Without an update page the update row asks for the about box and opens nothing;
        // with one it opens the page.
        w->setUpdateUrl({});
        actions[4]->trigger();
        QCOMPARE(aboutSpy.count(), 1);
        w->setUpdateUrl("https://updates.example/ormix/");
        actions[4]->trigger();
        QCOMPARE(browser.opened(), QStringList{QStringLiteral("https://updates.example/ormix/")});
        QCOMPARE(aboutSpy.count(), 1);
        QCOMPARE(settingsSpy.count(), 1);

        // With the shared commands: theirs first, the dashboard beside the blog, the strip's
        // own rows in their order.
        CommandActions commands;
        w->setCommands(&commands);
        const auto rowsOf = [](const QMenu &menu) {
            QStringList rows;
            for (const QAction *a : menu.actions())
                rows << (a->isSeparator() ? QStringLiteral("-") : a->text());
            return rows;
        };
        QVERIFY(!commands.resume->isEnabled());
        commands.setPaused(true);
        QVERIFY(commands.resume->isEnabled());

        // A command's row runs the command, and none of the strip's.
        QSignalSpy markSpy(commands.markAllRead, &QAction::triggered);
        const qsizetype stripRowsRun = blogSpy.count() + settingsSpy.count() + aboutSpy.count();
        QStringList rows;
        QStringList pauseRows;
        QTimer::singleShot(100, this, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                rows = rowsOf(*menu);
                if (const QMenu *pause = menu->actions().at(2)->menu())
                    pauseRows = rowsOf(*pause);
                menu->setActiveAction(menu->actions().at(1));
                QTest::keyClick(menu, Qt::Key_Return);
            }
        });
        w->showContextMenu(w->mapToGlobal(QPoint(50, 10)));
        QCOMPARE(rows,
                 QStringList({QStringLiteral("지금 확인"), QStringLiteral("모두 읽음으로 표시"),
                              QStringLiteral("알림 일시 중지"), QStringLiteral("-"),
                              QStringLiteral("내 블로그 가기"), QStringLiteral("관리 페이지 열기"),
                              QStringLiteral("기타 설정"), QStringLiteral("-"),
                              QStringLiteral("종료"), QStringLiteral("프로그램 업데이트 확인")}));
        QCOMPARE(pauseRows, QStringList({QStringLiteral("1시간"), QStringLiteral("내일까지"),
                                         QStringLiteral("-"), QStringLiteral("다시 알리기")}));
        QCOMPARE(markSpy.count(), 1);
        QCOMPARE(blogSpy.count() + settingsSpy.count() + aboutSpy.count(), stripRowsRun);
    }

    void rightReleaseRunsChosenRow()
    {
        auto w = makeStrip();
        QSignalSpy settingsSpy(w.get(), &StatusStrip::settingsRequested);
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
        auto w = makeStrip(QRect(200, 200, 150, 23));
        QSignalSpy written(&scene().settings, &Settings::changed);
        // A release without a press before it writes nothing.
        release(*w, {60, 10});
        QCOMPARE(written.count(), 0);
        press(*w, {50, 10});
        QVERIFY(w->isDragging());
        QCOMPARE(w->pointerMode(), StatusStrip::PointerMode::Move);
        QCOMPARE(w->cursor().shape(), Qt::SizeAllCursor);
        sendMouse(w.get(), QEvent::MouseMove, {50, 10}, {270, 195}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w->geometry(), QRect(220, 185, 150, 23));
        sendMouse(w.get(), QEvent::MouseMove, {50, 10}, {265, 196}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w->geometry(), QRect(215, 186, 150, 23));
        QCOMPARE(readDword(Settings::LeftPos), -12345); // nothing saved before the release
        release(*w, {50, 10});
        QVERIFY(!w->isDragging());
        QCOMPARE(w->pointerMode(), StatusStrip::PointerMode::Normal);
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
        QStringList names;
        for (const QList<QVariant> &signal : written)
            names << Settings::name(signal.first().toInt());
        QCOMPARE(names, (QStringList{QStringLiteral("LeftPos"), QStringLiteral("TopPos"),
                                     QStringLiteral("Width"), QStringLiteral("Height")}));
        QCOMPARE(readDword(Settings::LeftPos), 215);
        QCOMPARE(readDword(Settings::TopPos), 186);
        QCOMPARE(readDword(Settings::Width), 150);
        QCOMPARE(readDword(Settings::Height), 23);

        // A press and release without a move saves too, also partly off the screen.
        w = makeStrip(QRect(-40, 30, 150, 23));
        QCOMPARE(w->geometry(), QRect(-40, 30, 150, 23));
        press(*w, {60, 10});
        release(*w, {60, 10});
        QCOMPARE(readDword(Settings::LeftPos), -40);
        QCOMPARE(readDword(Settings::TopPos), 30);
    }

    void rightEdgeDragChangesOnlyWidth()
    {
        auto w = makeStrip(QRect(200, 200, 150, 23));
        press(*w, {147, 10}); // 3 rightmost columns
        QCOMPARE(w->pointerMode(), StatusStrip::PointerMode::ResizeWidth);
        QCOMPARE(w->cursor().shape(), Qt::SizeHorCursor);
        sendMouse(w.get(), QEvent::MouseMove, {147, 10}, {377, 240}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w->geometry(), QRect(200, 200, 180, 23));
        QCOMPARE(w->boxRect(StatusStrip::Box::Close), QRect(162, 3, 10, 16));
        release(*w, {177, 10});
        QCOMPARE(readDword(Settings::LeftPos), 200);
        QCOMPARE(readDword(Settings::TopPos), 200);
        QCOMPARE(readDword(Settings::Width), 180);
        QCOMPARE(readDword(Settings::Height), 23);

        // Dragging the edge past the left side leaves one column to grab.
        press(*w, {178, 10});
        sendMouse(w.get(), QEvent::MouseMove, {178, 10}, {100, 210}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w->geometry(), QRect(200, 200, 1, 23));
        release(*w, {0, 10});
        QCOMPARE(readDword(Settings::Width), 1);
    }

    void pointerModes_data()
    {
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<StatusStrip::PointerMode>("mode");
        QTest::addColumn<int>("shape");
        QTest::newRow("count area")
            << QPoint(50, 10) << StatusStrip::PointerMode::Move << int(Qt::SizeAllCursor);
        QTest::newRow("right 3 columns")
            << QPoint(147, 10) << StatusStrip::PointerMode::ResizeWidth << int(Qt::SizeHorCursor);
        QTest::newRow("last column")
            << QPoint(149, 0) << StatusStrip::PointerMode::ResizeWidth << int(Qt::SizeHorCursor);
        QTest::newRow("4th from right")
            << QPoint(146, 10) << StatusStrip::PointerMode::Move << int(Qt::SizeAllCursor);
        QTest::newRow("R box") << QPoint(95, 10) << StatusStrip::PointerMode::Normal
                               << int(Qt::ArrowCursor);
        QTest::newRow("T box") << QPoint(104, 3) << StatusStrip::PointerMode::Normal
                               << int(Qt::ArrowCursor);
        QTest::newRow("G box") << QPoint(127, 18) << StatusStrip::PointerMode::Normal
                               << int(Qt::ArrowCursor);
        QTest::newRow("X box") << QPoint(137, 10) << StatusStrip::PointerMode::Normal
                               << int(Qt::ArrowCursor);
        QTest::newRow("below X box")
            << QPoint(137, 19) << StatusStrip::PointerMode::Move << int(Qt::SizeAllCursor);
        QTest::newRow("between boxes")
            << QPoint(101, 10) << StatusStrip::PointerMode::Move << int(Qt::SizeAllCursor);
    }
    void pointerModes()
    {
        QFETCH(QPoint, pos);
        QFETCH(StatusStrip::PointerMode, mode);
        QFETCH(int, shape);
        auto w = makeStrip();
        QCOMPARE(w->pointerMode(), StatusStrip::PointerMode::Normal);
        hover(*w, pos);
        QCOMPARE(w->pointerMode(), mode);
        QCOMPARE(int(w->cursor().shape()), shape);
    }

    // At twice the scale a stored place is in logical pixels: one right of the logical
    // screen, though within its device pixels, is off the screen and starts on the primary
    // one. Runs in tst_statusstripinput_scaled, with the drags that store.
    void startsInLogicalPixels()
    {
        auto w = makeStrip(QRect(300, 120, 150, 23));
        if (w->devicePixelRatioF() < 1.5)
            QSKIP("runs under QT_SCALE_FACTOR=2");
        const QRect screen = w->screen()->geometry();
        QCOMPARE(w->geometry(), QRect(300, 120, 150, 23));
        QCOMPARE(w->grab().size(), QSize(300, 46));
        w = makeStrip(QRect(screen.right() + 50, 120, 150, 23));
        QCOMPARE(w->geometry(), QRect(screen.topLeft() + QPoint(100, 100), QSize(150, 23)));
    }

    // The keyboard: a click gives the strip the focus; Tab and Shift+Tab walk R, T, G and X
    // with a ring around the box, drawn only while the strip has the focus; Return and Space
    // press the box; the menu key and Shift+F10 open the menu.
    void keysWalkAndPressTheBoxes()
    {
        scene().show(makeReading(1234, makeItems({{"c", "http://127.0.0.1/c"}}),
                                 makeItems({{"t", "http://127.0.0.1/t"}}),
                                 makeItems({{"g", "http://127.0.0.1/g"}})),
                     {ItemKind::Comment});
        auto w = makeStrip();
        QSignalSpy requests(w.get(), &StatusStrip::itemRequested);
        QSignalSpy closeSpy(w.get(), &StatusStrip::closeRequested);
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-comment-lit")), QString());
        press(*w, {50, 10});
        release(*w, {50, 10});
        QVERIFY(QTest::qWaitFor([&w] { return w->hasFocus(); }, 5000));
        QCOMPARE(ringedBox(*w), -1);
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-comment-lit")), QString());

        using Box = StatusStrip::Box;
        const auto key = [&w](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
            QTest::keyClick(w.get(), k, m);
            return Box(ringedBox(*w));
        };
        QCOMPARE(key(Qt::Key_Tab), Box::Comments);
        const QImage ringed = drawnImage(*w);
        saveScreenshot(ringed, QStringLiteral("status-keyboard-ring"));
        const QRect r = w->boxRect(Box::Comments);
        // The ring lies in the gaps around the box; the box and its neighbours are as ever.
        QCOMPARE(ringed.pixel(r.left() + 5, 1), Outer);
        QCOMPARE(ringed.pixel(r.left() + 5, 20), Outer);
        QCOMPARE(ringed.copy(r.adjusted(0, 0, 1, 1)),
                 QImage(QStringLiteral("%1/pictures/strip-comment-lit.png")
                            .arg(qEnvironmentVariable("ORMIX_TEST_DATA")))
                     .convertToFormat(QImage::Format_RGB32)
                     .copy(r.adjusted(0, 0, 1, 1)));

        QCOMPARE(key(Qt::Key_Tab), Box::Trackbacks);
        QCOMPARE(key(Qt::Key_Tab), Box::Guestbook);
        QCOMPARE(key(Qt::Key_Tab), Box::Close);
        QCOMPARE(key(Qt::Key_Tab), Box::Comments);
        QCOMPARE(key(Qt::Key_Tab, Qt::ShiftModifier), Box::Close);
        QCOMPARE(key(Qt::Key_Backtab, Qt::ShiftModifier), Box::Guestbook);
        QCOMPARE(key(Qt::Key_Backtab, Qt::ShiftModifier), Box::Trackbacks);

        // An unlit box lists its kind; a lit one asks for its newest item; X ends the run.
        QCOMPARE(key(Qt::Key_Space), Box::Trackbacks);
        QVERIFY(w->recentItems()->isVisible());
        w->recentItems()->hide();
        QCOMPARE(requests.count(), 0);
        QCOMPARE(key(Qt::Key_Tab, Qt::ShiftModifier), Box::Comments);
        QCOMPARE(key(Qt::Key_Return), Box::Comments);
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.at(0).at(1).value<RecentItem>(), (RecentItem{"c", "http://127.0.0.1/c"}));
        QCOMPARE(key(Qt::Key_Backtab, Qt::ShiftModifier), Box::Close);
        QCOMPARE(closeSpy.count(), 0);
        key(Qt::Key_Enter);
        QCOMPARE(closeSpy.count(), 1);

        // The menu from the keyboard, under the box the keyboard is on.
        QList<QPoint> menus;
        const auto closeMenuSoon = [this, &menus] {
            QTimer::singleShot(100, this, [&menus] {
                if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                    menus << menu->pos();
                    menu->close();
                }
            });
        };
        closeMenuSoon();
        key(Qt::Key_Menu);
        closeMenuSoon();
        key(Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus.at(0), w->mapToGlobal(w->boxRect(Box::Close).bottomLeft() + QPoint(0, 1)));
        closeMenuSoon();
        key(Qt::Key_F10); // F10 alone is not the menu
        QCOMPARE(menus.size(), 2);
        QTest::qWait(200);

        // Without the focus, no ring: the strip looks as ever.
        w->clearFocus();
        QVERIFY(!w->hasFocus());
        QCOMPARE(pictureDifference(*w, QStringLiteral("strip-comment-lit")), QString());
    }

    void doubleClickSavesThenAsksForTheBlog()
    {
        auto w = makeStrip(QRect(120, 140, 150, 23));
        QSignalSpy blogSpy(w.get(), &StatusStrip::blogRequested);
        // Qt delivers press, release, double click, release.
        press(*w, {40, 10});
        release(*w, {40, 10});
        sendMouse(w.get(), QEvent::MouseButtonDblClick, {40, 10}, globalOf(*w, {40, 10}),
                  Qt::LeftButton, Qt::LeftButton);
        release(*w, {40, 10});
        QCOMPARE(blogSpy.count(), 1);
        QCOMPARE(readDword(Settings::LeftPos), 120);
        QVERIFY(!w->isDragging());
    }
};

QTEST_MAIN(StatusStripInputTest)
#include "tst_statusstripinput.moc"
