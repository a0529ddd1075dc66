#include "settingsdialog.h"

#include "desktop/autostart.h"
#include "desktop/trayavailability.h"
#include "dialogs/dialogsupport.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int MinimumTransparency = 0;
constexpr int MaximumTransparency = 100;
constexpr int MinimumInterval = 10;
constexpr int MaximumInterval = 100000000;

} // namespace

SettingsDialog::SettingsDialog(Settings &settings, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_interval(settings.value(Settings::PollInterval))
{
    buildControls();

    m_transparency = settings.value(Settings::Transparency);
    const int startWithSession = settings.value(Settings::StartWithSession);
    m_startWithSession = startWithSession >= 0 && startWithSession <= 2 ? startWithSession : 0;
    m_desktopNotify = settings.value(Settings::DesktopNotify);
    m_rememberSeen = settings.value(Settings::RememberSeen);
    m_trayIcon = settings.value(Settings::TrayIcon);

    // The slider clamps a stored value outside its range.
    m_transparencySlider->setValue(m_transparency);
    m_autostartCheck->setChecked(m_startWithSession != 0);
    m_intervalEdit->setText(QString::number(m_interval));
    m_desktopNotifyCheck->setChecked(m_desktopNotify);
    m_rememberSeenCheck->setChecked(m_rememberSeen);
    m_trayIconCheck->setChecked(m_trayIcon);
    m_okButton->setFocus(Qt::OtherFocusReason);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::buildControls()
{
    setWindowTitle(QStringLiteral("기타 설정"));
    applyDialogFont(this);

    const OkCancelButtons buttons = createOkCancelButtons(this);
    m_okButton = buttons.ok;
    m_cancelButton = buttons.cancel;

    m_transparencySlider = new QSlider(Qt::Horizontal, this);
    m_transparencySlider->setObjectName(QStringLiteral("transparencySlider"));
    m_transparencySlider->setRange(MinimumTransparency, MaximumTransparency);
    m_transparencySlider->setTickPosition(QSlider::NoTicks);
    m_transparencySlider->setFocusPolicy(Qt::StrongFocus);
    m_transparencySlider->setFixedWidth(dialogUnitsToPixels(this, 65));
    m_autostartCheck = new QCheckBox(QStringLiteral("로그인할 때 자동 실행"), this);
    m_autostartCheck->setObjectName(QStringLiteral("autostartCheck"));
    m_intervalEdit = new QLineEdit(this);
    m_intervalEdit->setObjectName(QStringLiteral("intervalEdit"));
    m_intervalEdit->setValidator(createDigitsOnlyValidator(m_intervalEdit));
    m_intervalEdit->setFixedWidth(dialogUnitsToPixels(this, 40));

    auto *group = new QGroupBox(this);
    // Left end opaque, right end transparent: the labels sit under the slider's ends.
    auto *sliderEnds = new QHBoxLayout;
    sliderEnds->addWidget(new QLabel(QStringLiteral("(불투명)"), group));
    sliderEnds->addStretch();
    sliderEnds->addWidget(new QLabel(QStringLiteral("(투명)"), group));
    auto *sliderColumn = new QVBoxLayout;
    sliderColumn->addWidget(m_transparencySlider);
    sliderColumn->addLayout(sliderEnds);

    auto *intervalRow = new QHBoxLayout;
    intervalRow->addWidget(m_intervalEdit);
    intervalRow->addWidget(new QLabel(QStringLiteral("초"), group));
    intervalRow->addStretch();

    auto *grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("투명도"), group), 0, 0, Qt::AlignTop);
    grid->addLayout(sliderColumn, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("조회주기"), group), 1, 0);
    grid->addLayout(intervalRow, 1, 1);
    grid->addWidget(m_autostartCheck, 2, 0, 1, 2);

    layOutGroupAndButtons(this, group, m_okButton, m_cancelButton);

    // Below everything of the original dialog, so its controls keep their places.
    m_desktopNotifyCheck = new QCheckBox(QStringLiteral("바탕화면 알림도 보내기"), this);
    m_desktopNotifyCheck->setObjectName(QStringLiteral("desktopNotifyCheck"));
    layout()->addWidget(m_desktopNotifyCheck);
    m_rememberSeenCheck = new QCheckBox(QStringLiteral("꺼져 있던 동안 온 글도 알리기"), this);
    m_rememberSeenCheck->setObjectName(QStringLiteral("rememberSeenCheck"));
    layout()->addWidget(m_rememberSeenCheck);
    m_trayIconCheck = new QCheckBox(QStringLiteral("알림 영역에 아이콘 표시"), this);
    m_trayIconCheck->setObjectName(QStringLiteral("trayIconCheck"));
    layout()->addWidget(m_trayIconCheck);

    setTabChain({m_okButton, m_cancelButton, m_transparencySlider, m_autostartCheck, m_intervalEdit,
                 m_desktopNotifyCheck, m_rememberSeenCheck, m_trayIconCheck});

    // Usable once a tray is known to be there; the box says why not meanwhile.
    m_tray = new TrayAvailability(this);
    connect(m_tray, &TrayAvailability::changed, this, &SettingsDialog::updateTrayCheck);
    updateTrayCheck();
}

