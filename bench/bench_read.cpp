// What a page costs the page reader, through the real reader process as Ormix uses it: the
// wall time from handing the page over to the answer, and the reader's CPU, for ordinary
// dashboards and for the shapes that used to freeze or falsely refuse a reading (a comment
// every 1.2 KB of 4.8 MB, a late EUC-KR <meta>, deep nesting).
//     bench_read [RUNS]
#include "bench/benchsupport.h"
#include "client/pagereader.h"
#include "tests/scraper/demopage.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QUrl kAddress(QStringLiteral("http://127.0.0.1/owner/center/dashboard"));

QByteArray withComments(const QByteArray &page)
{
    QByteArray out;
    qsizetype from = 0;
    qsizetype next = page.indexOf("<div id=\"board\">");
    for (int n = 0; next >= 0; ++n) {
        out += page.mid(from, next - from) + "<!-- row " + QByteArray::number(n) + " -->";
        from = next;
        next = page.indexOf("</tr>", next + 1200);
    }
    return out + page.mid(from);
}

QByteArray itemsAtTheEnd(QByteArray page)
{
    const qsizetype from = page.indexOf("<div id=\"new\"");
    const qsizetype to = page.indexOf("<div id=\"board\">");
    const QByteArray area = page.mid(from, to - from);
    page.remove(from, to - from);
    return page.insert(page.lastIndexOf("<div id=\"footer\">"), area);
}

QByteArray lateMetaEucKr(QByteArray utf8)
{
    utf8.insert(utf8.indexOf("<head>") + 6,
                "<!-- " + QByteArray(1200, '-') + " --><meta charset=\"euc-kr\">");
    return toEucKr(utf8);
}

QByteArray nested(QByteArray page, int depth)
{
    QByteArray open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<div class=\"n\">";
        close += "</div>";
    }
    return page.insert(page.indexOf('>', page.indexOf("<body")) + 1, open + close);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    struct Case
    {
        const char *name;
        QByteArray page;
    };
    const std::vector<Case> cases = {
        {"dashboard 150 KB", demoPage(150000)},
        {"dashboard 1.5 MB", demoPage(1500000)},
        {"dashboard 1.5 MB, items at the end", itemsAtTheEnd(demoPage(1500000))},
        {"comment every 1.2 KB, 4.8 MB", withComments(demoPage(4800000))},
        {"comment every 1.2 KB, 4.8 MB, items at the end",
         itemsAtTheEnd(withComments(demoPage(4800000)))},
        {"EUC-KR, late meta, 2.4 MB", lateMetaEucKr(demoPage(2400000))},
        {"EUC-KR, late meta, 2.4 MB, items at the end",
         lateMetaEucKr(itemsAtTheEnd(demoPage(2400000)))},
        {"10,000 nested blocks first", nested(demoPage(150000), 10000)},
        {"20,000 nested blocks first", nested(demoPage(150000), 20000)},
    };

    PageReader reader;
    std::printf("== a page's reading in the page reader, median of %d; deadline %d ms\n", runs,
                PageReader::DefaultDeadlineMs);
    for (const Case &c : cases) {
        std::vector<long long> wall, cpu;
        QString outcome;
        for (int run = 0; run < runs; ++run) {
            PageReader::Result result;
            QEventLoop loop;
            const auto connection = QObject::connect(&reader, &PageReader::finished, &loop,
                                                     [&](const PageReader::Result &r) {
                                                         result = r;
                                                         loop.quit();
                                                     });
            // Started first, so that the reader's start is no part of the figure.
            if (reader.readerProcessId() == 0) {
                reader.read(QByteArrayLiteral("<p>"), {}, kAddress);
                loop.exec();
            }
            const qint64 pid = reader.readerProcessId();
            const long long cpu0 = bench::processCpuNs(pid);
            const long long start = bench::wallNs();
            reader.read(c.page, {}, kAddress);
            loop.exec();
            wall.push_back(bench::wallNs() - start);
            const long long cpu1 = bench::processCpuNs(pid);
            if (cpu0 >= 0 && cpu1 >= 0)
                cpu.push_back(cpu1 - cpu0);
            QObject::disconnect(connection);
            outcome = result.outcome == PageReader::Result::Read
                          ? QStringLiteral("read%1").arg(
                                result.wholePage ? QString() : QStringLiteral(" from a prefix"))
                          : result.why;
        }
        std::printf("%-48s %9.1f ms wall %9.1f ms CPU  (%zu KB) %s\n", c.name,
                    bench::medianMs(wall), cpu.empty() ? -1.0 : bench::medianMs(cpu),
                    static_cast<std::size_t>(c.page.size() / 1024), qPrintable(outcome));
        std::fflush(stdout);
    }
    return 0;
}
