// Address resolution by the URL Standard: what a browser reports for an element's href.
#include "document/urlresolver.h"

#include <QTest>

class TestUrlResolver final : public QObject
{
    Q_OBJECT

private slots:
    void resolve_data();
    void resolve();
    void recordParts();
};

void TestUrlResolver::resolve_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("expected"); // "FAIL" when the parser fails

    const QString page = QStringLiteral("http://example.org/dir/sub/page.html?old=1#top");
    auto row = [&](const char *name, const char *input, const char *expected,
                   const QString &base = QString(), const char *encoding = "UTF-8") {
        QTest::newRow(name) << QString::fromUtf8(input) << (base.isNull() ? page : base)
                            << QString::fromLatin1(encoding) << QString::fromUtf8(expected);
    };

    // Relative forms.
    row("sibling", "other.html", "http://example.org/dir/sub/other.html");
    row("up", "../up", "http://example.org/dir/up");
    row("above the root", "../../../../x", "http://example.org/x");
    row("percent-encoded dots", "a/%2e/b/%2E%2e/c", "http://example.org/dir/sub/a/c");
    row("incomplete percent dot", "%2e%2", "http://example.org/dir/sub/%2e%2");
    row("trailing dot dot", "x/..", "http://example.org/dir/sub/");
    row("query only", "?q", "http://example.org/dir/sub/page.html?q");
    row("fragment only", "#f", "http://example.org/dir/sub/page.html?old=1#f");
    row("empty keeps the query, drops the fragment", "",
        "http://example.org/dir/sub/page.html?old=1");
    row("scheme-relative", "//Other.Example/x", "http://other.example/x");
    row("same scheme, no slashes", "http:x", "http://example.org/dir/sub/x");
    row("same scheme, one slash", "http:/x", "http://example.org/x");
    row("empty host", "//", "FAIL");
    row("backslashes", "..\\a\\b", "http://example.org/dir/a/b");
    row("backslash authority", "\\\\h\\p", "http://h/p");
    row("many slashes", "http://example.com////../..", "http://example.com//");

    // Clean-up of the input.
    row("outer spaces and controls", " \t\x01http://h/x \x1F", "http://h/x");
    row("inner tab and newline", "http://h/a\tb\nc\rd", "http://h/abcd");

    // Hosts.
    row("upper-case host", "HTTP://EXAMPLE.COM/P", "http://example.com/P");
    row("default port", "http://h:80/", "http://h/");
    row("https default port", "https://h:443/", "https://h/");
    row("port with zeros", "http://h:00080/", "http://h/");
    row("other port", "http://h:8080/", "http://h:8080/");
    row("port too large", "http://h:65536/", "FAIL");
    row("port not a number", "http://h:8a/", "FAIL");
    row("ipv4 number", "http://4294967295/", "http://255.255.255.255/");
    row("ipv4 too large", "http://4294967296/", "FAIL");
    row("ipv4 hex and octal", "http://0x7f.0.0.010/", "http://127.0.0.8/");
    row("ipv4 part too large", "http://0x100.0/", "FAIL");
    row("ipv4 five parts", "http://1.2.3.4.5/", "FAIL");
    row("ends in a bad number", "http://foo.09/", "FAIL");
    row("ipv6", "http://[0:0::1]:80/", "http://[::1]/");
    row("ipv6 unclosed", "http://[::1/", "FAIL");
    row("ipv6 all zeros", "http://[0::0:0]/", "http://[::]/");
    row("ipv6 first of two longest zero runs", "http://[1:0:0:2:0:0:3:4]/",
        "http://[1::2:0:0:3:4]/");
    row("ipv6 longer zero run later", "http://[1:0:0:2:0:0:0:3]/", "http://[1:0:0:2::3]/");
    row("ipv6 single zeros stay", "http://[1:0:2:0:3:0:4:0]/", "http://[1:0:2:0:3:0:4:0]/");
    row("ipv6 zero run at the end", "http://[1:2:3:4:5:6:0:0]/", "http://[1:2:3:4:5:6::]/");
    row("ipv6 lower case, no leading zeros", "http://[ABCD:EF01::0db8]/",
        "http://[abcd:ef01::db8]/");
    row("ipv6 embedded ipv4 in hex", "http://[::ffff:192.168.0.1]/", "http://[::ffff:c0a8:1]/");
    row("ipv6 embedded ipv4 after six pieces", "http://[1:2:3:4:5:6:1.2.3.4]/",
        "http://[1:2:3:4:5:6:102:304]/");
    row("ipv6 embedded ipv4 with a port", "http://[::127.0.0.1]:8080/x",
        "http://[::7f00:1]:8080/x");
    row("ipv6 embedded ipv4 too late", "http://[1:2:3:4:5:6:7:1.2.3.4]/", "FAIL");
    row("ipv6 embedded ipv4 leading zero", "http://[::1.02.3.4]/", "FAIL");
    row("ipv6 embedded ipv4 of three numbers", "http://[::1.2.3]/", "FAIL");
    row("ipv6 two compressions", "http://[1::2::3]/", "FAIL");
    row("ipv6 compression after eight pieces", "http://[1:2:3:4:5:6:7:8::]/", "FAIL");
    row("ipv6 seven pieces", "http://[1:2:3:4:5:6:7]/", "FAIL");
    row("ipv6 one leading colon", "http://[:1::]/", "FAIL");
    row("ipv6 five hex digits", "http://[12345::]/", "FAIL");
    row("ipv6 non-special", "foo://[1:0::0]/", "foo://[1::]/");
    row("percent in host", "http://ex%41mple.com/", "http://example.com/");
    row("bad percent in host", "http://%zz/", "FAIL");
    row("space in host", "http://a b/", "FAIL");
    row("idn",
        "http://B\xC3\x9C"
        "cher.example/",
        "http://xn--bcher-kva.example/");
    row("idn full-width",
        "http://\xEF\xBD\x82\xC3\xBC\xEF\xBD\x83\xEF\xBD\x88\xEF\xBD\x85\xEF\xBD\x92.example/",
        "http://xn--bcher-kva.example/");
    row("idn ideographic full stop",
        "http://b\xC3\xBC"
        "cher\xE3\x80\x82"
        "example/",
        "http://xn--bcher-kva.example/");
    row("idn keeps sharp s", "http://fa\xC3\x9F.de/", "http://xn--fa-hia.de/");
    row("idn korean", "http://\xED\x95\x9C\xEA\xB5\xAD.example/", "http://xn--3e0b707e.example/");
    row("idn emoji", "http://\xF0\x9F\x98\x80.example/", "http://xn--e28h.example/");
    row("idn leading hyphen",
        "http://-b\xC3\xBC"
        "cher.example/",
        "http://xn---bcher-4ya.example/");
    row("idn doubled hyphen", "http://b\xC3\xBC--cher.example/", "http://xn--b--cher-n2a.example/");
    row("idn beside a hyphen-led label", "http://\xC3\xBC.-a.example/",
        "http://xn--tda.-a.example/");
    row("idn bad punycode label", "http://\xC3\xBC.xn--zz.example/", "FAIL");
    row("idn joiner out of context", "http://\xC3\xBC\xE2\x80\x8D.example/", "FAIL");
    row("idn percent-encoded nul", "http://\xC3\xBC.%00.example/", "FAIL");
    row("userinfo", "http://u:p@h/", "http://u:p@h/");
    row("empty userinfo", "http://@h/", "http://h/");
    row("two at signs", "http://a@b@c/", "http://a%40b@c/");
    row("userinfo encoding", "http://a b:c;d@h/", "http://a%20b:c%3Bd@h/");

    // Percent-encoding of each part.
    row("path", "/a b\"<>`{}^|", "http://example.org/a%20b%22%3C%3E%60%7B%7D%5E|");
    row("query", "/?a b\"<>'`", "http://example.org/?a%20b%22%3C%3E%27`");
    row("non-special query keeps '", "foo://h/?'", "foo://h/?'");
    row("fragment", "#a b\"<>`'", "http://example.org/dir/sub/page.html?old=1#a%20b%22%3C%3E%60'");
    row("already encoded stays", "/%41%2f?%zz", "http://example.org/%41%2f?%zz");
    row("utf-8 path", "/\xED\x95\x9C", "http://example.org/%ED%95%9C");
    row("query in the page's encoding", "?q=\xED\x95\x9C",
        "http://example.org/dir/sub/page.html?q=%C7%D1", QString(), "EUC-KR");
    row("extra syllable in EUC-KR", "?q=\xEB\x98\xA0",
        "http://example.org/dir/sub/page.html?q=%8Cc", QString(), "EUC-KR");
    row("path stays UTF-8 on an EUC-KR page", "/\xED\x95\x9C", "http://example.org/%ED%95%9C",
        QString(), "EUC-KR");
    row("unmappable in the query", "?q=\xC3\xA9",
        "http://example.org/dir/sub/page.html?q=%26%23233%3B", QString(), "EUC-KR");
    row("ws queries are UTF-8", "ws://h/?\xC3\xA9", "ws://h/?%C3%A9", QString(), "windows-1252");
    row("windows-1252 query", "?\xC3\xA9", "http://example.org/dir/sub/page.html?%E9", QString(),
        "windows-1252");
    row("utf-16 pages encode in UTF-8", "?\xC3\xA9", "http://example.org/dir/sub/page.html?%C3%A9",
        QString(), "UTF-16LE");

    // Other schemes.
    row("javascript", "javascript:void(0)", "javascript:void(0)");
    row("mailto", "mailto:A@B.c?subject=a b", "mailto:A@B.c?subject=a%20b");
    row("fragment on an opaque base", "#x", "mailto:a@b#x", QStringLiteral("mailto:a@b"));
    row("relative on an opaque base", "x", "FAIL", QStringLiteral("mailto:a@b"));
    row("no base", "x", "FAIL", QStringLiteral("not a url"));
    row("non-special dot segments", "foo://h/a/../b", "foo://h/b");
    row("non-special path that looks like a host", "foo:/.//p", "foo:/.//p");
    row("file drive letter", "file:///C|/x/../y", "file:///C:/y");
    row("file localhost", "file://localhost/x", "file:///x");
    row("file drive kept on ..", "/c:/../x", "file:///c:/x", QStringLiteral("file:///C:/bar"));
    row("data", "data:text/plain,a b", "data:text/plain,a b");
}

