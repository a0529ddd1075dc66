#include "seenmemory.h"

#include "state/boundedfile.h"
#include "state/dashboardmodel.h"
#include "state/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr qint64 MaxFileBytes = qint64(1024) * 1024;
const QString Format = QStringLiteral("ormix-seen");
constexpr int Version = 1;

QString kindName(ItemKind kind)
{
    switch (kind) {
    case ItemKind::Comment:
        return QStringLiteral("comment");
    case ItemKind::Trackback:
        return QStringLiteral("trackback");
    case ItemKind::Guestbook:
        return QStringLiteral("guestbook");
    }
    return {};
}

QJsonArray accountsIn(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject root = document.object();
    // A later version may add fields, never change these.
    if (error.error != QJsonParseError::NoError || root.value(QLatin1String("format")) != Format)
        return {};
    return root.value(QLatin1String("accounts")).toArray();
}

bool isAccount(const QJsonValue &value, const std::string &blogUrl, const std::string &id)
{
    const QJsonObject account = value.toObject();
    return account.value(QLatin1String("blog")).toString().toStdString() == blogUrl &&
           account.value(QLatin1String("id")).toString().toStdString() == id;
}

DashboardReading readingOf(const QJsonObject &account)
{
    DashboardReading seen;
    const QJsonObject kinds = account.value(QLatin1String("seen")).toObject();
    for (const ItemKind kind : AllItemKinds) {
        const QJsonArray items = kinds.value(kindName(kind)).toArray();
        for (const auto &value : items) {
            const QJsonObject item = value.toObject();
            if (int(seen[kind].size()) >= SeenMemory::MaxItemsPerKind)
                break;
            seen[kind].push_back({item.value(QLatin1String("text")).toString().toStdString(),
                                  item.value(QLatin1String("link")).toString().toStdString()});
        }
    }
    return seen;
}

QJsonObject accountObject(const std::string &blogUrl, const std::string &id,
                          const DashboardReading &seen, int itemsPerKind)
{
    QJsonObject kinds;
    for (const ItemKind kind : AllItemKinds) {
        QJsonArray items;
        for (const RecentItem &item : seen[kind]) {
            if (items.size() >= itemsPerKind)
                break;
            items.append(QJsonObject{{QStringLiteral("link"), QString::fromStdString(item.link)},
                                     {QStringLiteral("text"), QString::fromStdString(item.text)}});
        }
        kinds.insert(kindName(kind), items);
    }
    return QJsonObject{{QStringLiteral("blog"), QString::fromStdString(blogUrl)},
                       {QStringLiteral("id"), QString::fromStdString(id)},
                       {QStringLiteral("seen"), kinds}};
}

} // namespace

SeenMemory::SeenMemory(DashboardModel &model, QString path, QObject *parent)
    : QObject(parent), m_model(model), m_path(std::move(path))
{
    connect(&model, &DashboardModel::readingChanged, this, &SeenMemory::remember);
}

SeenMemory::~SeenMemory() = default;

QString SeenMemory::defaultPath()
{
    // The XDG base directory rules: a relative XDG_STATE_HOME is to be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/Ormix/seen.json");
}

std::optional<DashboardReading> SeenMemory::load(const std::string &blogUrl,
                                                 const std::string &id) const
{
    QByteArray bytes;
    const BoundedFile state = readBoundedFile(m_path, MaxFileBytes, bytes);
    if (state != BoundedFile::Usable) {
        if (state != BoundedFile::Missing)
            qCWarning(lcState) << "cannot read" << m_path << "; nothing is known of earlier runs";
        return std::nullopt;
    }
    const QJsonArray stored = accountsIn(bytes);
    for (const auto &account : stored) {
        if (isAccount(account, blogUrl, id))
            return readingOf(account.toObject());
    }
    return std::nullopt;
}

void SeenMemory::attach(const std::string &blogUrl, const std::string &id)
{
    if (m_attached && m_blogUrl == blogUrl && m_id == id)
        return;
    m_attached = true;
    m_blogUrl = blogUrl;
    m_id = id;
    const std::optional<DashboardReading> earlier = load(blogUrl, id);
    m_seen = earlier.value_or(DashboardReading{});
    if (earlier && !m_model.hasReading())
        m_model.setSeenBefore(*earlier);
    if (!earlier)
        qCInfo(lcState) << "nothing seen of this blog and ID before; the first reading is quiet";
}

void SeenMemory::detach()
{
    m_attached = false;
}

void SeenMemory::remember()
{
    if (!m_attached)
        return;
    // The newest reading first, then what was seen before and is not in it any more.
    DashboardReading seen;
    for (const ItemKind kind : AllItemKinds) {
        RecentItemList &list = seen[kind];
        list = m_model.items(kind);
        for (const RecentItem &item : m_seen[kind]) {
            if (int(list.size()) >= MaxItemsPerKind)
                break;
            if (std::find(list.begin(), list.end(), item) == list.end())
                list.push_back(item);
        }
        if (int(list.size()) > MaxItemsPerKind)
            list.resize(std::size_t(MaxItemsPerKind));
    }
    if (seen.items == m_seen.items && !m_writeFailed)
        return;
    m_seen = seen;
    const bool saved = save(seen);
    if (!saved && !m_writeFailed)
        qCWarning(lcState) << "cannot write" << m_path
                           << "; what comes while Ormix is off will not be announced";
    m_writeFailed = !saved;
}

bool SeenMemory::save(const DashboardReading &seen)
{
    QByteArray bytes;
    const BoundedFile state = readBoundedFile(m_path, MaxFileBytes, bytes);
    // What cannot be read now may still hold other accounts: it is left alone.
    if (state == BoundedFile::Unreadable)
        return false;
    QJsonArray others;
    if (state == BoundedFile::Usable) {
        const QJsonArray stored = accountsIn(bytes);
        for (const auto &account : stored) {
            if (!isAccount(account, m_blogUrl, m_id) && others.size() < MaxAccounts - 1)
                others.append(account);
        }
    }
    // Within the size that is read back, giving up older accounts first, then items.
    QByteArray json;
    for (int items = MaxItemsPerKind; items > 0; items /= 2) {
        QJsonArray accounts{accountObject(m_blogUrl, m_id, seen, items)};
        for (const auto &other : std::as_const(others))
            accounts.append(other);
        while (true) {
            const QJsonObject root{{QStringLiteral("format"), Format},
                                   {QStringLiteral("version"), Version},
                                   {QStringLiteral("accounts"), accounts}};
            json = QJsonDocument(root).toJson(QJsonDocument::Compact);
            if (json.size() <= MaxFileBytes || accounts.size() == 1)
                break;
            accounts.removeLast();
        }
        if (json.size() <= MaxFileBytes)
            break;
    }
    if (json.size() > MaxFileBytes)
        return false;
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return false;
    // A FIFO or a device in its place would never read as this file: it makes way.
    if (state == BoundedFile::Replaceable)
        QFile::remove(m_path);
    QSaveFile file(m_path);
    return file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit();
}
