#include "seenmemory.h"

#include "base/boundedfile.h"
#include "base/logging.h"
#include "base/privatefile.h"
#include "model/dashboardmodel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <utility>

namespace {

constexpr qint64 MaxFileBytes = qint64(1024) * 1024;
const QString Format = QStringLiteral("ormix-seen");
// 1: the items last seen; 2: adds the record of identities ("known").
constexpr int Version = 2;

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

// The record as eight bytes per identity, big-endian, in base64.
QString encodeRecord(const std::vector<quint64> &ids, std::size_t newest)
{
    QByteArray bytes;
    const std::size_t from = ids.size() > newest ? ids.size() - newest : 0;
    bytes.reserve(qsizetype(ids.size() - from) * 8);
    for (std::size_t i = from; i < ids.size(); ++i) {
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes.append(char(ids[i] >> shift & 0xff));
    }
    return QString::fromLatin1(bytes.toBase64());
}

std::vector<quint64> decodeRecord(const QString &text)
{
    const QByteArray bytes = QByteArray::fromBase64(text.toLatin1());
    std::vector<quint64> ids;
    for (qsizetype at = 0; at + 8 <= bytes.size(); at += 8) {
        quint64 id = 0;
        for (int k = 0; k < 8; ++k)
            id = id << 8 | static_cast<unsigned char>(bytes[at + k]);
        ids.push_back(id);
    }
    if (ids.size() > KnownItems::MaxRecorded)
        ids.erase(ids.begin(), ids.end() - std::ptrdiff_t(KnownItems::MaxRecorded));
    return ids;
}

KnownReading knownOf(const QJsonObject &account)
{
    KnownReading known;
    const QJsonObject lists = account.value(QLatin1String("seen")).toObject();
    const QJsonValue records = account.value(QLatin1String("known"));
    for (const ItemKind kind : AllItemKinds) {
        RecentItemList list;
        const QJsonArray items = lists.value(kindName(kind)).toArray();
        for (const auto &value : items) {
            if (list.size() >= KnownItems::MaxListed)
                break;
            const QJsonObject item = value.toObject();
            list.push_back({item.value(QLatin1String("text")).toString().toStdString(),
                            item.value(QLatin1String("link")).toString().toStdString()});
        }
        KnownItems &known_ = known[indexOf(kind)];
        if (records.isObject()) {
            known_.list = std::move(list);
            known_.recorded = decodeRecord(records.toObject().value(kindName(kind)).toString());
        } else {
            // The first version kept only the items last seen, older ones after them.
            takeIntoKnown(known_, list);
        }
    }
    return known;
}

QJsonObject accountObject(const std::string &blogUrl, const std::string &id,
                          const KnownReading &known, std::size_t itemsPerKind)
{
    QJsonObject lists;
    QJsonObject records;
    for (const ItemKind kind : AllItemKinds) {
        const KnownItems &k = known[indexOf(kind)];
        QJsonArray items;
        for (const RecentItem &item : k.list) {
            if (std::size_t(items.size()) >= itemsPerKind)
                break;
            items.append(QJsonObject{{QStringLiteral("link"), QString::fromStdString(item.link)},
                                     {QStringLiteral("text"), QString::fromStdString(item.text)}});
        }
        lists.insert(kindName(kind), items);
        records.insert(kindName(kind),
                       encodeRecord(k.recorded, itemsPerKind * KnownItems::MaxRecorded /
                                                    KnownItems::MaxListed));
    }
    return QJsonObject{{QStringLiteral("blog"), QString::fromStdString(blogUrl)},
                       {QStringLiteral("id"), QString::fromStdString(id)},
                       {QStringLiteral("seen"), lists},
                       {QStringLiteral("known"), records}};
}

} // namespace

SeenMemory::SeenMemory(DashboardModel &model, QString path, QObject *parent)
    : QObject(parent), m_model(model), m_path(std::move(path))
{
    connect(&model, &DashboardModel::readingChanged, this, &SeenMemory::remember);
    // "All read" must hold at the next start too: a write the last reading could not make
    // is made now.
    connect(&model, &DashboardModel::allMarkedRead, this, &SeenMemory::remember);
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

std::optional<KnownReading> SeenMemory::load(const std::string &blogUrl,
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
            return knownOf(account.toObject());
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
    const std::optional<KnownReading> earlier = load(blogUrl, id);
    m_saved = earlier;
    if (earlier)
        m_model.restoreKnown(*earlier);
    else
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
    const KnownReading &known = m_model.known();
    if (known == m_saved && !m_writeFailed)
        return;
    m_saved = known;
    switch (save(known)) {
    case Saved::Yes:
        if (m_writeFailed)
            qCInfo(lcState) << "written again:" << m_path;
        m_writeFailed = false;
        break;
    case Saved::Busy:
        // Another copy is writing right now; the next reading writes.
        qCInfo(lcState) << m_path << "is being written by another copy of Ormix; later";
        m_writeFailed = true;
        break;
    case Saved::Failed:
        if (!m_writeFailed)
            qCWarning(lcState) << "cannot write" << m_path
                               << "; what comes while Ormix is off will not be announced";
        m_writeFailed = true;
        break;
    }
}

SeenMemory::Saved SeenMemory::save(const KnownReading &known)
{
    if (!makePrivateFolder(QFileInfo(m_path).absolutePath()))
        return Saved::Failed;
    // Read, merge and write as one step against another copy of Ormix with other settings.
    const FileLock lock(m_path + QStringLiteral(".lock"));
    if (!lock.isLocked())
        return Saved::Busy;
    QByteArray bytes;
    const BoundedFile state = readBoundedFile(m_path, MaxFileBytes, bytes);
    // What cannot be read now may still hold other accounts: it is left alone.
    if (state == BoundedFile::Unreadable)
        return Saved::Failed;
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
    for (std::size_t items = KnownItems::MaxListed; items > 0; items /= 2) {
        QJsonArray accounts{accountObject(m_blogUrl, m_id, known, items)};
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
        return Saved::Failed;
    // A FIFO or a device in its place would never read as this file: it makes way.
    if (state == BoundedFile::Replaceable)
        QFile::remove(m_path);
    return writeFileWhole(m_path, json) ? Saved::Yes : Saved::Failed;
}
