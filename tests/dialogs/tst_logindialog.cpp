#include "dialogs/logindialog.h"
#include "model/account.h"
#include "settings/settings.h"
#include "tests/dialogs/dialogtestsupport.h"
#include "tests/dialogs/messagerecorder.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <limits>

namespace {

QLineEdit *edit(LoginDialog &dlg, const char *name)
{
    return dlg.findChild<QLineEdit *>(QLatin1String(name));
}

QPushButton *button(LoginDialog &dlg, const char *name)
{
    return dlg.findChild<QPushButton *>(QLatin1String(name));
}

QCheckBox *saveIdBox(LoginDialog &dlg)
{
    return dlg.findChild<QCheckBox *>(QStringLiteral("saveIdCheck"));
}

struct Entries
{
    QString address;
    QString id;
    QString password;
    QString interval;
    bool saveId = true;
};

void enter(LoginDialog &dlg, const Entries &e)
{
    edit(dlg, "blogUrlEdit")->setText(e.address);
    edit(dlg, "idEdit")->setText(e.id);
    edit(dlg, "passwordEdit")->setText(e.password);
    edit(dlg, "intervalEdit")->setText(e.interval);
    saveIdBox(dlg)->setChecked(e.saveId);
}

// Fills the account with values that no accepted login in these tests produces.
void markAccount(Account &account)
{
    account.id = "before";
    account.setPassword("before");
    account.blogUrl = "before";
}

const Entries valid{QStringLiteral("http://blog.example"), QStringLiteral("owner"),
                    QStringLiteral("pw"), QStringLiteral("30"), true};

} // namespace

class TestLoginDialog final : public QObject
{
    Q_OBJECT

    Account m_account;

private slots:
    void init() { markAccount(m_account); }

    void reportsOnlyTheFirstFailure_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("warning");
        // The field the message leaves the focus in.
        QTest::addColumn<QString>("focus");

        const QString noId = QStringLiteral("아이디를 입력하세요");
        const QString noPassword = QStringLiteral("비밀번호를 입력하세요");
        const QString noAddress = QStringLiteral("홈페이지 URL 을 입력하세요 ");
        const QString badScheme = QStringLiteral("블로그 주소는 http:// 로 시작해야 합니다.");
        const QString tooShort = QStringLiteral("주기를 10 이상으로 설정하십시요");
        const QString notNumber = QStringLiteral("양의 정수를 입력하세요.");
        const QString url = QStringLiteral("http://blog.example");
        const QString id = QStringLiteral("owner");
        const QString pw = QStringLiteral("pw");

