#include "mainframe.h"

#include "app/aboutdialog.h"
#include "client/ormixview.h"
#include "client/reachability.h"
#include "desktop/desktopnotifier.h"
#include "desktop/passwordkeyring.h"
#include "dialogs/logindialog.h"
#include "dialogs/settingsdialog.h"
#include "state/account.h"
#include "state/browserlaunch.h"
#include "state/dashboardmodel.h"
#include "state/settings.h"
#include "ui/noticepopup.h"
#include "ui/statusstrip.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QRect>

CMainFrame::CMainFrame(Account &account, DashboardModel &model, Settings &settings)
    : m_account(account), m_model(model), m_settings(settings)
{
    setWindowTitle(QStringLiteral("Ormix"));
    m_view = new COrmixView(account, model, this);
    // Queued: the dialog runs from the event loop, once the poller's handler is done.
    connect(m_view, &COrmixView::loginNeeded, this, &CMainFrame::runLoginDialog,
            Qt::QueuedConnection);
    connect(m_view, &COrmixView::loginSucceeded, this, &CMainFrame::storePasswordAfterLogin);
    connect(m_view, &COrmixView::loadFailed, this, &CMainFrame::showLoadFailure);
    // The box would go on asserting a failure that no longer holds.
    connect(&model, &DashboardModel::readingChanged, this, [this] {
        if (m_errorBox)
            m_errorBox->close();
    });

    m_notifier = new DesktopNotifier(model, this);
    m_notifier->setEnabled(settings.number(Settings::DesktopNotify) != 0);
    connect(&settings, &Settings::changed, this, [this](Settings::Key key) {
        if (key == Settings::DesktopNotify)
            m_notifier->setEnabled(m_settings.number(Settings::DesktopNotify) != 0);
    });
}

CMainFrame::~CMainFrame()
{
    tearDown();
}

QMessageBox *CMainFrame::errorBox() const
{
    return m_errorBox;
}

void CMainFrame::start(bool credentialsTyped)
{
    createStatusWindow();
    // Polls at once when the network comes back after an outage or a suspend.
    m_reachability = new NetworkReachability(this);
    m_view->setReachabilitySource(m_reachability);
    m_view->setCredentialsTyped(credentialsTyped);
    m_view->OnInitialUpdate();
}

void CMainFrame::tearDown()
{
    // The poll timer stops and the poller goes before the windows that show its readings.
    if (m_view) {
        m_view->OnDestroy();
        delete m_view;
        m_view = nullptr;
    }
    delete m_errorBox.data();
    m_status.reset();
}

void CMainFrame::createStatusWindow()
{
    m_status = std::make_unique<StatusStrip>(m_model, m_settings);
    connect(m_status.get(), &StatusStrip::closeRequested, this, &CMainFrame::close,
            Qt::QueuedConnection);
    connect(m_status.get(), &StatusStrip::settingsRequested, this, &CMainFrame::runSettingsDialog,
            Qt::QueuedConnection);
    connect(m_status.get(), &StatusStrip::aboutRequested, this, &CMainFrame::runAboutDialog,
            Qt::QueuedConnection);
    connect(m_status.get(), &StatusStrip::blogRequested, this,
            [this] { launchWebBrowser(m_account.blogUrl); });
    connect(m_status.get(), &StatusStrip::noticeShown, m_notifier,
            [this](ItemKind kind, const std::string &text, const std::string &link) {
                m_notifier->notify(kind, NoticePopup::heading(kind), QString::fromStdString(text),
                                   link);
            });
    m_status->showAt(QRect(m_settings.number(Settings::LeftPos),
                           m_settings.number(Settings::TopPos), m_settings.number(Settings::Width),
                           m_settings.number(Settings::Height)));
    m_status->setTransparency(m_settings.number(Settings::Transparency));
}

void CMainFrame::runLoginDialog(bool keepTyped)
{
    LoginDialog dialog(m_account, m_settings);
    if (keepTyped)
        dialog.keepTypedValues();
    if (dialog.exec() != QDialog::Accepted) {
        // Cancel ends the run without sending the credentials once more.
        close();
        return;
    }
    m_view->setCredentialsTyped(true);
    m_view->PostLogin();
}

void CMainFrame::showLoadFailure(const QString &message)
{
    // One box at a time: an outage must not pile up a box per poll. Not blocking: the
    // event loop, and with it the next polls, go on.
    if (m_errorBox && m_errorBox->isVisible())
        return;
    auto *box =
        new QMessageBox(QMessageBox::Critical, QStringLiteral("Ormix"), message, QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    m_errorBox = box;
    box->show();
}

void CMainFrame::storePasswordAfterLogin()
{
    // Most logins have nothing to store.
    if (!m_account.keyringEntry.isEmpty())
        passwordkeyring::storeAfterLogin(this, m_account);
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    tearDown();
    event->accept();
    QCoreApplication::quit();
}

void CMainFrame::runSettingsDialog()
{
    // The strip's transparency and the notifier follow the stored choices by themselves.
    SettingsDialog dialog(m_settings, m_account.interval);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.interval() != m_account.interval) {
        m_account.interval = dialog.interval();
        m_view->RestartTimer();
    }
}

void CMainFrame::runAboutDialog()
{
    CAboutDlg dialog;
    dialog.exec();
}
