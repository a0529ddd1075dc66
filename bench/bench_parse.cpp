// What a page of up to the 8 MiB body cap costs to parse, for shapes that make gumbo's tree
// builder walk its lists over and over, and for large flat pages:
//     bench_parse [--quick] [SHAPE...]
// before: gumbo alone, which every parse used to run to the end, on pages doubling in size
//         until one takes longer than a cap, or would by the estimate (a few shapes would
//         first take more memory than the machine has); past that the time is extrapolated
//         to 8 MiB from the growth of the last two.
// after:  the worst wall time (of a few runs) of a parse as the control runs it, the page's
//         tree freed included, both whole and as the dashboard reader asks for it (its ids
//         sit at the end of each page, so every cheaper prefix is tried first), on the
//         largest page the estimate admits and on the 8 MiB one.
#include "bench/benchsupport.h"
#include "client/scraper.h"
#include "document/htmldocument.h"
#include "document/parsecost.h"
#include "document/treedepth.h"

#include <QCoreApplication>
#include <QStringList>

#include <gumbo.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBodyCap = 8 * 1024 * 1024;
const QUrl kAddress(QStringLiteral("http://127.0.0.1/owner/center/dashboard"));
// What the reader looks up, after everything else.
const QByteArray kIdsAtTheEnd("<div id=\"counter\">오늘 1명</div><div id=\"new\"></div>");

struct Shape
{
    const char *name;
    // A page of about the given size.
    std::function<QByteArray(std::size_t)> page;
};

// head, then unit repeated to fill the size.
QByteArray filled(std::size_t size, const QByteArray &head, const QByteArray &unit)
{
    QByteArray out = head;
    out.reserve(static_cast<qsizetype>(size) + 64);
    while (static_cast<std::size_t>(out.size() + unit.size() + kIdsAtTheEnd.size()) <= size)
        out += unit;
    return out + kIdsAtTheEnd;
}

// head, first repeated over a share of the size, then second over the rest.
QByteArray halves(std::size_t size, const QByteArray &head, const QByteArray &first,
                  const QByteArray &second, double share = 0.5)
{
    QByteArray out = head;
    out.reserve(static_cast<qsizetype>(size) + 64);
    const auto split = static_cast<std::size_t>(static_cast<double>(size) * share);
    while (static_cast<std::size_t>(out.size() + first.size()) <= split)
        out += first;
    while (static_cast<std::size_t>(out.size() + second.size() + kIdsAtTheEnd.size()) <= size)
        out += second;
    return out + kIdsAtTheEnd;
}

