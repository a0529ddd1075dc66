#include "settings.h"

#include "state/settingslocation.h"

#include <QSettings>

#include <limits>

namespace {

struct Entry
{
    const char *name;
    int defaultNumber; // numbers only
};

// Names and defaults as they stand in every settings file written so far.
constexpr std::array<Entry, Settings::KeyCount> Table = {{
    {"BlogURL", 0},
    {"ID", 0},
    {"CHECK_SAVEID", 1},
    {"INTERVAL", 30},
    {"LeftPos", 100},
    {"TopPos", 100},
    {"Width", 150},
    {"Height", 23},
    {"Transparency", 10},
    {"StartWhenWinStart", 0},
    {"KeyringPassword", 0},
    {"DesktopNotify", 0},
    {"RememberSeen", 0},
    {"TrayIcon", 0},
    {"PauseUntil", 0},
}};

// Text values were read into a 100-byte buffer, terminator included.
constexpr std::size_t MaxTextBytes = 99;

// A write is done only when the store reached the disk without error; QSettings writes
// through a temporary file and renames it, so a crash mid-write leaves the previous file whole.
bool commit(QSettings &settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace

Settings::Settings(QObject *parent) : QObject(parent), m_location(settingsStoreLocation()) {}

Settings::~Settings() = default;

QString Settings::name(Key key)
{
    return QString::fromLatin1(Table[std::size_t(key)].name);
}

int Settings::defaultNumber(Key key)
{
    return Table[std::size_t(key)].defaultNumber;
}

const QVariant &Settings::stored(Key key) const
{
    if (!m_loaded) {
        m_loaded = true;
        // One read of the whole file; unreadable, it reads as empty.
        if (const auto store = openSettingsStore(m_location, SettingsAccess::Read)) {
            for (int k = 0; k < KeyCount; ++k)
                m_values[std::size_t(k)] = store->value(name(Key(k)));
        }
    }
    return m_values[std::size_t(key)];
}

std::optional<int> Settings::storedNumber(Key key) const
{
    const QVariant &value = stored(key);
    if (!value.isValid() || value.typeId() == QMetaType::QStringList)
        return std::nullopt;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < std::numeric_limits<qint32>::min() ||
        number > qlonglong(std::numeric_limits<quint32>::max()))
        return std::nullopt;
    // A 32-bit value: the unsigned range reads back as its signed counterpart.
    return static_cast<qint32>(static_cast<quint32>(number));
}

int Settings::number(Key key) const
{
    return storedNumber(key).value_or(defaultNumber(key));
}

std::string Settings::text(Key key) const
{
    const QVariant &value = stored(key);
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return {};
    std::string text = value.toString().toStdString();
    return text.size() <= MaxTextBytes ? text : std::string();
}

bool Settings::setNumber(Key key, int value)
{
    return write(key, value);
}

bool Settings::setText(Key key, const std::string &text)
{
    return write(key, QString::fromStdString(text));
}

bool Settings::write(Key key, const QVariant &value)
{
    const auto store = openSettingsStore(m_location, SettingsAccess::Write);
    if (!store || store->status() != QSettings::NoError)
        return false;
    store->setValue(name(key), value);
    if (!commit(*store))
        return false;
    // Kept in the form the file gives it back.
    stored(key);
    m_values[std::size_t(key)] = value.typeId() == QMetaType::QString ? value : value.toString();
    emit changed(key);
    return true;
}
