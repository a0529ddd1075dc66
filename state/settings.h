#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>
#include <string>

// Every value the program remembers, in one table: its name on disk, its type and its
// default. On Linux the values live in $XDG_CONFIG_HOME/Ormix/Ormix.conf, on Windows under
// HKEY_CURRENT_USER\software\Ormix. They are read from there once, when first asked for, and
// kept; a write goes to the file at once and, once it is there, to the kept copy, and says
// changed(). The password is never written here.
class Settings final : public QObject
{
    Q_OBJECT
public:
    enum Key : int
    {
        BlogUrl,          // text: the normalised blog address
        Id,               // text: the user ID
        SaveId,           // number: 1 remembers address, ID and interval at the login
        Interval,         // number: seconds between polls
        LeftPos,          // number: the strip's place and size, in screen pixels
        TopPos,           //
        Width,            //
        Height,           //
        Transparency,     // number: the strip's transparency in percent, 0 opaque
        StartWithSession, // number: 1 starts Ormix with the desktop session
        KeyringPassword,  // number: 1 keeps the password in the keyring; written once used
        DesktopNotify,    // number: 1 sends notices to the desktop too; written once used
        RememberSeen, // number: 1 remembers what was seen, for the next start; written once used
        TrayIcon,     // number: 1 shows an icon in the panel's tray; written once used
        PauseUntil,   // text: when paused notices resume, UTC (ISO 8601); written once used
    };
    static constexpr int KeyCount = PauseUntil + 1;

    // The settings in the user's settings file.
    explicit Settings(QObject *parent = nullptr);
    ~Settings() override;
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    // The value's name in the file, as every version of Ormix has written it.
    static QString name(Key key);
    static int defaultNumber(Key key);

    // The stored number (a 32-bit value, the unsigned range read as its signed counterpart),
    // or the key's default when it is missing, unreadable or out of range.
    int number(Key key) const;
    // The same without the default.
    std::optional<int> storedNumber(Key key) const;
    // The stored text, or the empty text when it is missing, unreadable or 100 bytes or longer.
    std::string text(Key key) const;

    // Store a value; true once it reached the disk. A value that does not reach it is not
    // kept either: what the file holds is what the program reads.
    bool setNumber(Key key, int value);
    bool setText(Key key, const std::string &text);

    // Where the values are kept (for diagnostics and tests).
    QString location() const { return m_location; }

signals:
    // A value was written.
    void changed(Settings::Key key);

private:
    bool write(Key key, const QVariant &value);
    const QVariant &stored(Key key) const;

    QString m_location;
    mutable bool m_loaded = false;
    mutable std::array<QVariant, KeyCount> m_values;
};
