#include "logindialog.h"

#include "base/asciitext.h"
#include "base/secret.h"
#include "blog/blogaddress.h"
#include "desktop/passwordkeyring.h"
#include "dialogs/dialogsupport.h"
#include "model/account.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {

constexpr std::uint32_t DefaultInterval = 30;
constexpr std::uint32_t MinimumInterval = 10;

// The interval in use is a signed int; anything larger means "as long as possible".
int toStoreInterval(std::uint32_t seconds)
{
    constexpr std::uint32_t max = std::numeric_limits<int>::max();
    return static_cast<int>(std::min(seconds, max));
}

// Copies the field into target, overwriting the previous value and the
// intermediate UTF-8 bytes so no stray copy of a password stays in freed memory.
void takeSecretText(const QLineEdit *field, std::string &target)
{
    QByteArray utf8 = field->text().toUtf8();
    wipeString(target);
    target.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    utf8.fill('\0');
}

// Empties the field after overwriting the characters it held.
void wipeField(QLineEdit *field)
{
    QString text = field->text();
    field->clear();
    // Now the only owner of the buffer, so fill() writes in place.
    text.fill(QChar(u'\0'));
}

} // namespace

LoginDialog::LoginDialog(Account &account, Settings &settings, QWidget *parent)
    : QDialog(parent), m_account(account), m_settings(settings)
{
    buildControls();
    loadRemembered();
    fillControls();
    focusFirstEmpty();
}

LoginDialog::~LoginDialog()
{
    wipeString(m_password);
    wipeField(m_passwordEdit);
}

void LoginDialog::buildControls()
{
    setWindowTitle(QStringLiteral("Blog 로그인 Ver " ORMIX_VERSION_TEXT));
    applyDialogFont(this);

    m_blogUrlEdit = new QLineEdit(this);
    m_blogUrlEdit->setObjectName(QStringLiteral("blogUrlEdit"));
    m_blogUrlEdit->setFixedWidth(dialogUnitsToPixels(this, 102));
    m_idEdit = new QLineEdit(this);
    m_idEdit->setObjectName(QStringLiteral("idEdit"));
    m_idEdit->setFixedWidth(dialogUnitsToPixels(this, 82));
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_passwordEdit->setFixedWidth(dialogUnitsToPixels(this, 82));
    m_intervalEdit = new QLineEdit(this);
    m_intervalEdit->setObjectName(QStringLiteral("intervalEdit"));
    m_intervalEdit->setValidator(createDigitsOnlyValidator(m_intervalEdit));
    m_intervalEdit->setFixedWidth(dialogUnitsToPixels(this, 40));
    m_saveIdCheck = new QCheckBox(QStringLiteral("아이디 저장"), this);
    m_saveIdCheck->setObjectName(QStringLiteral("saveIdCheck"));
    const OkCancelButtons buttons = createOkCancelButtons(this);
    m_okButton = buttons.ok;
    m_cancelButton = buttons.cancel;

    auto *group = new QGroupBox(QStringLiteral("사용자 정보 입력"), this);
    auto *grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("블로그주소"), group), 0, 0);
    grid->addWidget(m_blogUrlEdit, 0, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(new QLabel(QStringLiteral("아이디"), group), 1, 0);
    grid->addWidget(m_idEdit, 1, 1, 1, 2, Qt::AlignLeft);
    // The label's trailing blank is part of its text.
    grid->addWidget(new QLabel(QStringLiteral("비밀번호 "), group), 2, 0);
    grid->addWidget(m_passwordEdit, 2, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(new QLabel(QStringLiteral("조회주기"), group), 3, 0);
    grid->addWidget(m_intervalEdit, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("초"), group), 3, 2, Qt::AlignLeft);
    grid->addWidget(m_saveIdCheck, 4, 0, 1, 3);
    // Why the dialog came back, in a colour of its own; hidden at the start.
    m_reasonLabel = new QLabel(group);
    m_reasonLabel->setObjectName(QStringLiteral("reasonLabel"));
    m_reasonLabel->setTextFormat(Qt::PlainText);
    QPalette reasonColours = m_reasonLabel->palette();
    reasonColours.setColor(QPalette::WindowText, QColor(176, 0, 0));
    m_reasonLabel->setPalette(reasonColours);
    m_reasonLabel->hide();
    grid->addWidget(m_reasonLabel, 5, 0, 1, 3);
    grid->setColumnStretch(2, 1);

    layOutGroupAndButtons(this, group, m_okButton, m_cancelButton);

    // Below everything of the original dialog, so its controls keep their places.
    m_keyringCheck = new QCheckBox(QStringLiteral("비밀번호를 키링에 저장"), this);
    m_keyringCheck->setObjectName(QStringLiteral("keyringCheck"));
    m_keyringCheck->setEnabled(false);
    m_keyringCheck->setToolTip(QStringLiteral("키링을 찾는 중입니다."));
    layout()->addWidget(m_keyringCheck);

    setTabChain({m_blogUrlEdit, m_idEdit, m_passwordEdit, m_intervalEdit, m_saveIdCheck, m_okButton,
                 m_cancelButton, m_keyringCheck});

    // The keyring entry is named by the remembered address and ID.
    connect(m_saveIdCheck, &QCheckBox::toggled, this, &LoginDialog::updateKeyringCheck);
    passwordkeyring::probe(this, [this](bool available, const QString &why) {
        m_keyringAvailable = available;
        m_keyringWhy = why;
        updateKeyringCheck();
    });
}

