#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <string>

class Account;
class QCheckBox;
class QLabel;
class Settings;
class QLineEdit;
class QPushButton;

// What the login dialog asks besides the login itself.
struct LoginChoice
{
    // Remember the address, the ID and the interval for the next start.
    bool saveId = true;
    // Keep the password in the desktop keyring (only with saveId).
    bool keyring = false;
};

// The login dialog once more, after a login that did not work.
struct LoginAgain
{
    LoginChoice choice;
    // The password typed last stays in its field: the host could not be reached.
    bool keepPassword = false;
    // Why the dialog is back, in a line under the fields.
    QString reason;
};

// The login dialog: blog address, ID, password and polling interval. Accepting it puts the
// address, ID and password into the account to log in with and the interval into the
// settings as this run's; it stores nothing on disk. Whether to remember them
// and to keep the password in the keyring is its choice(), which the caller stores once the
// host accepted the login.
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

    // The dialog after a login that did not work: the account's address and ID and the
    // interval in use
    // instead of the remembered ones (nothing was stored for a login the host did not
    // accept), with the choice made and the reason under the fields.
    void showAgain(const LoginAgain &again);

    // Validates in the fixed order, reports the first failure and stays open; on success
    // hands the values to the account and closes with Accepted.
    void accept() override;

    // The values as last exchanged (the address normalised once accepted).
    const std::string &loginId() const { return m_id; }
    const std::string &blogUrl() const { return m_blogUrl; }
    bool saveId() const { return m_saveId; }
    std::uint32_t interval() const { return m_interval; }
    // Whether the password is to be kept in the desktop keyring (needs the saved ID).
    bool keepInKeyring() const { return m_keyring && m_saveId; }
    LoginChoice choice() const { return {m_saveId, keepInKeyring()}; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void loadRemembered();
    void fillControls();
    void focusFirstEmpty();
    bool exchangeFromControls();
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

    QLineEdit *m_blogUrlEdit = nullptr;
    QLineEdit *m_idEdit = nullptr;
    QLineEdit *m_passwordEdit = nullptr;
    QLineEdit *m_intervalEdit = nullptr;
    QCheckBox *m_saveIdCheck = nullptr;
    QLabel *m_reasonLabel = nullptr;
    QCheckBox *m_keyringCheck = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    bool m_centred = false;
};
