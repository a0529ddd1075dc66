// ormix-read-dashboard: reads a saved dashboard page (or an address) with the same
// document layer and scraper as Ormix and prints what would reach the store, as JSON.
#include "client/pageloader.h"
#include "client/scraper.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

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

QJsonObject describe(const HtmlDocument *document)
{
    QJsonObject out;
    const std::optional<DashboardReading> reading = readDashboard(document);
    out.insert(QStringLiteral("ok"), reading.has_value());
    if (document) {
        out.insert(QStringLiteral("encoding"), QString::fromStdString(document->encodingName()));
        out.insert(QStringLiteral("baseUrl"), document->baseUrl().toString());
        out.insert(QStringLiteral("wholePage"), document->isWhole());
        if (const std::string why = document->refusal(); !why.empty())
            out.insert(QStringLiteral("notParsed"), QString::fromStdString(why));
    }
    if (reading) {
        out.insert(QStringLiteral("todayCount"), reading->todayCount);
        out.insert(QStringLiteral("comments"), itemsAsJson((*reading)[ItemKind::Comment]));
        out.insert(QStringLiteral("trackbacks"), itemsAsJson((*reading)[ItemKind::Trackback]));
        out.insert(QStringLiteral("guestbook"), itemsAsJson((*reading)[ItemKind::Guestbook]));
    }
    return out;
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
    const std::vector<std::string> ids =
        parser.isSet(whole) ? std::vector<std::string>() : dashboardIds();
    QJsonObject result;
    if (page.startsWith(QLatin1String("http://")) || page.startsWith(QLatin1String("https://"))) {
        PageLoader loader;
        PageLoader::Result loaded;
        QEventLoop loop;
        QObject::connect(&loader, &PageLoader::finished, &loop, [&](const PageLoader::Result &r) {
            loaded = r;
            loop.quit();
        });
        loader.setWantedIds(ids);
        loader.get(QUrl(page));
        loop.exec();
        const QString address = loaded.address.toString(QUrl::FullyEncoded);
        if (!loaded.ok()) {
            std::fprintf(stderr, "ormix-read-dashboard: cannot load %s (%d)\n", qPrintable(address),
                         loaded.error);
            return 2;
        }
        result = describe(loaded.page);
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
        const auto document =
            HtmlDocument::parse(file.readAll(), parser.value(charset).toLatin1(), address, ids);
        result = describe(document.get());
    }
    const QByteArray json = QJsonDocument(result).toJson(QJsonDocument::Indented);
    std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
    return result.value(QStringLiteral("ok")).toBool() ? 0 : 1;
}