QByteArray repeated(const char *piece, int times)
{
    QByteArray out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

std::vector<Shape> shapes()
{
    std::vector<Shape> list;
    auto add = [&list](const char *name, std::function<QByteArray(std::size_t)> page) {
        list.push_back({name, std::move(page)});
    };
    add("deep-blocks", [](std::size_t s) { return filled(s, "<body>", "<div>"); });
    add("alternating-tags", [](std::size_t s) { return filled(s, "<body>", "<div><span>"); });
    add("deep-inline-end-tags",
        [](std::size_t s) { return halves(s, "<body>", "<span>", "</x>"); });
    // Each paragraph closes the formatting elements opened in the first; its text opens
    // them all again.
    add("formatting-under-paragraphs", [](std::size_t s) {
        QByteArray head = "<body><p>";
        for (int i = 0; i < 1000; ++i)
            head += "<b id=b" + QByteArray::number(i) + ">";
        return filled(s, head + "x</p>", "<p>x</p>");
    });
    add("formatting-text-at-depth", [](std::size_t s) {
        return filled(s, "<body>" + repeated("<div>", 500) + "<b>", "some text ");
    });
    add("adoption-agency", [](std::size_t s) { return halves(s, "<body>", "<b><div>", "</b>"); });
    add("formatting-storm",
        [](std::size_t s) { return filled(s, "<body>", "<b><i><a href=x><p>"); });
    add("nested-tables", [](std::size_t s) { return filled(s, "<body>", "<table><tr><td>"); });
    add("foster-parenting",
        [](std::size_t s) { return halves(s, "<body>", "<span>", "<table><em>", 0.3); });
    add("nested-lists", [](std::size_t s) { return filled(s, "<body>", "<ul><li>"); });
    add("svg-end-tags", [](std::size_t s) { return halves(s, "<body><svg>", "<g>", "</x>"); });
    add("math-end-tags", [](std::size_t s) { return halves(s, "<body><math>", "<mrow>", "</x>"); });
    add("templates", [](std::size_t s) { return filled(s, "<body>", "<template><span>x"); });
    add("many-attributes", [](std::size_t s) {
        QByteArray out = "<body><div";
        for (int i = 0; static_cast<std::size_t>(out.size()) + 64 < s; ++i)
            out += " a" + QByteArray::number(i);
        return out + ">" + kIdsAtTheEnd;
    });
    add("noscript-siblings",
        [](std::size_t s) { return filled(s, "<body>", "<div><noscript></div>"); });
    add("text-under-deep-inline", [](std::size_t s) {
        return filled(s, "<body><div id=new>" + repeated("<span>", 500), "x<br>");
    });
    add("flat-links", [](std::size_t s) { return filled(s, "<body>", "<a href=/x>y</a>"); });
    add("flat-table-rows", [](std::size_t s) {
        return filled(s, "<body><table>",
                      "<tr><td><a href=\"/blog/1#c\">item</a></td><td>note&nbsp;1</td>\n");
    });
    add("unclosed-paragraphs", [](std::size_t s) { return filled(s, "<body>", "<p>some text "); });
    add("unclosed-list-items", [](std::size_t s) { return filled(s, "<body><ul>", "<li>item "); });
    add("unclosed-options",
        [](std::size_t s) { return filled(s, "<body><select>", "<option>o "); });
    return list;
}

double wallMs(const std::function<void()> &work)
{
    const long long start = bench::wallNs();
    work();
    return static_cast<double>(bench::wallNs() - start) / 1e6;
}

double gumboMs(const QByteArray &page)
{
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    GumboOutput *out = nullptr;
    const double ms = wallMs([&] {
        out = gumbo_parse_with_options(&options, page.constData(),
                                       static_cast<std::size_t>(page.size()));
    });
    // gumbo frees recursively: a deep tree is flattened first.
    flattenForDestroy(out->document);
    gumbo_destroy_output(&options, out);
    return ms;
}

// The worst of a few runs of a parse as the control runs it; refused tells how it ended.
double parseMs(const QByteArray &page, bool asReader, int runs, std::string &refusal)
{
    static const std::vector<std::string> ids = dashboardIds();
    double worst = 0;
    for (int i = 0; i < runs; ++i) {
        worst = std::max(worst, wallMs([&] {
                             auto doc = asReader ? HtmlDocument::parse(page, "UTF-8", kAddress, ids)
                                                 : HtmlDocument::parse(page, "UTF-8", kAddress);
                             for (const std::string &id : ids)
                                 if (const HtmlElement *e = doc->getElementById(id))
                                     (void)e->innerText();
                             refusal = doc->refusal();
                         }));
    }
    return worst;
}

bool admitted(const QByteArray &page)
{
    const std::string_view text(page.constData(), static_cast<std::size_t>(page.size()));
    return parsecost::estimate(text).affordable >= text.size();
}

// The largest size whose page the estimate admits whole (the protected text gumbo would get
// is the page itself here: ASCII and UTF-8 only).
std::size_t largestAdmitted(const Shape &shape)
{
    if (admitted(shape.page(kBodyCap)))
        return kBodyCap;
    std::size_t lo = 1024, hi = kBodyCap;
    while (hi - lo > std::max<std::size_t>(lo / 64, 512)) {
        const std::size_t mid = lo + (hi - lo) / 2;
        (admitted(shape.page(mid)) ? lo : hi) = mid;
    }
    return lo;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList wanted = app.arguments().mid(1);
    const bool quick = wanted.removeAll(QStringLiteral("--quick")) > 0;
    const double capMs = quick ? 1000 : 8000;
    const int runs = quick ? 1 : 3;

    std::printf("== parsing pages of up to %zu bytes: worst wall time, budget %.0f ms of "
                "estimated work\n",
                kBodyCap, parsecost::kBudget / 1e6);
    double worstAfter = 0;
    for (const Shape &shape : shapes()) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(shape.name)))
            continue;
        std::printf("\n%s\n", shape.name);

        // Before: gumbo alone on doubling pages.
        std::size_t size = 16 * 1024, lastSize = 0;
        double last = 0, previous = 0;
        std::size_t previousSize = 0;
        while (true) {
            const QByteArray page = shape.page(size);
            const std::string_view text(page.constData(), static_cast<std::size_t>(page.size()));
            if (lastSize > 0 && parsecost::estimate(text, 4 * capMs * 1e6).affordable < text.size())
                break;
            const double ms = gumboMs(page);
            previous = last;
            previousSize = lastSize;
            last = ms;
            lastSize = size;
            if (ms > capMs || size >= kBodyCap)
                break;
            size = std::min(size * 2, kBodyCap);
        }
        if (lastSize >= kBodyCap) {
            std::printf("  before: gumbo alone %9.0f ms at %zu bytes\n", last, lastSize);
        } else {
            const double growth = previous > 0
                                      ? std::log(last / previous) /
                                            std::log(static_cast<double>(lastSize) / previousSize)
                                      : 1;
            const double at8 = last * std::pow(static_cast<double>(kBodyCap) / lastSize, growth);
            std::printf("  before: gumbo alone %9.0f ms at %zu bytes; at %zu bytes about %.0f s "
                        "(grows as size^%.1f)\n",
                        last, lastSize, kBodyCap, at8 / 1000, growth);
        }

        // After: the largest admitted page, and the whole 8 MiB.
        const std::size_t largest = largestAdmitted(shape);
        double shapeWorst = 0;
        for (const std::size_t bytes : {largest, kBodyCap}) {
            const QByteArray page = shape.page(bytes);
            std::string wholeRefusal, readerRefusal;
            const double whole = parseMs(page, false, runs, wholeRefusal);
            const double reader = parseMs(page, true, runs, readerRefusal);
            shapeWorst = std::max({shapeWorst, whole, reader});
            std::printf("  after:  %9.0f ms whole, %6.0f ms as read, at %zu bytes%s%s\n", whole,
                        reader, static_cast<std::size_t>(page.size()),
                        wholeRefusal.empty() ? "" : "; refused: ", wholeRefusal.c_str());
            if (bytes == kBodyCap)
                break;
        }
        worstAfter = std::max(worstAfter, shapeWorst);
        bench::report("  worst after", shapeWorst, "ms", QStringLiteral("< 1000 ms"),
                      shapeWorst < 1000);
    }
    std::printf("\n");
    bench::report("worst parse of any shape", worstAfter, "ms", QStringLiteral("< 1000 ms"),
                  worstAfter < 1000);
    return 0;
}