        QTest::newRow("everything empty") << QString() << QString() << QString() << QString()
                                          << notNumber << true << QStringLiteral("intervalEdit");
        QTest::newRow("texts empty") << QString() << QString() << QString() << QStringLiteral("30")
                                     << noId << false << QStringLiteral("idEdit");
        QTest::newRow("id empty, interval bad") << url << QString() << pw << QStringLiteral("9")
                                                << noId << false << QStringLiteral("idEdit");
        QTest::newRow("password and address empty")
            << QString() << id << QString() << QStringLiteral("30") << noPassword << false
            << QStringLiteral("passwordEdit");
        QTest::newRow("address empty") << QString() << id << pw << QStringLiteral("30") << noAddress
                                       << false << QStringLiteral("blogUrlEdit");
        QTest::newRow("ftp refused")
            << QStringLiteral("ftp://blog.example") << id << pw << QStringLiteral("9") << badScheme
            << false << QStringLiteral("blogUrlEdit");
        QTest::newRow("no scheme")
            << QStringLiteral("blog.example") << id << pw << QStringLiteral("30") << badScheme
            << false << QStringLiteral("blogUrlEdit");
        QTest::newRow("leading blank")
            << QStringLiteral(" http://blog.example") << id << pw << QStringLiteral("30")
            << badScheme << false << QStringLiteral("blogUrlEdit");
        QTest::newRow("scheme later")
            << QStringLiteral("x http://blog.example") << id << pw << QStringLiteral("30")
            << badScheme << false << QStringLiteral("blogUrlEdit");
        // As a damaged settings file may hand them over.
        QTest::newRow("NUL inside")
            << QStringLiteral("http://blog.example") + QChar(0) + QStringLiteral("evil") << id << pw
            << QStringLiteral("30") << badScheme << false << QStringLiteral("blogUrlEdit");
        QTest::newRow("control char")
            << QStringLiteral("http://blog\x01.example") << id << pw << QStringLiteral("30")
            << badScheme << false << QStringLiteral("blogUrlEdit");
        QTest::newRow("DEL at end")
            << QStringLiteral("http://blog.example\x7f") << id << pw << QStringLiteral("30")
            << badScheme << false << QStringLiteral("blogUrlEdit");
        QTest::newRow("interval 9") << url << id << pw << QStringLiteral("9") << tooShort << false
                                    << QStringLiteral("intervalEdit");
        QTest::newRow("interval 0") << url << id << pw << QStringLiteral("0") << tooShort << false
                                    << QStringLiteral("intervalEdit");
        QTest::newRow("interval empty")
            << url << id << pw << QString() << notNumber << true << QStringLiteral("intervalEdit");
        QTest::newRow("interval 10")
            << url << id << pw << QStringLiteral("10") << QString() << false << QString();
        QTest::newRow("upper-case scheme")
            << QStringLiteral("HTTP://Blog.Example") << id << pw << QStringLiteral("30")
            << QString() << false << QString();
        QTest::newRow("https") << QStringLiteral("https://blog.example") << id << pw
                               << QStringLiteral("30") << QString() << false << QString();
    }

    void reportsOnlyTheFirstFailure()
    {
        QFETCH(QString, address);
        QFETCH(QString, id);
        QFETCH(QString, password);
        QFETCH(QString, interval);
        QFETCH(QString, message);
        QFETCH(bool, warning);
        QFETCH(QString, focus);

        TempConfigHome home;
        Settings settings;
        settings.set(Settings::PollInterval, -1);
        MessageRecorder recorder;
        LoginDialog dlg(m_account, settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        enter(dlg, {address, id, password, interval, true});
        // In none of the fields, so that each message has to move the focus itself.
        saveIdBox(dlg)->setFocus();
        clickOk(dlg);

        if (message.isEmpty()) {
            QCOMPARE(recorder.texts(), QStringList());
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            QVERIFY(!dlg.isVisible());
            QCOMPARE(m_account.id, id.toStdString());
            return;
        }
        QCOMPARE(recorder.texts(), QStringList{message});
        const MessageRecorder::Message &shown = recorder.messages().constFirst();
        QCOMPARE(shown.icon, warning ? QMessageBox::Warning : QMessageBox::NoIcon);
        QCOMPARE(shown.parent, &dlg);
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        // Stays open with nothing handed over or stored.
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(m_account.id, std::string("before"));
        QCOMPARE(settings.value(Settings::PollInterval), -1);
        QCOMPARE(storedNumber(Settings::SaveId), -1);
        QVERIFY(!QFile::exists(home.settingsFile()));
    }

    void badIntervalSelectsTheField_data()
    {
        QTest::addColumn<QString>("interval");
        QTest::newRow("empty") << QString();
        // Not typable, but pasted or set text must not slip through either.
        QTest::newRow("digits then letter") << QStringLiteral("12x");
        QTest::newRow("minus") << QStringLiteral("-30");
    }

    void badIntervalSelectsTheField()
    {
        QFETCH(QString, interval);
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        LoginDialog dlg(m_account, settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        Entries e = valid;
        e.interval = interval;
        enter(dlg, e);
        edit(dlg, "idEdit")->setFocus();
        clickOk(dlg);
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("양의 정수를 입력하세요.")});
        QLineEdit *field = edit(dlg, "intervalEdit");
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->selectedText(), interval);
        QVERIFY(dlg.isVisible());
    }

    void normalisesTheAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("capitals and slash") << QStringLiteral("HTTP://Blog.Example.COM/")
                                            << QStringLiteral("http://blog.example.com");
        QTest::newRow("scheme only") << QStringLiteral("http://") << QStringLiteral("http:/");
        QTest::newRow("two slashes keep one")
            << QStringLiteral("http://blog.example//") << QStringLiteral("http://blog.example/");
        // A path, a query and user information keep their case; a port has none.
        QTest::newRow("path keeps its case") << QStringLiteral("Http://Blog.Example:8080/MyBlog/")
                                             << QStringLiteral("http://blog.example:8080/MyBlog");
        QTest::newRow("query keeps its case") << QStringLiteral("http://B.Example?Blog=Mine")
                                              << QStringLiteral("http://b.example?Blog=Mine");
        QTest::newRow("user information") << QStringLiteral("http://Me:PW@Blog.Example/A")
                                          << QStringLiteral("http://Me:PW@blog.example/A");
        QTest::newRow("lower case as stored") << QStringLiteral("http://blog.example/myblog")
                                              << QStringLiteral("http://blog.example/myblog");
        QTest::newRow("https") << QStringLiteral("HTTPS://Secure.Example/")
                               << QStringLiteral("https://secure.example");
        // Only ASCII letters change case.
        QTest::newRow("non-ASCII kept") << QStringLiteral("http://Ä블로그.Example/")
                                        << QStringLiteral("http://Ä블로그.example");
    }

    void normalisesTheAddress()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        LoginDialog dlg(m_account, settings);
        Entries e = valid;
        e.address = typed;
        enter(dlg, e);
        clickOk(dlg);
        QCOMPARE(recorder.texts(), QStringList());
        QCOMPARE(QString::fromStdString(m_account.blogUrl), stored);
        QCOMPARE(QString::fromStdString(dlg.blogUrl()), stored);
    }

    void lowerCasingSticksWhenALaterCheckStops()
    {
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        LoginDialog dlg(m_account, settings);
        Entries e = valid;
        e.address = QStringLiteral("HTTP://Blog.Example/");
        e.interval = QStringLiteral("9");
        enter(dlg, e);
        clickOk(dlg);
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("주기를 10 이상으로 설정하십시요")});
        QCOMPARE(dlg.blogUrl(), std::string("http://blog.example/"));
        QCOMPARE(edit(dlg, "blogUrlEdit")->text(), e.address);
    }

    void handsTheEntriesToTheStore()
    {
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        LoginDialog dlg(m_account, settings);
        enter(dlg, {QStringLiteral("http://blog.example/"), QStringLiteral("주인"),
                    QStringLiteral("비밀 pw"), QStringLiteral("45"), false});
        clickOk(dlg);
        QCOMPARE(recorder.texts(), QStringList());
        QCOMPARE(m_account.id, QStringLiteral("주인").toStdString());
        QCOMPARE(m_account.password(), QStringLiteral("비밀 pw").toStdString());
        QCOMPARE(m_account.blogUrl, std::string("http://blog.example"));
        QCOMPARE(settings.value(Settings::PollInterval), 45);
    }

    void opensFromTheSettings_data()
    {
        QTest::addColumn<int>("checkSaveId"); // -1: not stored
        QTest::addColumn<QString>("storedUrl");
        QTest::addColumn<QString>("storedId");
        QTest::addColumn<int>("storedInterval"); // -1: not stored
        QTest::addColumn<QString>("shownUrl");
        QTest::addColumn<QString>("shownId");
        QTest::addColumn<QString>("shownInterval");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QString>("focus");

        const QString url = QStringLiteral("http://blog.example");
        const QString id = QStringLiteral("owner");
        const QString address = QStringLiteral("blogUrlEdit");
        const QString idField = QStringLiteral("idEdit");
        const QString password = QStringLiteral("passwordEdit");
        const QString id99 = QString(99, QLatin1Char('a'));
        // 100 bytes of UTF-8 in 34 characters: too long although short on screen.
        const QString id100 = QString(33, QChar(u'가')) + QLatin1Char('a');

        QTest::newRow("clean profile") << -1 << QString() << QString() << -1 << QString()
                                       << QString() << QStringLiteral("30") << true << address;
        QTest::newRow("save-ID off") << 0 << url << id << 77 << QString() << QString()
                                     << QStringLiteral("30") << false << address;
        QTest::newRow("address and ID")
            << 1 << url << id << 77 << url << id << QStringLiteral("77") << true << password;
        QTest::newRow("any non-zero ticks")
            << 5 << url << id << 45 << url << id << QStringLiteral("45") << true << password;
        QTest::newRow("address only") << 1 << url << QString() << -1 << url << QString()
                                      << QStringLiteral("30") << true << idField;
        QTest::newRow("ID only") << 1 << QString() << id << -1 << QString() << id
                                 << QStringLiteral("30") << true << address;
        QTest::newRow("99-byte ID")
            << 1 << url << id99 << -1 << url << id99 << QStringLiteral("30") << true << password;
        QTest::newRow("100-byte ID") << 1 << url << id100 << -1 << url << QString()
                                     << QStringLiteral("30") << true << idField;
    }

    void opensFromTheSettings()
    {
        QFETCH(int, checkSaveId);
        QFETCH(QString, storedUrl);
        QFETCH(QString, storedId);
        QFETCH(int, storedInterval);
        QFETCH(QString, shownUrl);
        QFETCH(QString, shownId);
        QFETCH(QString, shownInterval);
        QFETCH(bool, ticked);
        QFETCH(QString, focus);

        TempConfigHome home;
        Settings settings;
        if (checkSaveId >= 0)
            store(Settings::SaveId, int(checkSaveId));
        if (storedInterval >= 0)
            store(Settings::Interval, int(storedInterval));
        if (!storedUrl.isEmpty())
            store(Settings::BlogUrl, storedUrl.toStdString());
        if (!storedId.isEmpty())
            store(Settings::Id, storedId.toStdString());

        LoginDialog dlg(m_account, settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(edit(dlg, "blogUrlEdit")->text(), shownUrl);
        QCOMPARE(edit(dlg, "idEdit")->text(), shownId);
        QCOMPARE(edit(dlg, "passwordEdit")->text(), QString());
        QCOMPARE(edit(dlg, "intervalEdit")->text(), shownInterval);
        QCOMPARE(saveIdBox(dlg)->isChecked(), ticked);
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    }

    void hugeIntervalIsClampedForTheAccount()
    {
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        {
            LoginDialog dlg(m_account, settings);
            Entries e = valid;
            e.interval = QStringLiteral("99999999999");
            enter(dlg, e);
            clickOk(dlg);
            QCOMPARE(recorder.texts(), QStringList());
        }
        QCOMPARE(settings.value(Settings::PollInterval), std::numeric_limits<int>::max());
    }

    void showsWhyItCameBack_data()
    {
        QTest::addColumn<bool>("keepPassword");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("focus");
        QTest::newRow("refused") << false << QStringLiteral("아이디 또는 비밀번호가 맞지 않습니다.")
                                 << QStringLiteral("passwordEdit");
        QTest::newRow("no answer, a long address")
            << true
            << QStringLiteral(
                   "웹페이지 조회에 실패했습니다(http://blog.example/login?requestURI=") +
                   QString(300, QLatin1Char('x')) + QStringLiteral("), 오류 코드 (-1)")
            << QStringLiteral("blogUrlEdit");
    }

    // After a login that did not work: the account's values (nothing was stored), the
    // choice made, and one line under the fields that says why.
    void showsWhyItCameBack()
    {
        QFETCH(bool, keepPassword);
        QFETCH(QString, reason);
        QFETCH(QString, focus);
        TempConfigHome home;
        Settings settings;
        store(Settings::SaveId, 1);
        store(Settings::Id, std::string("remembered"));
        m_account.blogUrl = "http://Typed.example/Blog";
        m_account.id = "typed";
        m_account.setPassword("typed pw");
        LoginDialog dlg(m_account, settings);
        auto *line = dlg.findChild<QLabel *>(QStringLiteral("reasonLabel"));
        QVERIFY(line && line->isHidden());
        dlg.showAgain({LoginChoice{false, false}, keepPassword, reason});
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));

        QCOMPARE(edit(dlg, "blogUrlEdit")->text(), QStringLiteral("http://Typed.example/Blog"));
        QCOMPARE(edit(dlg, "idEdit")->text(), QStringLiteral("typed"));
        QCOMPARE(edit(dlg, "passwordEdit")->text(),
                 keepPassword ? QStringLiteral("typed pw") : QString());
        QVERIFY(!saveIdBox(dlg)->isChecked());
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        // Under the fields, one line no wider than the group, the whole text in its tooltip.
        QVERIFY(line->isVisible());
        QCOMPARE(line->toolTip(), reason);
        QCOMPARE(line->text() == reason, reason.size() < 100);
        QVERIFY(line->geometry().top() > saveIdBox(dlg)->geometry().bottom());
        QVERIFY(line->width() <= dlg.findChild<QGroupBox *>()->width());
    }

    void typingAndKeys()
    {
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        LoginDialog dlg(m_account, settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QLineEdit *interval = edit(dlg, "intervalEdit");
        interval->clear();
        QTest::keyClicks(interval, QStringLiteral("1a2-0 "));
        QCOMPARE(interval->text(), QStringLiteral("120"));
        QCOMPARE(edit(dlg, "passwordEdit")->echoMode(), QLineEdit::Password);

        QTest::keyClicks(edit(dlg, "blogUrlEdit"), QStringLiteral("http://blog.example"));
        QTest::keyClicks(edit(dlg, "idEdit"), QStringLiteral("owner"));
        QTest::keyClicks(edit(dlg, "passwordEdit"), QStringLiteral("pw"));
        // Enter in a field presses the default button.
        QTest::keyClick(edit(dlg, "passwordEdit"), Qt::Key_Return);
        QCOMPARE(recorder.texts(), QStringList());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(settings.value(Settings::PollInterval), 120);
        QCOMPARE(m_account.password(), std::string("pw"));
    }

    void cancelStoresNothing()
    {
        TempConfigHome home;
        Settings settings;
        MessageRecorder recorder;
        LoginDialog dlg(m_account, settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        enter(dlg, valid);
        QTest::mouseClick(button(dlg, "cancelButton"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(recorder.texts(), QStringList());
        QCOMPARE(m_account.id, std::string("before"));
        QVERIFY(!QFile::exists(home.settingsFile()));

        LoginDialog escaped(m_account, settings);
        escaped.show();
        QVERIFY(QTest::qWaitForWindowActive(&escaped));
        enter(escaped, valid);
        QTest::keyClick(edit(escaped, "idEdit"), Qt::Key_Escape);
        QCOMPARE(escaped.result(), int(QDialog::Rejected));
        QCOMPARE(m_account.id, std::string("before"));
    }

    void layoutAndTexts()
    {
        TempConfigHome home;
        Settings settings;
        LoginDialog dlg(m_account, settings);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Blog 로그인 Ver " ORMIX_VERSION_TEXT));
        QCOMPARE(dlg.font().family(), QStringLiteral("돋움"));

        const QStringList chain = tabChain(edit(dlg, "blogUrlEdit"));
        // The keyring option comes after the original controls.
        QCOMPARE(chain, (utf8List({"blogUrlEdit", "idEdit", "passwordEdit", "intervalEdit",
                                   "saveIdCheck", "okButton", "cancelButton", "keyringCheck"})));
        // This test runs with no session bus: the option says why it cannot be used.
        auto *keyring = dlg.findChild<QCheckBox *>(QStringLiteral("keyringCheck"));
        QCOMPARE(keyring->text(), QStringLiteral("비밀번호를 키링에 저장"));
        QVERIFY(!keyring->isChecked());
        QTRY_VERIFY(keyring->toolTip().contains(QStringLiteral("키링(Secret Service)")));
        QVERIFY(!keyring->isEnabled());
        // Below the original controls, which keep their places.
        QVERIFY(keyring->geometry().top() >= button(dlg, "okButton")->geometry().bottom());

        QStringList labels;
        for (const QLabel *label : dlg.findChildren<QLabel *>()) {
            // The line that says why the dialog came back is hidden at the start.
            if (label->objectName() == QLatin1String("reasonLabel"))
                QVERIFY(label->isHidden());
            else
                labels.append(label->text());
        }
        labels.sort();
        QStringList expected = utf8List({"블로그주소", "아이디", "비밀번호 ", "조회주기", "초"});
        expected.sort();
        QCOMPARE(labels, expected);
        QCOMPARE(saveIdBox(dlg)->text(), QStringLiteral("아이디 저장"));
        QCOMPARE(button(dlg, "okButton")->text(), QStringLiteral("확인"));
        QVERIFY(button(dlg, "okButton")->isDefault());
        QCOMPARE(button(dlg, "cancelButton")->text(), QStringLiteral("취소"));
        const QList<QGroupBox *> groups = dlg.findChildren<QGroupBox *>();
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups.at(0)->title(), QStringLiteral("사용자 정보 입력"));

        // Centred on the primary screen's free area, give or take the frame.
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY2((dlg.frameGeometry().center() - centre).manhattanLength() <= 40,
                 qPrintable(QStringLiteral("dialog centre %1,%2")
                                .arg(dlg.frameGeometry().center().x())
                                .arg(dlg.frameGeometry().center().y())));
    }
};

QTEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