void LoginDialog::updateKeyringCheck()
{
    m_keyringCheck->setEnabled(m_keyringAvailable && m_saveIdCheck->isChecked());
    if (!m_keyringAvailable)
        m_keyringCheck->setToolTip(m_keyringWhy);
    else if (!m_saveIdCheck->isChecked())
        m_keyringCheck->setToolTip(QStringLiteral("아이디 저장을 선택해야 쓸 수 있습니다."));
    else
        m_keyringCheck->setToolTip(QString());
}

void LoginDialog::loadRemembered()
{
    m_saveId = m_settings.value(Settings::SaveId);
    if (!m_saveId)
        return;

    const int interval = m_settings.value(Settings::Interval);
    // Only ever written from an unsigned field; a negative value is damage.
    m_interval = interval >= 0 ? static_cast<std::uint32_t>(interval) : DefaultInterval;
    m_id = m_settings.value(Settings::Id).toStdString();
    m_blogUrl = m_settings.value(Settings::BlogUrl).toStdString();
    m_keyring = m_settings.value(Settings::KeyringPassword);
}

void LoginDialog::showAgain(const LoginAgain &again)
{
    m_blogUrl = m_account.blogUrl;
    m_id = m_account.id;
    m_interval = static_cast<std::uint32_t>(std::max(m_settings.value(Settings::PollInterval), 0));
    m_saveId = again.choice.saveId;
    m_keyring = again.choice.keyring;
    fillControls();
    // One line as wide as the fields: an error quoting a long address is cut in the middle
    // and shown whole in the tooltip.
    const QFontMetrics metrics(m_reasonLabel->font());
    m_reasonLabel->setText(
        metrics.elidedText(again.reason, Qt::ElideMiddle, dialogUnitsToPixels(this, 150)));
    m_reasonLabel->setToolTip(again.reason);
    m_reasonLabel->setVisible(!again.reason.isEmpty());
    if (!again.keepPassword) {
        focusFirstEmpty();
        return;
    }
    const std::string &password = m_account.password();
    m_passwordEdit->setText(
        QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size())));
    // The address is what is most likely mistyped when the host could not be reached.
    m_blogUrlEdit->setFocus(Qt::OtherFocusReason);
}

void LoginDialog::focusFirstEmpty()
{
    QLineEdit *focus = m_blogUrlEdit;
    if (!m_blogUrl.empty()) {
        focus = m_idEdit;
        if (!m_id.empty())
            focus = m_passwordEdit;
    }
    focus->setFocus(Qt::OtherFocusReason);
}

void LoginDialog::fillControls()
{
    m_blogUrlEdit->setText(QString::fromStdString(m_blogUrl));
    m_idEdit->setText(QString::fromStdString(m_id));
    m_passwordEdit->clear();
    m_intervalEdit->setText(QString::number(m_interval));
    m_saveIdCheck->setChecked(m_saveId);
    m_keyringCheck->setChecked(m_keyring);
}

bool LoginDialog::exchangeFromControls()
{
    m_id = m_idEdit->text().toStdString();
    takeSecretText(m_passwordEdit, m_password);
    m_blogUrl = m_blogUrlEdit->text().toStdString();
    m_saveId = m_saveIdCheck->isChecked();
    m_keyring = m_keyringCheck->isChecked();
    const std::optional<std::uint32_t> interval = parseUnsignedField(m_intervalEdit->text());
    if (!interval) {
        failFieldExchange(m_intervalEdit, QStringLiteral("양의 정수를 입력하세요."));
        return false;
    }
    m_interval = *interval;
    return true;
}

void LoginDialog::accept()
{
    if (!exchangeFromControls())
        return;
    // Each message leaves the person in the field it names.
    const auto refuse = [this](QLineEdit *field, const QString &message) {
        showOrmixMessage(this, message);
        field->setFocus(Qt::OtherFocusReason);
    };
    if (m_id.empty()) {
        refuse(m_idEdit, QStringLiteral("아이디를 입력하세요"));
        return;
    }
    if (m_password.empty()) {
        refuse(m_passwordEdit, QStringLiteral("비밀번호를 입력하세요"));
        return;
    }
    if (m_blogUrl.empty()) {
        refuse(m_blogUrlEdit, QStringLiteral("홈페이지 URL 을 입력하세요 "));
        return;
    }
    m_blogUrl = withLowerCaseSchemeAndHost(m_blogUrl);
    if (!blogaddress::hasBlogScheme(m_blogUrl)) {
        refuse(m_blogUrlEdit, QStringLiteral("블로그 주소는 http:// 로 시작해야 합니다."));
        return;
    }
    if (m_interval < MinimumInterval) {
        refuse(m_intervalEdit, QStringLiteral("주기를 10 이상으로 설정하십시요"));
        return;
    }
    m_blogUrl = blogaddress::withoutTrailingSlash(m_blogUrl);

    m_account.id = m_id;
    m_account.setPassword(m_password);
    m_account.blogUrl = m_blogUrl;
    m_settings.set(Settings::PollInterval, toStoreInterval(m_interval));
    QDialog::accept();
}

void LoginDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_centred) {
        centreOnPrimaryScreen(this);
        m_centred = true;
    }
}
