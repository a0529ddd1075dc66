// The settings file reader: the input becomes Ormix.conf, then every value the
// program reads is read back as the program reads it, and every value of the store is
// checked for having come through QDataStream.
#include "settings/settings.h"
#include "settings/settingslocation.h"

#include <QByteArray>
#include <QSettings>
#include <QVariant>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace {

std::string g_file;
long g_stamp = 1000000000;

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// What QSettings makes of an INI value without QDataStream: text, a list, the forms it
// parses itself, or a list of those. Anything else was decoded by QDataStream, which the
// guard in front of the store must never let happen, whether or not it crashes.
bool readWithoutDataStream(const QVariant &value, bool inList = false)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QRect:
    case QMetaType::QSize:
    case QMetaType::QPoint:
        return true;
    case QMetaType::QStringList:
        return !inList;
    case QMetaType::QVariantList: {
        if (inList)
            return false;
        const QVariantList list = value.toList();
        for (const QVariant &element : list) {
            if (!readWithoutDataStream(element, true))
                return false;
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/ormix-fuzz-settings-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir)
        std::abort();
    setenv("XDG_CONFIG_HOME", dir, 1);
    const std::string folder = std::string(dir) + "/Ormix";
    mkdir(folder.c_str(), 0700);
    g_file = folder + "/Ormix.conf";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FILE *f = std::fopen(g_file.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    // A fresh time stamp each run, or the settings cache would keep the previous file
    // when two inputs have the same size.
    const timespec times[2] = {{g_stamp, 0}, {g_stamp, 0}};
    ++g_stamp;
    utimensat(AT_FDCWD, g_file.c_str(), times, 0);

    // A fresh table reads the file anew: every value, typed.
    const Settings settings;
    const auto checkNumber = [&settings](SettingKey<int> key) {
        if (!settings.isStored(key))
            check(settings.value(key) == Settings::defaultValue(key));
    };
    const auto checkOnOff = [&settings](SettingKey<bool> key) {
        if (!settings.isStored(key))
            check(settings.value(key) == Settings::defaultValue(key));
    };
    for (const SettingKey<int> key :
         {Settings::Interval, Settings::LeftPos, Settings::TopPos, Settings::Width,
          Settings::Height, Settings::Transparency, Settings::StartWithSession})
        checkNumber(key);
    for (const SettingKey<bool> key : {Settings::SaveId, Settings::KeyringPassword,
                                       Settings::DesktopNotify, Settings::RememberSeen})
        checkOnOff(key);
    for (const SettingKey<QString> key : {Settings::BlogUrl, Settings::Id})
        check(settings.value(key).toUtf8().size() < 100);
    if (const auto store = openSettingsStore(settings.location(), SettingsAccess::Read)) {
        const QStringList keys = store->allKeys();
        for (const QString &key : keys)
            check(readWithoutDataStream(store->value(key)));
    }
    return 0;
}
