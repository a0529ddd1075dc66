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
class TLogin final : public QDialog
{
    Q_OBJECT

public:
    // Reads the remembered values and sets the focus; run it with exec().
    TLogin(Account &account, Settings &settings, QWidget *parent = nullptr);
    ~TLogin() override;
    TLogin(const TLogin &) = delete;
    TLogin &operator=(const TLogin &) = delete;
    TLogin(TLogin &&) = delete;
    TLogin &operator=(TLogin &&) = delete;

    // Shows what the account holds instead of the remembered values: the address, ID,
    // interval and password typed last, for a login that could not reach the host.
    void keepTypedValues();

    // Validates in the fixed order, reports the first failure and stays open;
    // on success stores everything and closes with Accepted.
    void accept() override;

    // The values as last exchanged (the address normalised once accepted).
    const std::string &loginId() const { return m_strId; }
    const std::string &blogUrl() const { return m_strBlogUrl; }
    bool saveId() const { return m_bSaveId != 0; }
    std::uint32_t interval() const { return m_nInterval; }
    // Whether the password is to be kept in the desktop keyring (needs the saved ID).
    bool keepInKeyring() const { return m_bKeyring != 0 && m_bSaveId != 0; }

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
    std::string m_strId;
    std::string m_strPassword;
    std::string m_strBlogUrl;
    int m_bSaveId = 1;
    std::uint32_t m_nInterval = 30;
    // Opt-in: the password in the keyring, under the remembered address and ID.
    int m_bKeyring = 0;
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
