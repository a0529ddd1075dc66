#include "desktop/autostart.h"
#include "dialogs/settingsdialog.h"
#include "settings/settings.h"
#include "tests/dialogs/dialogtestsupport.h"
#include "tests/dialogs/messagerecorder.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {

QLineEdit *intervalEdit(SettingsDialog &dlg)
{
    return dlg.findChild<QLineEdit *>(QStringLiteral("intervalEdit"));
}

QSlider *slider(SettingsDialog &dlg)
{
    return dlg.findChild<QSlider *>(QStringLiteral("transparencySlider"));
}

QCheckBox *autostartBox(SettingsDialog &dlg)
{
    return dlg.findChild<QCheckBox *>(QStringLiteral("autostartCheck"));
}

QPushButton *button(SettingsDialog &dlg, const char *name)
{
    return dlg.findChild<QPushButton *>(QLatin1String(name));
}

QString entryExecLine()
{
    QFile f(QString::fromStdString(autostartEntryPath()));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QString &line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Exec=")))
            return line.mid(5);
    }
    return {};
}

} // namespace

class TestSettingsDialog final : public QObject
{
    Q_OBJECT

private slots:
    void showsTheIntervalInUse()
    {
        TempConfigHome home;
        Settings settings;
        // A login that did not save its interval left 30 in the settings.
        store(Settings::Interval, 30);
        settings.set(Settings::PollInterval, 45);
        MessageRecorder recorder;
        {
            SettingsDialog dlg(settings);
            QCOMPARE(intervalEdit(dlg)->text(), QStringLiteral("45"));
            clickOk(dlg);
            QCOMPARE(recorder.texts(), QStringList());
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            QCOMPARE(dlg.interval(), 45);
            QCOMPARE(storedNumber(Settings::Interval), 45);
        }
        SettingsDialog dlg(settings);
        intervalEdit(dlg)->setText(QStringLiteral("60"));
        clickOk(dlg);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.interval(), 60);
        QCOMPARE(storedNumber(Settings::Interval), 60);
        // This run polls at it from now on.
        QCOMPARE(settings.value(Settings::PollInterval), 60);
    }

    void checksTheInterval_data()
    {
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("message");
        const QString range = QStringLiteral("10에서 100000000 사이의 정수를 입력하세요.");
        QTest::newRow("9") << QStringLiteral("9") << range;
        QTest::newRow("just above") << QStringLiteral("100000001") << range;
        QTest::newRow("past 32 bits") << QStringLiteral("99999999999") << range;
        QTest::newRow("negative") << QStringLiteral("-30") << range;
        QTest::newRow("empty") << QString() << QStringLiteral("정수를 입력하세요.");
        QTest::newRow("letters") << QStringLiteral("6o") << QStringLiteral("정수를 입력하세요.");
        QTest::newRow("10") << QStringLiteral("10") << QString();
        QTest::newRow("100000000") << QStringLiteral("100000000") << QString();
    }

    void checksTheInterval()
    {
        QFETCH(QString, interval);
        QFETCH(QString, message);
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        SettingsDialog dlg(settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        slider(dlg)->setValue(55);
        intervalEdit(dlg)->setText(interval);
        clickOk(dlg);
        if (message.isEmpty()) {
            QCOMPARE(recorder.texts(), QStringList());
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            QCOMPARE(QString::number(dlg.interval()), interval);
            return;
        }
        QCOMPARE(recorder.texts(), QStringList{message});
        QCOMPARE(recorder.messages().constFirst().icon, QMessageBox::Warning);
        QCOMPARE(recorder.messages().constFirst().parent, &dlg);
        QVERIFY(dlg.isVisible());
        QCOMPARE(QApplication::focusWidget(), intervalEdit(dlg));
        QCOMPARE(intervalEdit(dlg)->selectedText(), interval);
        // Nothing stored or applied.
        QVERIFY(!QFile::exists(home.settingsFile()));
    }

    void transparencyIsStoredAsSet()
    {
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        {
            SettingsDialog dlg(settings);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            QCOMPARE(slider(dlg)->value(), 10);
            slider(dlg)->setFocus();
            QTest::keyClick(slider(dlg), Qt::Key_End);
            clickOk(dlg);
            QCOMPARE(dlg.transparency(), 100);
            QCOMPARE(storedNumber(Settings::Transparency), 100);
        }
        {
            SettingsDialog dlg(settings);
            QCOMPARE(slider(dlg)->value(), 100);
            slider(dlg)->setValue(0);
            clickOk(dlg);
            QCOMPARE(dlg.transparency(), 0);
            QCOMPARE(storedNumber(Settings::Transparency), 0);
        }
        QCOMPARE(recorder.texts(), QStringList());
    }

    void opensWithTheStoredChoices_data()
    {
        QTest::addColumn<int>("transparency");     // -1000: not stored
        QTest::addColumn<int>("startWithSession"); // -1000: not stored
        QTest::addColumn<int>("shownTransparency");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("nothing stored") << -1000 << -1000 << 10 << false;
        QTest::newRow("stored") << 40 << 1 << 40 << true;
        QTest::newRow("above range") << 150 << 0 << 100 << false;
        QTest::newRow("below range") << -5 << 2 << 0 << true;
        QTest::newRow("odd autostart value") << 10 << 3 << 10 << false;
        QTest::newRow("negative autostart value") << 10 << -1 << 10 << false;
    }

    void opensWithTheStoredChoices()
    {
        QFETCH(int, transparency);
        QFETCH(int, startWithSession);
        QFETCH(int, shownTransparency);
        QFETCH(bool, ticked);
        TempConfigHome home;
        Settings settings;
        if (transparency != -1000)
            store(Settings::Transparency, int(transparency));
        if (startWithSession != -1000)
            store(Settings::StartWithSession, int(startWithSession));
        SettingsDialog dlg(settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(slider(dlg)->value(), shownTransparency);
        QCOMPARE(autostartBox(dlg)->isChecked(), ticked);
        QCOMPARE(QApplication::focusWidget(), button(dlg, "okButton"));
    }

    void autostartFollowsTheBox()
    {
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        {
            SettingsDialog dlg(settings);
            autostartBox(dlg)->setChecked(true);
            clickOk(dlg);
            QVERIFY(dlg.startsWithSession());
        }
        QVERIFY(autostartEntryExists());
        QCOMPARE(entryExecLine(), QCoreApplication::applicationFilePath());
        QCOMPARE(storedNumber(Settings::StartWithSession), 1);
        QCOMPARE(desktopEntryProblems(QString::fromStdString(autostartEntryPath())), QString());
        {
            SettingsDialog dlg(settings);
            QVERIFY(autostartBox(dlg)->isChecked());
            autostartBox(dlg)->setChecked(false);
            clickOk(dlg);
            QVERIFY(!dlg.startsWithSession());
        }
        QVERIFY(!autostartEntryExists());
        QCOMPARE(storedNumber(Settings::StartWithSession), 0);
        {
            // Unticked with no entry to remove is not worth a word.
            SettingsDialog dlg(settings);
            clickOk(dlg);
        }
        QCOMPARE(recorder.texts(), QStringList());
    }

    void optionsAreStoredOnceUsed_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("key");
        QTest::newRow("desktop notifications")
            << QStringLiteral("desktopNotifyCheck") << Settings::DesktopNotify.index;
        QTest::newRow("what came while off")
            << QStringLiteral("rememberSeenCheck") << Settings::RememberSeen.index;
    }

    void optionsAreStoredOnceUsed()
    {
        QFETCH(QString, box);
        QFETCH(int, key);
        TempConfigHome home;
        Settings settings;
        const auto check = [&box](SettingsDialog &dlg) { return dlg.findChild<QCheckBox *>(box); };
        {
            // Never ticked: the settings get no value of it.
            SettingsDialog dlg(settings);
            clickOk(dlg);
            QVERIFY(!check(dlg)->isChecked());
        }
        QCOMPARE(storedNumber(SettingKey<bool>{key}), -1);
        for (const bool on : {true, false}) {
            SettingsDialog dlg(settings);
            QCOMPARE(check(dlg)->isChecked(), !on);
            check(dlg)->setChecked(on);
            clickOk(dlg);
            QCOMPARE(key == Settings::DesktopNotify.index ? dlg.desktopNotifications()
                                                          : dlg.remembersSeen(),
                     on);
            QCOMPARE(storedNumber(SettingKey<bool>{key}), on ? 1 : 0);
        }
    }

    void unwritableAutostartIsReported()
    {
        TempConfigHome home;
        Settings settings;
        // A plain file where the autostart folder belongs: the entry cannot be written,
        // even for root.
        QFile blocker(home.path() + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        MessageRecorder recorder;
        SettingsDialog dlg(settings);
        slider(dlg)->setValue(70);
        intervalEdit(dlg)->setText(QStringLiteral("60"));
        autostartBox(dlg)->setChecked(true);
        clickOk(dlg);
        QCOMPARE(recorder.messages().size(), 1);
        QVERIFY(recorder.texts().at(0).startsWith(
            QStringLiteral("자동 실행 설정을 저장하지 못했습니다.")));
        QCOMPARE(recorder.messages().at(0).icon, QMessageBox::Warning);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.startsWithSession());
        QCOMPARE(storedNumber(Settings::StartWithSession), 0);
        // The rest of the choices still count.
        QCOMPARE(storedNumber(Settings::Transparency), 70);
        QCOMPARE(storedNumber(Settings::Interval), 60);
        QCOMPARE(dlg.interval(), 60);
        SettingsDialog reopened(settings);
        QVERIFY(!autostartBox(reopened)->isChecked());
    }

    void unremovableAutostartIsReported()
    {
        TempConfigHome home;
        Settings settings;
        // A folder in the entry's place cannot be removed as a file.
        QVERIFY(
            QDir().mkpath(QString::fromStdString(autostartEntryPath()) + QStringLiteral("/keep")));
        QVERIFY(autostartEntryExists());
        store(Settings::StartWithSession, 1);
        MessageRecorder recorder;
        SettingsDialog dlg(settings);
        QVERIFY(autostartBox(dlg)->isChecked());
        autostartBox(dlg)->setChecked(false);
        clickOk(dlg);
        QCOMPARE(recorder.messages().size(), 1);
        QVERIFY(recorder.texts().at(0).startsWith(
            QStringLiteral("자동 실행 설정을 해제하지 못했습니다.")));
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        // The entry is still there, so the box must say so next time.
        QVERIFY(dlg.startsWithSession());
        QCOMPARE(storedNumber(Settings::StartWithSession), 1);
    }

    void cancelChangesNothing()
    {
        TempConfigHome home;
        Settings settings;
        store(Settings::Transparency, 40);
        const QByteArray before = home.allFileContents();
        MessageRecorder recorder;
        {
            SettingsDialog dlg(settings);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            slider(dlg)->setValue(90);
            intervalEdit(dlg)->setText(QStringLiteral("60"));
            autostartBox(dlg)->setChecked(true);
            QTest::mouseClick(button(dlg, "cancelButton"), Qt::LeftButton);
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
            QVERIFY(!dlg.isVisible());
        }
        {
            SettingsDialog dlg(settings);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            slider(dlg)->setValue(90);
            QTest::keyClick(slider(dlg), Qt::Key_Escape);
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
        QCOMPARE(home.allFileContents(), before);
        QCOMPARE(storedNumber(Settings::Transparency), 40);
        QVERIFY(!autostartEntryExists());
        QCOMPARE(recorder.texts(), QStringList());
    }

    void layoutAndTexts()
    {
        TempConfigHome home;
        Settings settings;
        SettingsDialog dlg(settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("기타 설정"));

        const QStringList chain = tabChain(button(dlg, "okButton"));
        // The options come after the original controls, below them, off.
        QCOMPARE(chain, (utf8List({"okButton", "cancelButton", "transparencySlider",
                                   "autostartCheck", "intervalEdit", "desktopNotifyCheck",
                                   "rememberSeenCheck", "trayIconCheck"})));
        auto *notify = dlg.findChild<QCheckBox *>(QStringLiteral("desktopNotifyCheck"));
        QCOMPARE(notify->text(), QStringLiteral("바탕화면 알림도 보내기"));
        QVERIFY(!notify->isChecked());
        QVERIFY(notify->geometry().top() >= button(dlg, "okButton")->geometry().bottom());
        auto *remember = dlg.findChild<QCheckBox *>(QStringLiteral("rememberSeenCheck"));
        QCOMPARE(remember->text(), QStringLiteral("꺼져 있던 동안 온 글도 알리기"));
        QVERIFY(!remember->isChecked());
        QVERIFY(remember->geometry().top() >= notify->geometry().bottom());
        // No tray offscreen: the box says why it cannot be ticked (the tray icon's test ticks it).
        auto *tray = dlg.findChild<QCheckBox *>(QStringLiteral("trayIconCheck"));
        QCOMPARE(tray->text(), QStringLiteral("알림 영역에 아이콘 표시"));
        QVERIFY(tray->geometry().top() >= remember->geometry().bottom());
        QTRY_VERIFY(!tray->isEnabled() &&
                    tray->toolTip() == QStringLiteral("아이콘을 둘 알림 영역(시스템 트레이)을 찾을 "
                                                      "수 없습니다."));

        QCOMPARE(slider(dlg)->orientation(), Qt::Horizontal);
        QCOMPARE(slider(dlg)->minimum(), 0);
        QCOMPARE(slider(dlg)->maximum(), 100);
        QCOMPARE(slider(dlg)->tickPosition(), QSlider::NoTicks);
        // "(불투명)" sits under the opaque (left) end, "(투명)" under the right one.
        QRect opaque;
        QRect clear;
        QStringList labels;
        for (QLabel *label : dlg.findChildren<QLabel *>()) {
            labels.append(label->text());
            if (label->text() == QStringLiteral("(불투명)"))
                opaque = label->geometry();
            if (label->text() == QStringLiteral("(투명)"))
                clear = label->geometry();
        }
        labels.sort();
        QStringList expected = utf8List({"투명도", "(투명)", "(불투명)", "조회주기", "초"});
        expected.sort();
        QCOMPARE(labels, expected);
        QVERIFY(opaque.isValid());
        QVERIFY(clear.isValid());
        QVERIFY(opaque.center().x() < clear.center().x());
        QVERIFY(opaque.top() >= slider(dlg)->geometry().bottom());

        QCOMPARE(autostartBox(dlg)->text(), QStringLiteral("로그인할 때 자동 실행"));
        QCOMPARE(button(dlg, "okButton")->text(), QStringLiteral("확인"));
        QVERIFY(button(dlg, "okButton")->isDefault());
        QCOMPARE(button(dlg, "cancelButton")->text(), QStringLiteral("취소"));
        const QList<QGroupBox *> groups = dlg.findChildren<QGroupBox *>();
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups.at(0)->title(), QString());
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
