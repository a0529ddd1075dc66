#include "settings.h"

#include "state/settingslocation.h"

#include <QString>
#include <QVariant>

#include <limits>

static QString key(const std::string &valueName)
{
    return QString::fromStdString(valueName);
}

// A write is done only when the store reached the disk without error; QSettings
// writes through a temporary file and renames it, so a crash mid-write leaves the
// previous file whole.
static bool commit(QSettings &settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool WriteRegistryString(SettingsRoot, const std::string &valueName, const std::string &text)
{
    auto settings = OpenSettingsStore(SettingsAccess::Write);
    if (!settings || settings->status() != QSettings::NoError)
        return false;
    settings->setValue(key(valueName), QString::fromStdString(text));
    return commit(*settings);
}

bool WriteSettingDword(const std::string &valueName, std::uint32_t value)
{
    auto settings = OpenSettingsStore(SettingsAccess::Write);
    if (!settings || settings->status() != QSettings::NoError)
        return false;
    // Kept in its signed reading, so a window position left of the screen reads as -5.
    settings->setValue(key(valueName), static_cast<qint32>(value));
    return commit(*settings);
}

bool ReadSettingDword(int defaultValue, const std::string &valueName, int &value)
{
    value = defaultValue;
    // One bounded read of the file: this runs on every poll (the transparency).
    const QVariant stored = ReadOneSettingValue(valueName);
    if (!stored.isValid() || stored.typeId() == QMetaType::QStringList)
        return false;
    bool ok = false;
    const qlonglong number = stored.toString().trimmed().toLongLong(&ok);
    if (!ok || number < std::numeric_limits<qint32>::min() ||
        number > qlonglong(std::numeric_limits<quint32>::max()))
        return false;
    // A 32-bit value: the unsigned range reads back as its signed counterpart.
    value = static_cast<qint32>(static_cast<quint32>(number));
    return true;
}

bool ReadSettingString(const std::string &valueName, std::string &value)
{
    value.clear();
    auto settings = OpenSettingsStore(SettingsAccess::Read);
    if (!settings)
        return false;
    const QVariant stored = settings->value(key(valueName));
    if (!stored.isValid() || stored.typeId() != QMetaType::QString)
        return false;
    std::string text = stored.toString().toStdString();
    // The value and its terminator must fit the caller's 100-byte buffer.
    if (text.size() + 1 > SettingStringBufferSize)
        return false;
    value = std::move(text);
    return true;
}

std::string SettingsFilePath()
{
    return SettingsStoreLocation().toStdString();
}
