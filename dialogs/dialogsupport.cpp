#include "dialogsupport.h"

#include "base/logging.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTranslator>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

MessageBoxHook &messageBoxHook()
{
    static MessageBoxHook hook;
    return hook;
}

// The field buffer the exchange reads holds 63 characters and a terminator.
constexpr qsizetype FieldTextLimit = 63;

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

struct ParsedNumber
{
    bool negative = false;
    // Magnitude, saturated well above any 32-bit value.
    std::uint64_t magnitude = 0;
};

std::optional<ParsedNumber> parseField(const QString &fullText, bool allowMinus)
{
    const QString text = fullText.left(FieldTextLimit);
    qsizetype i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    ParsedNumber number;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        number.negative = text.at(i) == QLatin1Char('-');
        if (number.negative && !allowMinus)
            return std::nullopt;
        ++i;
    }
    const qsizetype firstDigit = i;
    constexpr std::uint64_t saturated = std::uint64_t{1} << 40;
    while (i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
        const auto digit = static_cast<std::uint64_t>(text.at(i).unicode() - u'0');
        number.magnitude = std::min(number.magnitude * 10 + digit, saturated);
        ++i;
    }
    if (i == firstDigit)
        return std::nullopt;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    if (i != text.size())
        return std::nullopt;
    return number;
}

} // namespace

bool installQtKoreanTranslations()
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ko"), folder)) {
        delete translator;
        qCWarning(lcInstance).nospace() << "Qt's Korean texts (qtbase_ko.qm) are not in " << folder
                                        << "; standard buttons read English";
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook)
{
    return std::exchange(messageBoxHook(), std::move(hook));
}

void showOrmixMessage(QWidget *parent, const QString &text, QMessageBox::Icon icon)
{
    if (const MessageBoxHook &hook = messageBoxHook()) {
        hook(parent, text, icon);
        return;
    }
    QMessageBox box(icon, QStringLiteral("Ormix"), text, QMessageBox::Ok, parent);
    // Messages may carry a file path; never let it be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void failFieldExchange(QLineEdit *field, const QString &message)
{
    showOrmixMessage(field->window(), message, QMessageBox::Warning);
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

std::optional<std::uint32_t> parseUnsignedField(const QString &text)
{
    const std::optional<ParsedNumber> number = parseField(text, false);
    if (!number)
        return std::nullopt;
    constexpr std::uint64_t max = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(std::min(number->magnitude, max));
}

std::optional<std::int32_t> parseSignedField(const QString &text)
{
    const std::optional<ParsedNumber> number = parseField(text, true);
    if (!number)
        return std::nullopt;
    constexpr std::int64_t max = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int32_t>::min();
    const auto magnitude = static_cast<std::int64_t>(number->magnitude);
    return static_cast<std::int32_t>(
        std::clamp(number->negative ? -magnitude : magnitude, min, max));
}

QValidator *createDigitsOnlyValidator(QObject *parent)
{
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), parent);
}

void applyDialogFont(QWidget *dialog)
{
    dialog->setFont(QFont(QStringLiteral("돋움"), 9));
}

int dialogUnitsToPixels(const QWidget *dialog, int units)
{
    return QFontMetrics(dialog->font()).averageCharWidth() * units / 4;
}

void centreOnPrimaryScreen(QWidget *window)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

OkCancelButtons createOkCancelButtons(QDialog *dialog)
{
    auto *ok = new QPushButton(QStringLiteral("확인"), dialog);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("취소"), dialog);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton *button : {ok, cancel})
        button->setFixedWidth(dialogUnitsToPixels(dialog, 50));
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return {ok, cancel};
}

void setTabChain(std::initializer_list<QWidget *> widgets)
{
    QWidget *previous = nullptr;
    for (QWidget *widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void layOutGroupAndButtons(QWidget *dialog, QWidget *group, QWidget *ok, QWidget *cancel)
{
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(group);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
