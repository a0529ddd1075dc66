// Ormix's end of the page reader: pages read in the reader's process exactly as in ours, and
// every way a reader can fail (too slow, dead, garbled, too talkative, absent) ends in a
// failed reading, with the next read served by a fresh reader.
#include "client/pagereader.h"
#include "reader/pagereading.h"
#include "tests/scraper/demopage.h"
#include "tests/support/testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

namespace {

const QUrl kAddress(QStringLiteral("http://blog.example/owner/center/dashboard"));

QByteArray testFile(const char *name)
{
    QFile f(qEnvironmentVariable("ORMIX_TEST_DATA") + QStringLiteral("/dashboard/") +
            QString::fromLatin1(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test file %s", name);
    return f.readAll();
}

// The reader's answer, read in this process.
readerprotocol::Answer readHere(const QByteArray &page, const QByteArray &charset, bool whole)
{
    const QByteArray address = kAddress.toEncoded();
    readerprotocol::Request request;
    request.page = std::string_view(page.constData(), static_cast<std::size_t>(page.size()));
    request.charset =
        std::string_view(charset.constData(), static_cast<std::size_t>(charset.size()));
    request.address =
        std::string_view(address.constData(), static_cast<std::size_t>(address.size()));
    request.whole = whole;
    return readPage(request);
}

std::optional<PageReader::Result> readThere(PageReader &reader, const QByteArray &page,
                                            const QByteArray &charset = {}, bool whole = false)
{
    QSignalSpy finished(&reader, &PageReader::finished);
    reader.read(page, charset, kAddress, whole);
    if (!finished.wait(120000) || finished.size() != 1)
        return std::nullopt;
    return finished.takeFirst().at(0).value<PageReader::Result>();
}

// A dashboard of about 4.8 MB whose board holds an HTML comment every 1.2 KB.
QByteArray commentHeavyPage()
{
    const QByteArray page = demoPage(4800000);
    QByteArray out;
    out.reserve(page.size() + page.size() / 60);
    qsizetype from = 0;
    qsizetype next = page.indexOf("<div id=\"board\">");
    for (int n = 0; next >= 0; ++n) {
        out += page.mid(from, next - from) + "<!-- row " + QByteArray::number(n) + " -->";
        from = next;
        next = page.indexOf("</tr>", next + 1200);
    }
    return out + page.mid(from);
}

// An EUC-KR dashboard of about 2.4 MB that names its encoding only in a <meta> past the first
// 1024 bytes, which the prescan does not look at, with no charset in the reply; its recent
// items at the top, or at the end where no prefix of the page is enough.
QByteArray lateMetaEucKrPage(bool itemsAtTheEnd)
{
    QByteArray utf8 = demoPage(2400000);
    if (itemsAtTheEnd) {
        const qsizetype from = utf8.indexOf("<div id=\"new\"");
        const qsizetype to = utf8.indexOf("<div id=\"board\">");
        const QByteArray area = utf8.mid(from, to - from);
        utf8.remove(from, to - from);
        utf8.insert(utf8.lastIndexOf("<div id=\"footer\">"), area);
    }
    const qsizetype head = utf8.indexOf("<head>") + 6;
    utf8.insert(head, "<!-- " + QByteArray(1200, '-') + " --><meta charset=\"euc-kr\">");
    utf8.replace("항목 0-0", "첫 댓글입니다");
    utf8.replace("href=\"/0\"", "href=\"/1?q=한글\"");
    return toEucKr(utf8);
}

// Warnings of the reader's logging category, counted while a test runs.
int g_readerWarnings = 0;
QtMessageHandler g_previousHandler = nullptr;
void countReaderWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && context.category &&
        qstrcmp(context.category, "ormix.reader") == 0) {
        ++g_readerWarnings;
        return;
    }
    g_previousHandler(type, context, text);
}

} // namespace