void SettingsDialog::updateTrayCheck()
{
    const bool usable = m_tray->isAvailable();
    m_trayIconCheck->setEnabled(usable);
    m_trayIconCheck->setToolTip(usable              ? QString()
                                : m_tray->isKnown() ? TrayAvailability::unavailableText()
                                                    : TrayAvailability::lookingText());
}

bool SettingsDialog::exchangeFromControls()
{
    m_transparency = m_transparencySlider->value();
    m_startWithSession = m_autostartCheck->isChecked() ? 1 : 0;
    m_desktopNotify = m_desktopNotifyCheck->isChecked();
    m_rememberSeen = m_rememberSeenCheck->isChecked();
    // A box that could not be changed keeps the choice as stored.
    if (m_trayIconCheck->isEnabled())
        m_trayIcon = m_trayIconCheck->isChecked();
    if (m_transparency < MinimumTransparency || m_transparency > MaximumTransparency) {
        showOrmixMessage(this, QStringLiteral("0에서 100 사이의 정수를 입력하세요."),
                         QMessageBox::Warning);
        return false;
    }
    const std::optional<std::int32_t> interval = parseSignedField(m_intervalEdit->text());
    if (!interval) {
        failFieldExchange(m_intervalEdit, QStringLiteral("정수를 입력하세요."));
        return false;
    }
    m_interval = *interval;
    if (m_interval < MinimumInterval || m_interval > MaximumInterval) {
        failFieldExchange(m_intervalEdit, QStringLiteral("%1에서 %2 사이의 정수를 입력하세요.")
                                              .arg(QString::number(MinimumInterval),
                                                   QString::number(MaximumInterval)));
        return false;
    }
    return true;
}

void SettingsDialog::accept()
{
    if (!exchangeFromControls())
        return;

    m_settings.set(Settings::Transparency, m_transparency);
    m_settings.set(Settings::StartWithSession, m_startWithSession);
    m_settings.set(Settings::Interval, m_interval);
    m_settings.set(Settings::DesktopNotify, m_desktopNotify);
    m_settings.set(Settings::RememberSeen, m_rememberSeen);
    m_settings.set(Settings::TrayIcon, m_trayIcon);
    // An unchanged interval leaves the poll timer alone.
    if (m_interval != m_settings.value(Settings::PollInterval))
        m_settings.set(Settings::PollInterval, m_interval);
    applyAutostart();
    QDialog::accept();
}

void SettingsDialog::applyAutostart()
{
    const bool wanted = m_startWithSession != 0;
    const bool done =
        wanted ? writeAutostartEntry(QCoreApplication::applicationFilePath().toStdString())
               : removeAutostartEntry();
    if (done)
        return;

    // Remember what actually holds, so the box never shows a choice that has no effect.
    m_startWithSession = autostartEntryExists() ? 1 : 0;
    m_settings.set(Settings::StartWithSession, m_startWithSession);
    const QString where = QString::fromStdString(autostartEntryPath());
    const QString text = wanted ? QStringLiteral("자동 실행 설정을 저장하지 못했습니다.")
                                : QStringLiteral("자동 실행 설정을 해제하지 못했습니다.");
    showOrmixMessage(this, where.isEmpty() ? text : text + QLatin1Char('\n') + where,
                     QMessageBox::Warning);
}

void SettingsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_centred) {
        centreOnPrimaryScreen(this);
        m_centred = true;
    }
}
