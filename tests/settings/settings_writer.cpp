// Rewrites the settings file as fast as it can until it is killed.
#include "settings/settings.h"

int main()
{
    const QString filler(4000, QLatin1Char('x'));
    Settings settings;
    for (int i = 0;; ++i) {
        settings.set(Settings::Interval, i);
        settings.set(Settings::BlogUrl, filler + QString::number(i));
    }
}