class TestPageReader final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A reader whose first start misbehaves as mode says; the ones after are the real one.
    void misbehaveOnce(PageReader &reader, const QString &mode)
    {
        const QString once = m_dir.filePath(mode + QStringLiteral(".once"));
        QFile::remove(once);
        reader.setProgram(QStringLiteral(FAKE_READER), {mode, once, PageReader::defaultProgram()});
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<PageReader::Result>();
        QVERIFY(m_dir.isValid());
    }

    // Through the pipe and back, a page reads as it does in this process, however it is
    // encoded or shaped, as far as the reading needs or whole.
    void readsAsInThisProcess_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<int>("count"); // today's count; -1 for a page that is no dashboard
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("saved") << testFile("dashboard.html") << QByteArray() << 1234
                               << QByteArray("UTF-8");
        QTest::newRow("saved, EUC-KR declared by the reply")
            << testFile("dashboard-euckr.html") << QByteArray("euc-kr") << 1234
            << QByteArray("EUC-KR");
        QTest::newRow("comment every 1.2 KB of 4.8 MB")
            << commentHeavyPage() << QByteArray() << 321 << QByteArray("UTF-8");
        QTest::newRow("EUC-KR meta after byte 1024")
            << lateMetaEucKrPage(false) << QByteArray() << 321 << QByteArray("EUC-KR");
        QTest::newRow("EUC-KR meta after byte 1024, items at the end")
            << lateMetaEucKrPage(true) << QByteArray() << 321 << QByteArray("EUC-KR");
        QByteArray international = testFile("dashboard.html");
        international.replace("http://other.example/", "http://다른.example/");
        international.replace("href=\"/789\"", "href=\"http://-\xF0\x9F\x98\x80.example/789\"");
        QTest::newRow("links to international hosts")
            << international << QByteArray() << 1234 << QByteArray("UTF-8");
        QTest::newRow("not a dashboard")
            << QByteArray("<p>nothing here") << QByteArray() << -1 << QByteArray("UTF-8");
        QTest::newRow("empty") << QByteArray() << QByteArray() << -1 << QByteArray("UTF-8");
    }

    void readsAsInThisProcess()
    {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, charset);
        QFETCH(int, count);
        QFETCH(QByteArray, encoding);
        PageReader reader;
        // Correctness here; how fast these read is for bench/.
        reader.setDeadlineMs(60000);
        for (const bool whole : {false, true}) {
            const readerprotocol::Answer expected = readHere(page, charset, whole);
            const auto result = readThere(reader, page, charset, whole);
            QVERIFY(result);
            QCOMPARE(result->outcome,
                     count >= 0 ? PageReader::Result::Read : PageReader::Result::NotDashboard);
            QCOMPARE(result->encoding, encoding.toStdString());
            QCOMPARE(result->baseUrl, expected.baseUrl);
            QCOMPARE(result->wholePage, expected.wholePage);
            QVERIFY(result->reading == expected.reading);
            if (count < 0) {
                QVERIFY(!result->why.isEmpty());
                continue;
            }
            QCOMPARE(result->reading.todayCount, count);
            QVERIFY(!result->reading[ItemKind::Comment].empty());
        }
        // The reader converts international hosts in its sandbox as a browser does.
        if (QByteArray(QTest::currentDataTag()) == "links to international hosts") {
            const auto result = readThere(reader, page);
            QVERIFY(result);
            QCOMPARE(result->reading[ItemKind::Trackback].front().link,
                     std::string("http://xn--2j1bu8j.example/post/1"));
            QCOMPARE(result->reading[ItemKind::Comment].back().link,
                     std::string("http://xn----jv3s.example/789"));
        }
        // The Korean texts came through the late <meta> right, links encoded in EUC-KR.
        if (QByteArray(QTest::currentDataTag()).startsWith("EUC-KR meta")) {
            const auto result = readThere(reader, page);
            QVERIFY(result);
            const RecentItem &item = result->reading[ItemKind::Comment].front();
            QCOMPARE(QString::fromStdString(item.text), QStringLiteral("첫 댓글입니다"));
            QCOMPARE(item.link, std::string("http://blog.example/1?q=%C7%D1%B1%DB"));
        }
    }

    // A reader that is too slow, dies or answers what no reader would: a failed reading
    // that says why, and a fresh reader that reads the next page.
    void misbehavingReadersFailOneReading_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("why");
        QTest::newRow("spins") << QStringLiteral("spin") << QStringLiteral("took longer than");
        QTest::newRow("aborts") << QStringLiteral("abort") << QStringLiteral("(SIGABRT)");
        QTest::newRow("answers garbage")
            << QStringLiteral("garbage") << QStringLiteral("answer is malformed");
        QTest::newRow("answers too much")
            << QStringLiteral("toomuch") << QStringLiteral("larger than any reading");
        QTest::newRow("answers twice")
            << QStringLiteral("twice") << QStringLiteral("more than one answer");
        QTest::newRow("ends without an answer")
            << QStringLiteral("quit") << QStringLiteral("ended with status 0");
    }

    void misbehavingReadersFailOneReading()
    {
        QFETCH(QString, mode);
        QFETCH(QString, why);
        PageReader reader;
        reader.setDeadlineMs(mode == QLatin1String("spin") ? 500 : 30000);
        misbehaveOnce(reader, mode);
        const QByteArray page = testFile("dashboard.html");
        const auto failed = readThere(reader, page);
        QVERIFY(failed);
        QCOMPARE(failed->outcome, PageReader::Result::Failed);
        QVERIFY2(failed->why.contains(why), qPrintable(failed->why));
        QCOMPARE(reader.readerProcessId(), 0);
        reader.setDeadlineMs(30000);
        const auto next = readThere(reader, page);
        QVERIFY(next);
        QCOMPARE(next->outcome, PageReader::Result::Read);
        QCOMPARE(next->reading.todayCount, 1234);
    }

    // Debian's gumbo aborts on a few 47-byte shapes; that ends the reader, never us.
    void parserAbortsEndOnlyTheReader()
    {
        PageReader reader;
        reader.setDeadlineMs(30000);
        const QByteArray shape("<table><svg><select><foreignObject><select><th>");
        for (const QByteArray &page :
             {shape, "<body><div id=counter>오늘 3명</div>" + QByteArray(2000, ' ') + shape}) {
            for (const bool whole : {false, true}) {
                const auto failed = readThere(reader, page, {}, whole);
                QVERIFY(failed);
                QCOMPARE(failed->outcome, PageReader::Result::Failed);
                QVERIFY2(failed->why.contains(QLatin1String("(SIGABRT)")), qPrintable(failed->why));
            }
        }
        const auto next = readThere(reader, testFile("dashboard.html"));
        QVERIFY(next && next->outcome == PageReader::Result::Read);
    }

    // No reader at all: every read says so, the log once.
    void aReaderThatCannotStartIsLoggedOnce()
    {
        PageReader reader;
        reader.setProgram(m_dir.filePath(QStringLiteral("no-such-reader")));
        g_readerWarnings = 0;
        g_previousHandler = qInstallMessageHandler(countReaderWarnings);
        for (int i = 0; i < 3; ++i) {
            const auto result = readThere(reader, testFile("dashboard.html"));
            QVERIFY(result);
            QCOMPARE(result->outcome, PageReader::Result::CannotStart);
            QVERIFY(result->why.contains(QLatin1String("no-such-reader")));
        }
        qInstallMessageHandler(g_previousHandler);
        QCOMPARE(g_readerWarnings, 1);
        reader.setProgram(PageReader::defaultProgram());
        const auto next = readThere(reader, testFile("dashboard.html"));
        QVERIFY(next && next->outcome == PageReader::Result::Read);
    }

    // Going while the reader spins is immediate, and takes the reader along.
    void destroyingTheReaderEndsItsProcessAtOnce()
    {
        auto reader = std::make_unique<PageReader>();
        reader->setDeadlineMs(600000);
        reader->setProgram(QStringLiteral(FAKE_READER), {QStringLiteral("spin")});
        reader->read(testFile("dashboard.html"), {}, kAddress);
        QTRY_VERIFY(reader->readerProcessId() != 0);
        const qint64 pid = reader->readerProcessId();
        // Until it spins: it has taken the whole request from the pipe.
        QTRY_VERIFY_WITH_TIMEOUT(processState(pid) == 'R', 10000);
        QElapsedTimer clock;
        clock.start();
        reader.reset();
        QVERIFY2(clock.elapsed() < 5000, "the quit waited for the reader");
        QCOMPARE(::kill(static_cast<pid_t>(pid), 0), -1);
    }

    // A new page while one is read replaces it: one answer, for the new page.
    void aNewPageReplacesTheOneBeingRead()
    {
        PageReader reader;
        reader.setDeadlineMs(30000);
        QSignalSpy finished(&reader, &PageReader::finished);
        reader.read(QByteArray("<p>first"), {}, kAddress);
        reader.read(testFile("dashboard.html"), {}, kAddress);
        QVERIFY(finished.wait(30000));
        QTest::qWait(200);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).value<PageReader::Result>().outcome,
                 PageReader::Result::Read);
    }

private:
    static char processState(qint64 pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        return close > 0 && close + 2 < text.size() ? text.at(close + 2) : char(0);
    }
};

QTEST_GUILESS_MAIN(TestPageReader)
#include "tst_pagereader.moc"
