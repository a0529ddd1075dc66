// Document layer and scraper against a bare gumbo parse, on a dashboard of about 150 KB
// fetched once from the demo host, or on a saved page: bench_document [ROUNDS] [PAGE_FILE]
// (a file is read as UTF-8 from the demo host's dashboard address).
#include "bench/benchsupport.h"
#include "document/htmldocument.h"
#include "reader/scraper.h"
#include "tests/support/demohost.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>

#include <gumbo.h>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 300;

    QByteArray page;
    QUrl address(QStringLiteral("http://127.0.0.1/owner/center/dashboard"));
    if (argc > 2) {
        QFile file(QString::fromLocal8Bit(argv[2]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[2]);
            return 1;
        }
        page = file.readAll();
    } else {
        DemoHost host({QStringLiteral("--page-size"), QStringLiteral("150000")});
        if (!host.isRunning()) {
            std::fprintf(stderr, "demo host: %s\n", qPrintable(host.errorString()));
            return 1;
        }
        for (int i = 0; i < 4; ++i)
            host.addItem(static_cast<DemoHost::Kind>(i % 3));
        QNetworkAccessManager nam;
        if (!bench::loginBare(nam, host)) {
            std::fprintf(stderr, "login failed\n");
            return 1;
        }
        page = bench::fetchBare(nam, host);
        address = host.dashboardUrl();
        QFile saved(QStringLiteral("bench-dashboard-150k.html"));
        if (saved.open(QIODevice::WriteOnly))
            saved.write(page);
    }
    const std::vector<std::string> ids = dashboardIds();
    const std::string_view bytes(page.constData(), static_cast<std::size_t>(page.size()));
    const std::string where = address.toString(QUrl::FullyEncoded).toStdString();
    std::printf("== document: %lld-byte dashboard, %d rounds each, interleaved, thread CPU time\n",
                static_cast<long long>(page.size()), rounds);

    // The page must read, or the figures measure an error path.
    {
        const auto doc = HtmlDocument::parse(bytes, "UTF-8", where);
        const auto reading = readDashboard(doc.get());
        if (!reading || (argc <= 2 && (*reading)[ItemKind::Comment].empty())) {
            std::fprintf(stderr, "the page did not read\n");
            return 1;
        }
    }

    std::vector<long long> gumboNs, documentNs, readNs, prefixNs;
    bool fromPrefix = false;
    long long sink = 0;
    for (int i = 0; i < rounds + 10; ++i) {
        const bool warm = i >= 10;
        long long t0 = bench::threadCpuNs();
        GumboOutput *out = gumbo_parse_with_options(&kGumboDefaultOptions, page.constData(),
                                                    static_cast<size_t>(page.size()));
        sink += out->root->v.element.children.length;
        gumbo_destroy_output(&kGumboDefaultOptions, out);
        long long t1 = bench::threadCpuNs();
        if (warm)
            gumboNs.push_back(t1 - t0);

        t0 = bench::threadCpuNs();
        {
            const auto doc = HtmlDocument::parse(bytes, "UTF-8", where);
            sink += doc->body() != nullptr;
        }
        t1 = bench::threadCpuNs();
        if (warm)
            documentNs.push_back(t1 - t0);

        t0 = bench::threadCpuNs();
        {
            const auto doc = HtmlDocument::parse(bytes, "UTF-8", where);
            const auto reading = readDashboard(doc.get());
            sink += reading ? reading->todayCount : 0;
        }
        t1 = bench::threadCpuNs();
        if (warm)
            readNs.push_back(t1 - t0);

        // As the client reads: only as far as the scraper's elements need.
        t0 = bench::threadCpuNs();
        {
            const auto doc = HtmlDocument::parse(bytes, "UTF-8", where, ids);
            const auto reading = readDashboard(doc.get());
            sink += reading ? reading->todayCount : 0;
            fromPrefix = !doc->isWhole();
        }
        t1 = bench::threadCpuNs();
        if (warm)
            prefixNs.push_back(t1 - t0);
    }

    const double gumbo = bench::medianMs(gumboNs);
    const double document = bench::medianMs(documentNs);
    const double read = bench::medianMs(readNs);
    bench::report("bare gumbo parse (median)", gumbo, "ms");
    bench::report("gumbo + document layer (median)", document, "ms");
    bench::report("gumbo + document + readDashboard (median)", read, "ms", QStringLiteral("< 5 ms"),
                  read < 5.0);
    bench::report("document layer / bare gumbo", document / gumbo, "x");
    bench::report("whole read / bare gumbo", read / gumbo, "x", QStringLiteral("<= 1.50x"),
                  read / gumbo <= 1.5);
    const double prefix = bench::medianMs(prefixNs);
    std::printf("the client's read parsed %s\n", fromPrefix ? "a prefix" : "the whole page");
    bench::report("client's read (document + readDashboard)", prefix, "ms",
                  QStringLiteral("< 5 ms"), prefix < 5.0);
    bench::report("client's read / bare gumbo", prefix / gumbo, "x");
    return sink == 42 ? 2 : 0;
}
