#include "windowprompter.h"

#include "app/aboutdialog.h"
#include "dialogs/settingsdialog.h"

#include <QMessageBox>

WindowPrompter::WindowPrompter() = default;

WindowPrompter::~WindowPrompter()
{
    delete m_errorBox.data();
}

std::optional<LoginChoice> WindowPrompter::askLogin(Account &account, Settings &settings,
                                                    const std::optional<LoginAgain> &again)
{
    LoginDialog dialog(account, settings);
    if (again)
        dialog.showAgain(*again);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}

void WindowPrompter::askSettings(Settings &settings)
{
    SettingsDialog dialog(settings);
    dialog.exec();
}

void WindowPrompter::showAbout()
{
    AboutDialog dialog;
    dialog.exec();
}

void WindowPrompter::openErrorBox(const QString &text)
{
    closeErrorBox();
    // Not blocking: the event loop, and with it the next polls, go on.
    auto *box =
        new QMessageBox(QMessageBox::Critical, QStringLiteral("Ormix"), text, QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    m_errorBox = box;
    box->show();
}

void WindowPrompter::closeErrorBox()
{
    if (m_errorBox)
        m_errorBox->close();
}

bool WindowPrompter::isErrorBoxOpen() const
{
    return m_errorBox && m_errorBox->isVisible();
}
