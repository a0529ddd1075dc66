#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>

// A value the program remembers, of type T (bool, int or QString): its row in the table of
// names on disk and defaults in settings.cpp.
template<typename T> struct SettingKey
{
    int index;
};

// Every value the program remembers, in one table: its name on disk, its type and its
// default. The values live in $XDG_CONFIG_HOME/Ormix/Ormix.conf; they are read from there
// once, when first asked for, and kept. A write opens the file afresh, behind the guard that
// reads it, and, once the value is on disk, keeps it and tells whoever observes it. The
// password is never written here.
class Settings final : public QObject
{
    Q_OBJECT
public:
    // The normalised blog address and the user ID.
    static constexpr SettingKey<QString> BlogUrl{0};
    static constexpr SettingKey<QString> Id{1};
    // Remember address, ID and interval at the login.
    static constexpr SettingKey<bool> SaveId{2};
    // Seconds between polls, as the login or the settings dialog stored it.
    static constexpr SettingKey<int> Interval{3};
    // The strip's place and size, in screen pixels.
    static constexpr SettingKey<int> LeftPos{4};
    static constexpr SettingKey<int> TopPos{5};
    static constexpr SettingKey<int> Width{6};
    static constexpr SettingKey<int> Height{7};
    // The strip's transparency in percent, 0 opaque.
    static constexpr SettingKey<int> Transparency{8};
    // 1 (or 2) starts Ormix with the desktop session; any other value does not.
    static constexpr SettingKey<int> StartWithSession{9};
    // The opt-in choices, each written only once it was used.
    static constexpr SettingKey<bool> KeyringPassword{10};
    static constexpr SettingKey<bool> DesktopNotify{11};
    static constexpr SettingKey<bool> RememberSeen{12};
    static constexpr SettingKey<bool> TrayIcon{13};
    // When paused notices resume, UTC (ISO 8601); empty when not paused.
    static constexpr SettingKey<QString> PauseUntil{14};
    // The interval this run polls at: the one typed at the login (which may not be
    // remembered) or chosen in the settings dialog since. Never written to disk.
    static constexpr SettingKey<int> PollInterval{15};
    static constexpr int KeyCount = 16;

    // The settings in the user's settings file.
    explicit Settings(QObject *parent = nullptr);
    ~Settings() override;
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    // The value's name in the file, as every version of Ormix has written it; empty for a
    // value of the run alone.
    static QString name(int index);
    static bool defaultValue(SettingKey<bool> key);
    static int defaultValue(SettingKey<int> key);
    static QString defaultValue(SettingKey<QString> key);

    // The stored value, or the key's default when it is missing or unreadable. A number is a
    // 32-bit value, the unsigned range read as its signed counterpart; an on/off value is
    // such a number, on when it is not 0; a text of 100 bytes or more reads as empty.
    bool value(SettingKey<bool> key) const;
    int value(SettingKey<int> key) const;
    QString value(SettingKey<QString> key) const;
    // Whether the file holds a readable value of the key's type.
    template<typename T> bool isStored(SettingKey<T> key) const { return read(key).has_value(); }

    // Stores a value; true once it reached the disk. A value that does not reach it is not
    // kept either: what the file holds is what the program reads. An opt-in choice that was
    // never turned on is not written off either, so the file stays as it was.
    bool set(SettingKey<bool> key, bool value);
    bool set(SettingKey<int> key, int value);
    bool set(SettingKey<QString> key, const QString &value);

    // Calls fn with the key's value now and again after each write of it, for as long as
    // context lives: how a consumer follows the one setting it needs.
    template<typename T, typename Fn>
    void observe(SettingKey<T> key, const QObject *context, Fn fn) const
    {
        fn(value(key));
        connect(this, &Settings::changed, context, [this, key, fn](int index) {
            if (index == key.index)
                fn(value(key));
        });
    }

    // Where the values are kept (for diagnostics and tests).
    QString location() const { return m_location; }

signals:
    // A value was written (index: its key's).
    void changed(int index);

private:
    std::optional<int> read(SettingKey<int> key) const;
    std::optional<bool> read(SettingKey<bool> key) const;
    std::optional<QString> read(SettingKey<QString> key) const;
    std::optional<int> readNumber(int index) const;
    bool write(int index, const QVariant &value);
    const QVariant &stored(int index) const;

    QString m_location;
    mutable bool m_loaded = false;
    mutable std::array<QVariant, KeyCount> m_values;
};
