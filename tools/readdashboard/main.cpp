// ormix-read-dashboard: reads a saved dashboard page (or an address) through the same page
// reader as Ormix, in a process of its own, and prints what would reach the store, as JSON.
#include "client/pageloader.h"
#include "client/pagereader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <optional>

namespace {

QJsonArray itemsAsJson(const RecentItemList &items)
{
    QJsonArray array;
    for (const RecentItem &item : items) {
        array.append(QJsonObject{{QStringLiteral("text"), QString::fromStdString(item.text)},
                                 {QStringLiteral("link"), QString::fromStdString(item.link)}});
    }
    return array;
}

QJsonObject describe(const PageReader::Result &result)
{
    QJsonObject out;
    const bool read = result.outcome == PageReader::Result::Read;
    out.insert(QStringLiteral("ok"), read);
    if (read || result.outcome == PageReader::Result::NotDashboard) {
        out.insert(QStringLiteral("encoding"), QString::fromStdString(result.encoding));
        out.insert(QStringLiteral("baseUrl"), QString::fromStdString(result.baseUrl));
        out.insert(QStringLiteral("wholePage"), result.wholePage);
        // Read, but not a dashboard: what the reading looked for and did not find.
        if (!read)
            out.insert(QStringLiteral("reason"), result.why);
    } else {
        out.insert(QStringLiteral("notParsed"), result.why);
    }
    if (read) {
        const DashboardReading &reading = result.reading;
        out.insert(QStringLiteral("todayCount"), reading.todayCount);
        out.insert(QStringLiteral("comments"), itemsAsJson(reading[ItemKind::Comment]));
        out.insert(QStringLiteral("trackbacks"), itemsAsJson(reading[ItemKind::Trackback]));
        out.insert(QStringLiteral("guestbook"), itemsAsJson(reading[ItemKind::Guestbook]));
    }
    return out;
}

// Reads the page in the page reader, as Ormix does; no value when no reader can start.
std::optional<PageReader::Result> readPage(const QByteArray &page, const QByteArray &charset,
                                           const QUrl &address, bool whole)
{
    PageReader reader;
    std::optional<PageReader::Result> result;
    QEventLoop loop;
    QObject::connect(&reader, &PageReader::finished, &loop, [&](const PageReader::Result &r) {
        result = r;
        loop.quit();
    });
    reader.read(page, charset, address, whole);
    loop.exec();
    if (result && result->outcome == PageReader::Result::CannotStart) {
        std::fprintf(stderr, "ormix-read-dashboard: %s\n", qPrintable(result->why));
        return std::nullopt;
    }
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ormix-read-dashboard"));
    app.setApplicationVersion(QStringLiteral(ORMIX_VERSION_TEXT));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads a dashboard page as Ormix does and prints the result as JSON."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption base(QStringLiteral("base"),
                            QStringLiteral("Address the saved page was loaded from."),
                            QStringLiteral("url"));
    QCommandLineOption charset(QStringLiteral("charset"),
                               QStringLiteral("Charset the server declared for the page."),
                               QStringLiteral("label"));
    QCommandLineOption whole(QStringLiteral("whole"),
                             QStringLiteral("Parse the whole page, not only as far as the "
                                            "reading needs."));
    parser.addOption(base);
    parser.addOption(charset);
    parser.addOption(whole);
    parser.addPositionalArgument(QStringLiteral("page"),
                                 QStringLiteral("A saved page file, or an http(s) address."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    const QString page = parser.positionalArguments().constFirst();
    QJsonObject result;
    if (page.startsWith(QLatin1String("http://")) || page.startsWith(QLatin1String("https://"))) {
        PageLoader loader;
        PageLoader::Result loaded;
        QEventLoop loop;
        QObject::connect(&loader, &PageLoader::finished, &loop, [&](const PageLoader::Result &r) {
            loaded = r;
            loop.quit();
        });
        loader.get(QUrl(page));
        loop.exec();
        const QString address = loaded.address.toString(QUrl::FullyEncoded);
        if (!loaded.ok()) {
            std::fprintf(stderr, "ormix-read-dashboard: cannot load %s (%d)\n", qPrintable(address),
                         loaded.error);
            return 2;
        }
        const auto read =
            readPage(loaded.body, loaded.charset, loaded.address, parser.isSet(whole));
        if (!read)
            return 2;
        result = describe(*read);
        result.insert(QStringLiteral("address"), address);
    } else {
        QFile file(page);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "ormix-read-dashboard: cannot read %s\n", qPrintable(page));
            return 2;
        }
        const QUrl address = parser.isSet(base)
                                 ? QUrl(parser.value(base))
                                 : QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
        const auto read = readPage(file.readAll(), parser.value(charset).toLatin1(), address,
                                   parser.isSet(whole));
        if (!read)
            return 2;
        result = describe(*read);
    }
    const QByteArray json = QJsonDocument(result).toJson(QJsonDocument::Indented);
    std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
    return result.value(QStringLiteral("ok")).toBool() ? 0 : 1;
}
