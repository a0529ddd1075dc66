// The settings file reader: the input becomes Ormix.conf, then every value the
// program reads is read back as the program reads it.
#include "state/settings.h"

#include <QByteArray>

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

    static const char *const numbers[] = {"LeftPos",      "TopPos",           "Width",
                                          "Height",       "Transparency",     "INTERVAL",
                                          "CHECK_SAVEID", "StartWhenWinStart"};
    for (const char *name : numbers) {
        int value = 0;
        if (!ReadSettingDword(-12345, name, value))
            check(value == -12345);
    }
    static const char *const texts[] = {"BlogURL", "ID"};
    for (const char *name : texts) {
        std::string value = "stale";
        const bool found = ReadSettingString(name, value);
        check(value.size() < SettingStringBufferSize);
        if (!found)
            check(value.empty());
    }
    return 0;
}