void TestUrlResolver::resolve()
{
    QFETCH(QString, input);
    QFETCH(QString, base);
    QFETCH(QString, encoding);
    QFETCH(QString, expected);
    const auto result = resolveUrl(input.toStdString(), base.toStdString(), encoding.toStdString());
    QCOMPARE(result ? QString::fromStdString(*result) : QStringLiteral("FAIL"), expected);
}

void TestUrlResolver::recordParts()
{
    const auto url = parseUrl("HTTPS://User:Pw@Example.COM:8443/a/./b/../c?x#y");
    QVERIFY(url);
    QCOMPARE(url->scheme, std::string("https"));
    QCOMPARE(url->username, std::string("User"));
    QCOMPARE(url->password, std::string("Pw"));
    QCOMPARE(url->host.value_or(""), std::string("example.com"));
    QCOMPARE(url->port.value_or(0), 8443);
    QCOMPARE(url->path, (std::vector<std::string>{"a", "c"}));
    QCOMPARE(url->query.value_or(""), std::string("x"));
    QCOMPARE(url->serialize(true), std::string("https://User:Pw@example.com:8443/a/c?x"));
    QVERIFY(url->isSpecial());
    QVERIFY(!parseUrl("mailto:x")->isSpecial());
    QVERIFY(parseUrl("mailto:x")->opaquePath);
}

QTEST_APPLESS_MAIN(TestUrlResolver)
#include "tst_urlresolver.moc"
