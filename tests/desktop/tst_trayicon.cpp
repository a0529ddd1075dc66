// The tray icon on a running program, against a StatusNotifierWatcher of the test's own on a
// private session bus (Debian packages none that runs without a desktop shell), under Xvfb:
// the icon comes when the panel does, its exported menu holds the commands, and choosing them
// there acts as in the strip's menu.
#include "app/controller.h"
#include "client/poller.h"
#include "desktop/trayavailability.h"
#include "dialogs/settingsdialog.h"
#include "settings/settings.h"
#include "tests/desktop/statusnotifierwatcher.h"
#include "tests/support/controllerharness.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"
#include "ui/statusstrip.h"
#include "ui/trayicon.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTest>

#include <optional>

namespace {

struct MenuRow
{
    int id = 0;
    QString label;
    bool enabled = true;
    QList<MenuRow> children;
};

MenuRow readRow(const QDBusArgument &arg)
{
    MenuRow row;
    QVariantMap properties;
    arg.beginStructure();
    arg >> row.id >> properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        row.children << readRow(qvariant_cast<QDBusArgument>(child.variant()));
    }
    arg.endArray();
    arg.endStructure();
    row.label = properties.value(QStringLiteral("label")).toString();
    if (properties.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
        row.label = QStringLiteral("-");
    row.enabled = properties.value(QStringLiteral("enabled"), true).toBool();
    return row;
}

// A call as a panel makes it, answered while the event loop runs (the item lives on this
// thread, so a blocking call would wait for itself).
std::optional<QDBusMessage> call(const QDBusConnection &bus, const QDBusMessage &message)
{
    QDBusPendingCall pending = bus.asyncCall(message);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 10000))
        return std::nullopt;
    const QDBusMessage reply = pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply;
}

QStringList labels(const QList<MenuRow> &rows)
{
    QStringList out;
    for (const MenuRow &row : rows)
        out << row.label;
    return out;
}

const MenuRow *find(const QList<MenuRow> &rows, const QString &label)
{
    for (const MenuRow &row : rows) {
        if (row.label == label)
            return &row;
        if (const MenuRow *inner = find(row.children, label))
            return inner;
    }
    return nullptr;
}

} // namespace

