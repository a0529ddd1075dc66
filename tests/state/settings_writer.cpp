// Rewrites the settings file as fast as it can until it is killed.
#include "state/settings.h"

#include <string>

int main()
{
    const std::string filler(4000, 'x');
    for (std::uint32_t i = 0;; ++i) {
        WriteSettingDword("Counter", i);
        WriteRegistryString(SettingsRoot::CurrentUser, "Filler", filler + std::to_string(i));
    }
}
