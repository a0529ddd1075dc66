// Rewrites the settings file as fast as it can until it is killed.
#include "state/settings.h"

#include <string>

int main()
{
    const std::string filler(4000, 'x');
    Settings settings;
    for (int i = 0;; ++i) {
        settings.setNumber(Settings::Interval, i);
        settings.setText(Settings::BlogUrl, filler + std::to_string(i));
    }
}
