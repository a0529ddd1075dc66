#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;
class Settings;
class TrayAvailability;

// The "other settings" dialog: the strip's transparency, the polling interval, starting with
// the desktop session, desktop notifications, remembering what was seen and the tray icon.
// Accepting stores all six and the autostart entry, and hands a changed interval to this run;
// whoever uses a value follows it in the settings.
class SettingsDialog final : public QDialog
{
    Q_OBJECT

public:
    // Reads the stored choices and the interval in use (which differs from the stored one
    // when the login did not remember it). Run it with exec().
    explicit SettingsDialog(Settings &settings, QWidget *parent = nullptr);
    ~SettingsDialog() override;
    SettingsDialog(const SettingsDialog &) = delete;
    SettingsDialog &operator=(const SettingsDialog &) = delete;
    SettingsDialog(SettingsDialog &&) = delete;
    SettingsDialog &operator=(SettingsDialog &&) = delete;

    // Validates, reports the first failure and stays open; on success stores
    // everything and closes with Accepted.
    void accept() override;

    // Percent, 0 = opaque; the value chosen once the dialog was accepted.
    int transparency() const { return m_transparency; }
    // Whether the program now starts with the session (as it actually holds).
    bool startsWithSession() const { return m_startWithSession != 0; }
    int interval() const { return m_interval; }
    // Opt-in: each notice goes to the desktop's notification server as well.
    bool desktopNotifications() const { return m_desktopNotify; }
    // Opt-in: what came while Ormix was off is announced at the next start.
    bool remembersSeen() const { return m_rememberSeen; }
    // Opt-in: an icon in the panel's tray.
    bool trayIcon() const { return m_trayIcon; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    bool exchangeFromControls();
    void applyAutostart();
    void updateTrayCheck();

    Settings &m_settings;
    int m_transparency = 10;
    int m_startWithSession = 0;
    int m_interval = 30;
    bool m_desktopNotify = false;
    bool m_rememberSeen = false;
    bool m_trayIcon = false;

    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QSlider *m_transparencySlider = nullptr;
    QCheckBox *m_autostartCheck = nullptr;
    QLineEdit *m_intervalEdit = nullptr;
    QCheckBox *m_desktopNotifyCheck = nullptr;
    QCheckBox *m_rememberSeenCheck = nullptr;
    QCheckBox *m_trayIconCheck = nullptr;
    TrayAvailability *m_tray = nullptr; // a Qt child
    bool m_centred = false;
};
