#pragma once

#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>

class QDialog;
class QLineEdit;
class QPushButton;
class QObject;
class QValidator;
class QWidget;

// What the login and settings dialogs share: their message boxes, the number
// fields' parsing and the look of a dialog window.

// Receives every message a dialog would show, instead of the modal box.
using MessageBoxHook =
    std::function<void(QWidget *parent, const QString &text, QMessageBox::Icon icon)>;

// Loads Qt's own Korean texts (standard buttons, edit menus, Qt's messages) into the
// application whatever the session's language, as the program speaks Korean only. False, with
// a warning, when they are not installed (Debian's qt6-translations-l10n).
bool installQtKoreanTranslations();

// Installs hook (an empty one restores the real boxes); returns the previous hook.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// Shows a modal box captioned "Ormix" with an OK button, or hands it to the hook.
void showOrmixMessage(QWidget *parent, const QString &text,
                      QMessageBox::Icon icon = QMessageBox::NoIcon);

// Reports a number field that failed its exchange: a warning box, then the focus
// back in the field with its whole text selected.
void failFieldExchange(QLineEdit *field, const QString &message);

// A number field's text as an unsigned decimal: the first 63 characters, blanks and
// tabs around the digits allowed, no minus sign; values past 32 bits saturate.
// Nothing when no digits are there or anything else follows them.
std::optional<std::uint32_t> parseUnsignedField(const QString &text);

// As parseUnsignedField, signed: an optional sign, saturating at the 32-bit limits.
std::optional<std::int32_t> parseSignedField(const QString &text);

// Lets only the ASCII digits into a line edit.
QValidator *createDigitsOnlyValidator(QObject *parent);

// Face and size of the dialogs' text; the application substitutes a Korean face.
void applyDialogFont(QWidget *dialog);

// Horizontal dialog units in pixels for the widget's font, so fields keep their proportions.
int dialogUnitsToPixels(const QWidget *dialog, int units);

// The dialogs' "확인" (the default button) and "취소", 50 dialog units wide, wired to the
// dialog's accept and reject.
struct OkCancelButtons
{
    QPushButton *ok;
    QPushButton *cancel;
};
OkCancelButtons createOkCancelButtons(QDialog *dialog);

// Tab moves through the widgets in the order given.
void setTabChain(std::initializer_list<QWidget *> widgets);

// The dialogs' frame: the group box above a centred row of OK and Cancel, at a fixed size.
void layOutGroupAndButtons(QWidget *dialog, QWidget *group, QWidget *ok, QWidget *cancel);

// Centres a top-level window on the primary screen's available area.
void centreOnPrimaryScreen(QWidget *window);
