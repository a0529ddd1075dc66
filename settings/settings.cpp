#include "settings.h"

#include "settings/settingslocation.h"

#include <QSettings>

#include <limits>

namespace {

enum class Type
{
    Text,
    Number,
    OnOff
};

// What stands in the file under a key (a number in decimal, on/off as 1 and 0), and its
// default. A value without a name belongs to the run and never reaches the file.
struct Entry
{
    const char *name;
    Type type;
    int defaultNumber; // numbers and on/off values only
    // Written only once it was turned on: with the option never used, the file stays as it
    // was.
    bool writtenOnceUsed;
};

// Names and defaults as they stand in every settings file written so far.
constexpr std::array<Entry, Settings::KeyCount> Table = {{
    {"BlogURL", Type::Text, 0, false},
    {"ID", Type::Text, 0, false},
    {"CHECK_SAVEID", Type::OnOff, 1, false},
    {"INTERVAL", Type::Number, 30, false},
    {"LeftPos", Type::Number, 100, false},
    {"TopPos", Type::Number, 100, false},
    {"Width", Type::Number, 150, false},
    {"Height", Type::Number, 23, false},
    {"Transparency", Type::Number, 10, false},
    {"StartWhenWinStart", Type::Number, 0, false},
    {"KeyringPassword", Type::OnOff, 0, true},
    {"DesktopNotify", Type::OnOff, 0, true},
    {"RememberSeen", Type::OnOff, 0, true},
    {"TrayIcon", Type::OnOff, 0, true},
    {"PauseUntil", Type::Text, 0, true},
    {nullptr, Type::Number, 30, false},
}};

const Entry &entry(int index)
{
    return Table[std::size_t(index)];
}

// Text values were read into a 100-byte buffer, terminator included.
constexpr qsizetype MaxTextBytes = 99;

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

QString Settings::name(int index)
{
    const char *name = entry(index).name;
    return name ? QString::fromLatin1(name) : QString();
}

bool Settings::defaultValue(SettingKey<bool> key)
{
    return entry(key.index).defaultNumber != 0;
}

int Settings::defaultValue(SettingKey<int> key)
{
    return entry(key.index).defaultNumber;
}

QString Settings::defaultValue(SettingKey<QString>)
{
    return {};
}

const QVariant &Settings::stored(int index) const
{
    if (!m_loaded) {
        m_loaded = true;
        // One read of the whole file; unreadable, it reads as empty.
        if (const auto store = openSettingsStore(m_location, SettingsAccess::Read)) {
            for (int k = 0; k < KeyCount; ++k) {
                if (entry(k).name)
                    m_values[std::size_t(k)] = store->value(name(k));
            }
        }
    }
    return m_values[std::size_t(index)];
}

std::optional<int> Settings::readNumber(int index) const
{
    const QVariant &value = stored(index);
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

std::optional<int> Settings::read(SettingKey<int> key) const
{
    return readNumber(key.index);
}

std::optional<bool> Settings::read(SettingKey<bool> key) const
{
    const std::optional<int> number = readNumber(key.index);
    if (!number)
        return std::nullopt;
    return *number != 0;
}

std::optional<QString> Settings::read(SettingKey<QString> key) const
{
    const QVariant &value = stored(key.index);
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return std::nullopt;
    QString text = value.toString();
    if (text.toUtf8().size() > MaxTextBytes)
        return std::nullopt;
    return text;
}

bool Settings::value(SettingKey<bool> key) const
{
    return read(key).value_or(defaultValue(key));
}

int Settings::value(SettingKey<int> key) const
{
    return read(key).value_or(defaultValue(key));
}

QString Settings::value(SettingKey<QString> key) const
{
    return read(key).value_or(QString());
}

bool Settings::set(SettingKey<bool> key, bool value)
{
    // Off, and never on: nothing to write.
    if (entry(key.index).writtenOnceUsed && !value && !this->value(key))
        return true;
    return write(key.index, value ? 1 : 0);
}

bool Settings::set(SettingKey<int> key, int value)
{
    return write(key.index, value);
}

bool Settings::set(SettingKey<QString> key, const QString &value)
{
    // Empty, and empty already: nothing to write.
    if (entry(key.index).writtenOnceUsed && value.isEmpty() && this->value(key).isEmpty())
        return true;
    return write(key.index, value);
}

bool Settings::write(int index, const QVariant &value)
{
    stored(index);
    if (entry(index).name) {
        const auto store = openSettingsStore(m_location, SettingsAccess::Write);
        if (!store || store->status() != QSettings::NoError)
            return false;
        store->setValue(name(index), value);
        if (!commit(*store))
            return false;
    }
    // Kept in the form the file gives it back.
    m_values[std::size_t(index)] =
        value.typeId() == QMetaType::QString ? value : QVariant(value.toString());
    emit changed(index);
    return true;
}
