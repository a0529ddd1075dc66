#include "application.h"

#include "app/commandline.h"
#include "app/controller.h"
#include "base/logging.h"
#include "base/secret.h"
#include "desktop/passwordkeyring.h"
#include "desktop/processhardening.h"
#include "dialogs/dialogsupport.h"
#include "settings/settings.h"
#include "ui/statusstrip.h"
#include "ui/windowlook.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// How long the start waits for the keyring before it asks for the login instead.
constexpr int KeyringWaitMs = 5000;

void describeApplication(QCoreApplication &app)
{
    app.setApplicationName(QStringLiteral("Ormix"));
    app.setApplicationVersion(QStringLiteral(ORMIX_VERSION_TEXT));
}

void setUpParser(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Watches a hosted blog's dashboard and announces new comments, trackbacks and\n"
        "guestbook entries: logs in to the blog's administration, reloads the dashboard\n"
        "at the chosen interval and shows today's visitor count in an always-on-top strip.\n"
        "\n"
        "Settings: $XDG_CONFIG_HOME/Ormix/Ormix.conf (usually ~/.config/Ormix/Ormix.conf);\n"
        "Ormix never writes the password to a file; only the opt-in keyring option\n"
        "keeps it, in the desktop keyring.\n"
        "Environment: http_proxy, https_proxy, no_proxy (proxy), SSL_CERT_FILE (extra\n"
        "trusted certificates), QT_LOGGING_RULES (logging), DISPLAY, QT_QPA_PLATFORM,\n"
        "XDG_CONFIG_HOME, XDG_STATE_HOME. See ormix(1)."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// With the keyring option on and address and ID remembered, the password stored for them
// fills the account as an accepted login dialog would. False leaves the account alone.
bool loginFromKeyring(Account &account, Settings &settings)
{
    const QString key = passwordkeyring::rememberedEntry(settings);
    if (key.isEmpty())
        return false;

    // Nothing else runs yet, so no window or timer waits with us; but a keyring that is
    // slow, or locked behind an unlock prompt nobody answers, must not hold up the start.
    std::string password;
    const passwordkeyring::ReadOutcome outcome =
        passwordkeyring::readPasswordWithin(key, KeyringWaitMs, password);
    if (outcome != passwordkeyring::ReadOutcome::Found) {
        if (outcome == passwordkeyring::ReadOutcome::NoAnswer)
            qCWarning(lcLogin) << "the keyring did not answer within" << KeyringWaitMs / 1000
                               << "s; asking for the login instead";
        wipeString(password);
        return false;
    }
    account.id = settings.value(Settings::Id).toStdString();
    account.setPassword(password);
    account.blogUrl = settings.value(Settings::BlogUrl).toStdString();
    // As the login dialog would accept it: at least 10 seconds.
    settings.set(Settings::PollInterval, std::max(settings.value(Settings::Interval), 10));
    wipeString(password);
    return true;
}

} // namespace

bool handleInformationalOptions(int argc, char **argv, int &exitCode)
{
    bool informational = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h") || !std::strcmp(arg, "-?") ||
            !std::strcmp(arg, "--help-all") || !std::strcmp(arg, "--version") ||
            !std::strcmp(arg, "-v"))
            informational = true;
    }
    if (!informational)
        return false;
    // The usage line shows the first argument: the name, not the path it was started from.
    std::string name = commandline::programName(argc > 0 ? argv[0] : nullptr);
    std::vector<char *> args(argv, argv + argc);
    if (!args.empty())
        args[0] = name.data();
    int count = argc;
    // No display is needed to print help or the version.
    QCoreApplication app(count, args.data());
    describeApplication(app);
    QCommandLineParser parser;
    setUpParser(parser);
    // Prints and exits for --help and --version; Qt's own options are no business of its.
    parser.process(commandline::withoutQtOptions(app.arguments()));
    exitCode = 0;
    return true;
}

bool checkCommandLine(int argc, char **argv, int &exitCode)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Judged before any display is opened, Qt's own options set aside.
    QCommandLineParser parser;
    setUpParser(parser);
    QString error;
    const QString lacking = commandline::qtOptionLackingValue(arguments);
    if (!lacking.isEmpty())
        error = QStringLiteral("Missing value after '%1'.").arg(lacking);
    else if (!parser.parse(commandline::withoutQtOptions(arguments)))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        // Nothing is read from the command line but options.
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().at(0));
    if (error.isEmpty())
        return true;
    const std::string name = commandline::programName(argc > 0 ? argv[0] : nullptr);
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", name.c_str(),
                 qPrintable(error), name.c_str());
    exitCode = 2;
    return false;
}

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    describeApplication(*this);
    installQtKoreanTranslations();
    setQuitOnLastWindowClosed(false);
    WindowLook::installKoreanFontSubstitution();
    QCommandLineParser parser;
    setUpParser(parser);
    // Already judged in main; what Qt left in place is set aside the same way.
    parser.process(commandline::withoutQtOptions(arguments()));
    // Chosen by the user (-platform, QT_QPA_PLATFORM): the strip may not stay where it is put.
    if (platformName() != QLatin1String("xcb"))
        qCWarning(lcInstance).nospace()
            << "running on the " << platformName()
            << " platform, not X11: placement and stacking are up to the compositor";
}

Application::~Application() = default;

void Application::bringToFront()
{
    if (m_controller && m_controller->strip()) {
        StatusStrip *strip = m_controller->strip();
        strip->show();
        strip->raise();
        return;
    }
    // Still at the login dialog.
    if (QWidget *dialog = activeModalWidget()) {
        dialog->raise();
        dialog->activateWindow();
    }
}

bool Application::start()
{
    // The password will be in this process's memory from the login on.
    protectProcessSecrets();
    // Read from the settings file as it is at this start.
    m_controller.reset();
    m_settings = std::make_unique<Settings>();
    std::optional<LoginChoice> typed;
    if (!loginFromKeyring(m_account, *m_settings)) {
        typed = m_prompter.askLogin(m_account, *m_settings, std::nullopt);
        if (!typed)
            return false;
    }
    m_controller = std::make_unique<Controller>(m_account, m_model, *m_settings, m_prompter);
    connect(m_controller.get(), &Controller::ended, this, &QCoreApplication::quit);
    m_controller->start(typed);
    return true;
}
