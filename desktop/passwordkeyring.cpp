#include "passwordkeyring.h"

#include "base/secret.h"
#include "settings/settings.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <optional>
#include <utility>

namespace passwordkeyring {

namespace {

const QString SecretsService = QStringLiteral("org.freedesktop.secrets");

QString keychainService()
{
    return QStringLiteral("Ormix");
}

// Without a fallback the job reports NoBackendAvailable instead of writing a file.
template<typename Job> Job *newJob(const QString &key)
{
    auto *job = new Job(keychainService());
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(key);
    return job;
}

// Asks the bus daemon one question about the secrets name, without waiting.
QDBusPendingCallWatcher *askBus(const QDBusConnection &bus, const QString &method,
                                const QVariantList &args, QObject *context)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(args);
    // A call on a missing bus would never finish; an error answer does, from the event loop.
    const QDBusPendingCall pending =
        bus.isConnected() ? bus.asyncCall(call)
                          : QDBusPendingCall::fromError(QDBusError(
                                QDBusError::Disconnected, QStringLiteral("no session bus")));
    return new QDBusPendingCallWatcher(pending, context);
}

QString noKeyringText()
{
    return QStringLiteral("비밀번호를 저장할 키링(Secret Service)을 찾을 수 없습니다.");
}

} // namespace

QString entryKey(const std::string &blogUrl, const std::string &id)
{
    return QString::fromStdString(id) + QLatin1Char('@') + QString::fromStdString(blogUrl);
}

QString rememberedEntry(const Settings &settings)
{
    const QString id = settings.value(Settings::Id);
    const QString blogUrl = settings.value(Settings::BlogUrl);
    if (!settings.value(Settings::SaveId) || !settings.value(Settings::KeyringPassword) ||
        id.isEmpty() || blogUrl.isEmpty())
        return {};
    return entryKey(blogUrl.toStdString(), id.toStdString());
}

void probe(QObject *context, const std::function<void(bool, const QString &)> &done)
{
    // Without a bus both questions fail at once.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusPendingCallWatcher *owner =
        askBus(bus, QStringLiteral("NameHasOwner"), {SecretsService}, context);
    QObject::connect(owner, &QDBusPendingCallWatcher::finished, context,
                     [bus, context, done](QDBusPendingCallWatcher *w) {
                         w->deleteLater();
                         const QDBusPendingReply<bool> reply = *w;
                         if (reply.isValid() && reply.value()) {
                             done(true, QString());
                             return;
                         }
                         // A keyring that the bus starts on first use is just as good.
                         QDBusPendingCallWatcher *activatable =
                             askBus(bus, QStringLiteral("ListActivatableNames"), {}, context);
                         QObject::connect(activatable, &QDBusPendingCallWatcher::finished, context,
                                          [done](QDBusPendingCallWatcher *a) {
                                              a->deleteLater();
                                              const QDBusPendingReply<QStringList> names = *a;
                                              const bool found =
                                                  names.isValid() &&
                                                  names.value().contains(SecretsService);
                                              done(found, found ? QString() : noKeyringText());
                                          });
                     });
}

void readPassword(QObject *context, const QString &key,
                  const std::function<void(bool, std::string &)> &done)
{
    auto *job = newJob<QKeychain::ReadPasswordJob>(key);
    // Connected to the job, not the context: an answer nobody waits for any more is still
    // wiped before the job goes.
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [job, done, receiver = QPointer<QObject>(context)](QKeychain::Job *) {
                         // The job's own buffer (UTF-8 for a text entry), shared: wiping it
                         // here leaves no copy behind when the job goes.
                         QByteArray bytes = job->binaryData();
                         if (!receiver) {
                             wipeSharedBytes(bytes);
                             return;
                         }
                         std::string password;
                         bool ok = job->error() == QKeychain::NoError;
                         if (ok) {
                             password.assign(bytes.constData(),
                                             static_cast<std::size_t>(bytes.size()));
                             ok = !password.empty();
                         }
                         wipeSharedBytes(bytes);
                         done(ok, password);
                         wipeString(password);
                     });
    job->start();
}

ReadOutcome readPasswordWithin(const QString &key, int timeoutMs, std::string &password)
{
    QEventLoop loop;
    std::optional<bool> found;
    readPassword(&loop, key, [&](bool ok, std::string &stored) {
        found = ok;
        password.swap(stored);
        loop.quit();
    });
    // The loop is the answer's receiver: once it is gone, a late answer is dropped.
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!found)
        loop.exec();
    if (!found)
        return ReadOutcome::NoAnswer;
    return *found ? ReadOutcome::Found : ReadOutcome::NotFound;
}

void writePassword(QObject *context, const QString &key, const std::string &password,
                   const std::function<void(bool)> &done)
{
    auto *job = newJob<QKeychain::WritePasswordJob>(key);
    // QtKeychain keeps the text as a UTF-8 copy of its own, which we cannot reach to wipe.
    // setBinaryData would share our buffer instead, but the Secret Service backend then
    // stores base64 (another format in the keyring) made in yet another copy of its own.
    // So only our own UTF-16 copy is wiped, at once.
    QString text = QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size()));
    job->setTextData(text);
    wipeSharedText(text);
    if (done) {
        QObject::connect(job, &QKeychain::Job::finished, context,
                         [done](QKeychain::Job *j) { done(j->error() == QKeychain::NoError); });
    }
    job->start();
}

void deletePassword(QObject *context, const QString &key, const std::function<void(bool)> &done)
{
    auto *job = newJob<QKeychain::DeletePasswordJob>(key);
    if (done) {
        QObject::connect(job, &QKeychain::Job::finished, context, [done](QKeychain::Job *j) {
            done(j->error() == QKeychain::NoError || j->error() == QKeychain::EntryNotFound);
        });
    }
    job->start();
}

void replacePassword(QObject *context, const QString &key, const std::string &password,
                     const QString &replaced)
{
    writePassword(context, key, password, [context, key, replaced](bool ok) {
        if (ok && !replaced.isEmpty() && replaced != key)
            deletePassword(context, replaced);
    });
}

} // namespace passwordkeyring
