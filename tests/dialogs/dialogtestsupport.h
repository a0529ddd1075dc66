#pragma once

// What the dialog tests share: a dialog's controls by object name, the OK button, and the
// settings file written and read afresh around a dialog (which keeps its own settings).
#include "settings/settings.h"

#include <QDialog>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <initializer_list>
#include <string>

template<typename T> T *child(QWidget &dialog, const char *name)
{
    return dialog.findChild<T *>(QLatin1String(name));
}

inline void clickOk(QDialog &dialog)
{
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
}

inline QStringList utf8List(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *text : texts)
        out.append(QString::fromUtf8(text));
    return out;
}

// The object names of the controls Tab visits, from first round to first again.
inline QStringList tabChain(QWidget *first)
{
    QStringList chain;
    QWidget *w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain.append(w->objectName());
        w = w->nextInFocusChain();
    } while (w != first);
    return chain;
}

// The settings file as it is now, not as a dialog's table last read it.
template<typename T> int storedNumber(SettingKey<T> key, int fallback = -1)
{
    const Settings settings;
    return settings.isStored(key) ? int(settings.value(key)) : fallback;
}
inline std::string storedText(SettingKey<QString> key)
{
    return Settings().value(key).toStdString();
}
inline bool store(SettingKey<int> key, int value)
{
    return Settings().set(key, value);
}
inline bool store(SettingKey<bool> key, bool value)
{
    return Settings().set(key, value);
}
inline bool store(SettingKey<QString> key, const std::string &value)
{
    return Settings().set(key, QString::fromStdString(value));
}