class TestTrayIcon final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "Qt speaks StatusNotifierItem from the xcb platform only: run under Xvfb");
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    }

    void iconFollowsThePanelAndItsMenuActs()
    {
        TempConfigHome home;
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        ControllerHarness frame;
        host.enterAccount(frame.account, frame.settings, 3600);
        QVERIFY(frame.settings.set(Settings::TrayIcon, true));
        frame.start(false);
        QTRY_VERIFY(frame.poller.loginState() == LoginState::LoggedIn && !frame.poller.isBusy());
        StatusStrip *strip = frame.controller.strip();

        // Started before the panel (an autostarted Ormix): no tray yet, no icon; the settings
        // dialog says why its box cannot be changed, and keeps the choice as it is.
        SettingsDialog dialog(frame.settings);
        auto *box = dialog.findChild<QCheckBox *>(QStringLiteral("trayIconCheck"));
        QTRY_COMPARE(box->toolTip(), TrayAvailability::unavailableText());
        QVERIFY(!box->isEnabled() && box->isChecked());
        dialog.accept();
        QVERIFY(frame.settings.value(Settings::TrayIcon));
        QVERIFY(!frame.controller.trayIcon());

        // The panel comes: the icon follows, and a dialog opened now can switch it.
        SettingsDialog again(frame.settings);
        box = again.findChild<QCheckBox *>(QStringLiteral("trayIconCheck"));
        WatcherThread watcher;
        QVERIFY(watcher.start());
        QTRY_COMPARE_WITH_TIMEOUT(watcher.items().size(), 1, 10000);
        QTRY_VERIFY(box->isEnabled() && box->toolTip().isEmpty());
        TrayIcon *tray = frame.controller.trayIcon();
        QVERIFY(tray);
        const QString item = watcher.items().at(0);

        QDBusMessage get = QDBusMessage::createMethodCall(
            item, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
        const std::optional<QDBusMessage> menuPath = call(watcher.bus(), get);
        QVERIFY(menuPath);
        const QString path = qvariant_cast<QDBusObjectPath>(
                                 menuPath->arguments().at(0).value<QDBusVariant>().variant())
                                 .path();
        const auto layout = [&]() -> MenuRow {
            QDBusMessage getLayout = QDBusMessage::createMethodCall(
                item, path, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
            getLayout.setArguments({0, -1, QStringList()});
            const std::optional<QDBusMessage> reply = call(watcher.bus(), getLayout);
            if (!reply || reply->arguments().size() < 2)
                return {};
            return readRow(qvariant_cast<QDBusArgument>(reply->arguments().at(1)));
        };
        const auto click = [&](const QString &label) {
            const MenuRow shown = layout();
            const MenuRow *row = find(shown.children, label);
            if (!row)
                return false;
            QDBusMessage event = QDBusMessage::createMethodCall(
                item, path, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
            event.setArguments({row->id, QStringLiteral("clicked"),
                                QVariant::fromValue(QDBusVariant(QVariant(0))), 0u});
            return call(watcher.bus(), event).has_value();
        };

        const MenuRow menu = layout();
        QCOMPARE(labels(menu.children),
                 QStringList({QStringLiteral("지금 확인"), QStringLiteral("모두 읽음으로 표시"),
                              QStringLiteral("알림 일시 중지"), QStringLiteral("-"),
                              QStringLiteral("내 블로그 가기"), QStringLiteral("관리 페이지 열기"),
                              QStringLiteral("기타 설정"), QStringLiteral("-"),
                              QStringLiteral("스트립 숨기기"), QStringLiteral("종료"),
                              QStringLiteral("프로그램 업데이트 확인")}));
        const MenuRow *pause = find(menu.children, QStringLiteral("알림 일시 중지"));
        QCOMPARE(labels(pause->children),
                 QStringList({QStringLiteral("1시간"), QStringLiteral("내일까지"),
                              QStringLiteral("-"), QStringLiteral("다시 알리기")}));
        QVERIFY(!find(menu.children, QStringLiteral("다시 알리기"))->enabled);

        // A comment arrives: the tooltip counts it; the menu's "mark all read" unlights R.
        host.addItem(DemoHost::Comment, QStringLiteral("트레이 댓글"), QStringLiteral("/t"));
        frame.poller.pollNow();
        QTRY_VERIFY(frame.model.isNew(ItemKind::Comment));
        QVERIFY(tray->systemTrayIcon()->toolTip().contains(QStringLiteral("새 댓글 1")));
        QVERIFY(click(QStringLiteral("모두 읽음으로 표시")));
        QTRY_VERIFY(!frame.model.isNew(ItemKind::Comment));
        QVERIFY(tray->systemTrayIcon()->toolTip().contains(QStringLiteral("새 댓글 0")));

        // Paused from the panel: resumable there too.
        QVERIFY(click(QStringLiteral("1시간")));
        QTRY_VERIFY(frame.model.isPaused());
        QTRY_VERIFY(find(layout().children, QStringLiteral("다시 알리기"))->enabled);
        QVERIFY(click(QStringLiteral("다시 알리기")));
        QTRY_VERIFY(!frame.model.isPaused());

        // Hidden from the menu, brought up by a click on the icon.
        QVERIFY(click(QStringLiteral("스트립 숨기기")));
        QTRY_VERIFY(!strip->isVisible());
        QDBusMessage activate = QDBusMessage::createMethodCall(
            item, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
        activate.setArguments({0, 0});
        QVERIFY(call(watcher.bus(), activate));
        QTRY_VERIFY(strip->isVisible());
        QVERIFY(!tray->hideStripAction()->isChecked());

        // Hidden, then the icon switched off: the strip comes back, or nothing would show.
        QVERIFY(click(QStringLiteral("스트립 숨기기")));
        QTRY_VERIFY(!strip->isVisible());
        box->setChecked(false);
        again.accept();
        QVERIFY(!frame.settings.value(Settings::TrayIcon));
        QVERIFY(!frame.controller.trayIcon());
        QVERIFY(strip->isVisible());
        frame.controller.end();
    }

    void theIconShowsItsMarks()
    {
        const QImage plain = TrayIcon::renderIcon(22, false, false);
        const QImage lit = TrayIcon::renderIcon(22, true, false);
        const QImage paused = TrayIcon::renderIcon(22, false, true);
        QCOMPARE(plain.size(), QSize(22, 22));
        // No square ground around the disc; the red dot sits top right, the bars below.
        QCOMPARE(qAlpha(plain.pixel(0, 0)), 0);
        QCOMPARE(QColor(lit.pixel(19, 3)), QColor(171, 81, 91));
        QVERIFY(plain.pixel(19, 3) != lit.pixel(19, 3));
        QVERIFY(plain.pixel(17, 17) != paused.pixel(17, 17));
        QCOMPARE(lit.pixel(17, 17), plain.pixel(17, 17));
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
