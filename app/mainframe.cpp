#include "mainframe.h"

#include "app/aboutdialog.h"
#include "client/ormixview.h"
#include "client/reachability.h"
#include "desktop/desktopnotifier.h"
#include "desktop/passwordkeyring.h"
#include "dialogs/logindialog.h"
#include "dialogs/settingsdialog.h"
#include "state/secret.h"
#include "state/settings.h"
#include "state/tinfo.h"
#include "ui/itemkind.h"
#include "ui/noticewindow.h"
#include "ui/statuswindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

CMainFrame::CMainFrame()
{
    setWindowTitle(QStringLiteral("Ormix"));
    // The view's form: an address to open by hand. The frame never shows, so nobody reaches
    // these two; a page loaded through them would go through the driver like any other.
    auto *form = new QWidget(this);
    auto *layout = new QHBoxLayout(form);
    m_address = new QLineEdit(form);
    auto *go = new QPushButton(QStringLiteral("Go"), form);
    layout->addWidget(m_address);
    layout->addWidget(go);
    setCentralWidget(form);

    m_view = new COrmixView(this, this);

    m_notifier = new DesktopNotifier(this);
    int desktopNotify = 0;
    ReadSettingDword(0, "DesktopNotify", desktopNotify);
    m_notifier->setEnabled(desktopNotify != 0);
    connect(m_notifier, &DesktopNotifier::activated, this, &CMainFrame::openNotifiedItem);
    connect(go, &QPushButton::clicked, this,
            [this] { m_view->OnGo(m_address->text().toStdString()); });
}

CMainFrame::~CMainFrame()
{
    tearDown();
}

void CMainFrame::start(bool credentialsTyped)
{
    m_view->setCredentialsTyped(credentialsTyped);
    // Polls at once when the network comes back after an outage or a suspend.
    m_reachability = new NetworkReachability(this);
    m_view->setReachabilitySource(m_reachability);
    m_view->OnInitialUpdate();
}

void CMainFrame::tearDown()
{
    // The poll timer stops and the view goes before the windows it refreshes.
    if (m_view) {
        m_view->OnDestroy();
        delete m_view;
        m_view = nullptr;
    }
    delete m_errorBox.data();
    m_status.reset();
}

void CMainFrame::HideFrame()
{
    hide();
}

IStatusWindow *CMainFrame::CreateStatusWindow(const QRect &rect)
{
    m_status = std::make_unique<COrmixWnd>();
    connect(m_status.get(), &COrmixWnd::closeRequested, this, &CMainFrame::CloseMainFrame);
    connect(m_status.get(), &COrmixWnd::settingsRequested, this, &CMainFrame::runSettingsDialog,
            Qt::QueuedConnection);
    connect(m_status.get(), &COrmixWnd::noticeShown, m_notifier,
            [this](int kind, const std::string &text, const std::string &link) {
                m_notifier->notify(kind, CNoticeWnd::heading(kind), QString::fromStdString(text),
                                   link);
            });
    connect(m_status.get(), &COrmixWnd::aboutRequested, this, &CMainFrame::runAboutDialog,
            Qt::QueuedConnection);
    m_status->Create(rect);
    return m_status.get();
}

bool CMainFrame::RunLoginDialog(bool keepTyped)
{
    TLogin dialog;
    if (keepTyped)
        dialog.keepTypedValues();
    return dialog.exec() == QDialog::Accepted;
}

void CMainFrame::ShowNavigationError(const QString &message)
{
    // Not blocking: the event loop, and with it the next page loads, goes on.
    auto *box =
        new QMessageBox(QMessageBox::Critical, QStringLiteral("Ormix"), message, QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    m_errorBox = box;
    box->show();
}

bool CMainFrame::IsNavigationErrorShowing() const
{
    return m_errorBox && m_errorBox->isVisible();
}

void CMainFrame::CloseNavigationError()
{
    if (m_errorBox)
        m_errorBox->close();
}

void CMainFrame::CloseMainFrame()
{
    QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
}

void CMainFrame::LoginSucceeded()
{
    // Most logins have nothing to store: no copy of the password is made for them.
    if (passwordkeyring::PendingEntry().isEmpty())
        return;
    std::string password = GetTInfo()->GetPassword();
    passwordkeyring::StorePendingAfterLogin(this, password);
    WipeString(password);
}

void CMainFrame::openNotifiedItem(int kind, const std::string &link)
{
    // What a click on the notice does: the same safe opening, the flag cleared.
    lTInfo *info = GetTInfo();
    info->OpenURL(link);
    itemkind::clearNew(*info, kind);
    if (m_status)
        m_status->Refresh();
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    tearDown();
    event->accept();
    QCoreApplication::quit();
}

void CMainFrame::runSettingsDialog()
{
    CSettingDlg dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_notifier->setEnabled(dialog.desktopNotifications());
    if (m_status)
        m_status->SetTransparency(dialog.transparency());
}

void CMainFrame::runAboutDialog()
{
    CAboutDlg dialog;
    dialog.exec();
}
