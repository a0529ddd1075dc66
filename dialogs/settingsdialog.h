#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;
class Settings;

// The "other settings" dialog: status window transparency, polling interval and
// start with the desktop session. Accepting stores all three; the caller applies
// transparency() and a changed interval().
class CSettingDlg final : public QDialog
{
    Q_OBJECT

public:
    // Reads the stored choices; intervalInUse differs from the stored interval when the
    // login did not remember it. Run it with exec().
    CSettingDlg(Settings &settings, int intervalInUse, QWidget *parent = nullptr);
    ~CSettingDlg() override;
    CSettingDlg(const CSettingDlg &) = delete;
    CSettingDlg &operator=(const CSettingDlg &) = delete;
    CSettingDlg(CSettingDlg &&) = delete;
    CSettingDlg &operator=(CSettingDlg &&) = delete;

    // Validates, reports the first failure and stays open; on success stores
    // everything and closes with Accepted.
    void accept() override;

    // Percent, 0 = opaque; the value chosen once the dialog was accepted.
    int transparency() const { return m_nTransparency; }
    // Whether the program now starts with the session (as it actually holds).
    bool startsWithSession() const { return m_bStartWithWindows != 0; }
    int interval() const { return m_nInterval; }
    // Opt-in: each notice goes to the desktop's notification server as well.
    bool desktopNotifications() const { return m_bDesktopNotify != 0; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    bool exchangeFromControls();
    void applyAutostart();

    Settings &m_settings;
    int m_nTransparency = 10;
    int m_bStartWithWindows = 0;
    int m_nInterval = 30;
    int m_bDesktopNotify = 0;

    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QSlider *m_transparencySlider = nullptr;
    QCheckBox *m_autostartCheck = nullptr;
    QLineEdit *m_intervalEdit = nullptr;
    QCheckBox *m_desktopNotifyCheck = nullptr;
    bool m_centred = false;
};
