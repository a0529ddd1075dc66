#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class Account;
class QCheckBox;
class Settings;
class QLineEdit;
class QPushButton;

// The login dialog: blog address, ID, password and polling interval. Accepting it
// puts the four values into the account and remembers (or forgets) address, ID and
// interval in the settings; the password stays in memory only.
class LoginDialog final : public QDialog
{
    Q_OBJECT

public:
    // Reads the remembered values and sets the focus; run it with exec().
    LoginDialog(Account &account, Settings &settings, QWidget *parent = nullptr);
    ~LoginDialog() override;
    LoginDialog(const LoginDialog &) = delete;
    LoginDialog &operator=(const LoginDialog &) = delete;
    LoginDialog(LoginDialog &&) = delete;
    LoginDialog &operator=(LoginDialog &&) = delete;

    // Shows what the account holds instead of the remembered values: the address, ID,
    // interval and password typed last, for a login that could not reach the host.
    void keepTypedValues();

    // Validates in the fixed order, reports the first failure and stays open;
    // on success stores everything and closes with Accepted.
    void accept() override;

    // The values as last exchanged (the address normalised once accepted).
    const std::string &loginId() const { return m_id; }
    const std::string &blogUrl() const { return m_blogUrl; }
    bool saveId() const { return m_saveId; }
    std::uint32_t interval() const { return m_interval; }
    // Whether the password is to be kept in the desktop keyring (needs the saved ID).
    bool keepInKeyring() const { return m_keyring && m_saveId; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void loadRemembered();
    void fillControls();
    bool exchangeFromControls();
    void storeAccepted();
    void storeKeyringChoice();
    void updateKeyringCheck();

    Account &m_account;
    Settings &m_settings;
    std::string m_id;
    std::string m_password;
    std::string m_blogUrl;
    bool m_saveId = true;
    std::uint32_t m_interval = 30;
    // Opt-in: the password in the keyring, under the remembered address and ID.
    bool m_keyring = false;
    bool m_keyringAvailable = false;
    QString m_keyringWhy;
    // The entry stored before this dialog opened, if the option was on.
    QString m_oldKeyringEntry;

    QLineEdit *m_blogUrlEdit = nullptr;
    QLineEdit *m_idEdit = nullptr;
    QLineEdit *m_passwordEdit = nullptr;
    QLineEdit *m_intervalEdit = nullptr;
    QCheckBox *m_saveIdCheck = nullptr;
    QCheckBox *m_keyringCheck = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    bool m_centred = false;
};
