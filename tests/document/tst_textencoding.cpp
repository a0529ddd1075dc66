// Encoding sniffing and decoding as the Encoding Standard and the HTML Standard's prescan
// define them.
#include "document/htmldocument.h"
#include "document/textencoding.h"

#include <QTest>

using namespace textencoding;

namespace {

std::string sniffed(std::string_view bytes, std::string_view http = {})
{
    return sniffEncoding(bytes, http).encoding;
}

std::string hex(const std::string &s)
{
    std::string out;
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

} // namespace

class TestTextEncoding final : public QObject
{
    Q_OBJECT

private slots:
    void labels_data();
    void labels();
    void sniffingOrder();
    void prescan_data();
    void prescan();
    void utf8Errors_data();
    void utf8Errors();
    void utf16();
    void eucKr();
    void singleByte();
    void queryEncoding();
    void parseUsesSniffedEncoding();
};

void TestTextEncoding::labels_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("encoding");
    QTest::newRow("euc-kr") << "euc-kr"
                            << "EUC-KR";
    QTest::newRow("upper case") << "EUC-KR"
                                << "EUC-KR";
    QTest::newRow("ks_c_5601-1987") << "ks_c_5601-1987"
                                    << "EUC-KR";
    QTest::newRow("windows-949") << "windows-949"
                                 << "EUC-KR";
    QTest::newRow("korean") << "korean"
                            << "EUC-KR";
    QTest::newRow("spaces around") << " \t utf-8\n\f"
                                   << "UTF-8";
    QTest::newRow("utf8") << "UTF8"
                          << "UTF-8";
    QTest::newRow("latin1 is windows-1252") << "latin1"
                                            << "windows-1252";
    QTest::newRow("iso-8859-1") << "ISO-8859-1"
                                << "windows-1252";
    QTest::newRow("ascii") << "us-ascii"
                           << "windows-1252";
    QTest::newRow("iso-8859-9 is windows-1254") << "iso-8859-9"
                                                << "windows-1254";
    QTest::newRow("utf-16") << "utf-16"
                            << "UTF-16LE";
    QTest::newRow("iso-2022-kr") << "iso-2022-kr"
                                 << "replacement";
    QTest::newRow("sjis") << "sjis"
                          << "Shift_JIS";
    // Not labels of the standard: browsers ignore them.
    QTest::newRow("cp949") << "cp949"
                           << "";
    QTest::newRow("space inside") << "utf -8"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("utf-7") << "utf-7"
                           << "";
}

void TestTextEncoding::labels()
{
    QFETCH(QString, label);
    QFETCH(QString, encoding);
    const auto found = encodingForLabel(label.toStdString());
    QCOMPARE(QString::fromStdString(found.value_or("")), encoding);
}

void TestTextEncoding::sniffingOrder()
{
    const std::string meta = "<meta charset=euc-kr>";
    // A BOM beats everything, and is skipped.
    auto s = sniffEncoding("\xEF\xBB\xBF" + meta, "windows-1252");
    QCOMPARE(s.encoding, std::string("UTF-8"));
    QCOMPARE(s.bomLength, std::size_t(3));
    QVERIFY(s.certain);
    QCOMPARE(sniffed("\xFF\xFE<\0", "euc-kr"), std::string("UTF-16LE"));
    QCOMPARE(sniffed("\xFE\xFF\0<", "euc-kr"), std::string("UTF-16BE"));
    // The HTTP charset beats the page's own declaration.
    s = sniffEncoding(meta, "iso-8859-1");
    QCOMPARE(s.encoding, std::string("windows-1252"));
    QVERIFY(s.certain);
    // An unknown HTTP label counts as none.
    s = sniffEncoding(meta, "x-unknown");
    QCOMPARE(s.encoding, std::string("EUC-KR"));
    QVERIFY(!s.certain);
    // Nothing at all: UTF-8, open to a later <meta>.
    s = sniffEncoding("<p>plain", "");
    QCOMPARE(s.encoding, std::string("UTF-8"));
    QVERIFY(!s.certain);
    // The prescan reads only the first 1024 bytes.
    const std::string late = "<!--" + std::string(1100, 'x') + "-->" + meta;
    QCOMPARE(sniffed(late), std::string("UTF-8"));
}

void TestTextEncoding::prescan_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("encoding");
    QTest::newRow("charset") << QByteArray("<meta charset=\"euc-kr\">") << "EUC-KR";
    QTest::newRow("case and slash") << QByteArray("<META/CHARSET='EUC-KR'>") << "EUC-KR";
    QTest::newRow("http-equiv")
        << QByteArray(
               "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ks_c_5601-1987\">")
        << "EUC-KR";
    QTest::newRow("content before http-equiv")
        << QByteArray("<meta content='text/html;charset=euc-kr' http-equiv=content-type>")
        << "EUC-KR";
    QTest::newRow("content without pragma")
        << QByteArray("<meta content=\"charset=euc-kr\">") << "";
    QTest::newRow("in a comment") << QByteArray("<!-- <meta charset=euc-kr> -->") << "";
    QTest::newRow("after a short comment") << QByteArray("<!--><meta charset=euc-kr>") << "EUC-KR";
    QTest::newRow("inside another tag's attribute")
        << QByteArray("<div title='<meta charset=euc-kr>'>") << "";
    QTest::newRow("first attribute wins")
        << QByteArray("<meta charset=euc-kr charset=utf-8>") << "EUC-KR";
    QTest::newRow("unknown label, then a good meta")
        << QByteArray("<meta charset=bogus><meta charset=euc-kr>") << "EUC-KR";
    QTest::newRow("utf-16 means utf-8") << QByteArray("<meta charset=utf-16le>") << "UTF-8";
    QTest::newRow("x-user-defined")
        << QByteArray("<meta charset=x-user-defined>") << "windows-1252";
    QTest::newRow("unterminated") << QByteArray("<meta charset=\"euc-kr") << "";
    QTest::newRow("metadata is not meta") << QByteArray("<metadata charset=euc-kr>") << "";
    QTest::newRow("quoted charset in content")
        << QByteArray("<meta http-equiv=content-type content='text/html; charset=\"euc-kr\"'>")
        << "EUC-KR";
    QTest::newRow("processing instruction")
        << QByteArray("<?xml version='1.0'?><meta charset=euc-kr>") << "EUC-KR";
}

void TestTextEncoding::prescan()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, encoding);
    const auto found = prescanForEncoding(std::string_view(page.constData(), page.size()));
    QCOMPARE(QString::fromStdString(found.value_or("")), encoding);
}

void TestTextEncoding::utf8Errors_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    const QString r(QChar(0xFFFD));
    QTest::newRow("valid") << QByteArray("a\xC3\xA9\xF0\x9F\x98\x80")
                           << QString::fromUtf8("a\xC3\xA9\xF0\x9F\x98\x80");
    QTest::newRow("lone continuation")
        << QByteArray("a\x80z") << QStringLiteral("a") + r + QStringLiteral("z");
    QTest::newRow("truncated sequence is one error")
        << QByteArray("\xE2\x82z") << r + QStringLiteral("z");
    QTest::newRow("overlong") << QByteArray("\xC0\xAF") << r + r;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << r + r + r;
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << r + r + r + r;
    QTest::newRow("cut at the end") << QByteArray("ok\xF0\x9F\x98") << QStringLiteral("ok") + r;
    QTest::newRow("bad byte restarts") << QByteArray("\xE2\xC3\xA9") << r + QChar(0xE9);
}

void TestTextEncoding::utf8Errors()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(
                 decodeToUtf8(std::string_view(bytes.constData(), bytes.size()), "UTF-8")),
             text);
}

void TestTextEncoding::utf16()
{
    const std::string le("a\0\x3D\xD8\x00\xDE", 6); // "a" U+1F600
    QCOMPARE(QString::fromStdString(decodeToUtf8(le, "UTF-16LE")),
             QString::fromUtf8("a\xF0\x9F\x98\x80"));
    const std::string be("\0a\xD8\x3D\xDE\x00", 6);
    QCOMPARE(QString::fromStdString(decodeToUtf8(be, "UTF-16BE")),
             QString::fromUtf8("a\xF0\x9F\x98\x80"));
    // A lone surrogate and an odd last byte each become one replacement character.
    const std::string broken("\x3D\xD8"
                             "b\0"
                             "c",
                             5);
    QCOMPARE(QString::fromStdString(decodeToUtf8(broken, "UTF-16LE")),
             QString(QChar(0xFFFD)) + QStringLiteral("b") + QChar(0xFFFD));
}

void TestTextEncoding::eucKr()
{
    // KS X 1001 and the extra syllables of windows-949 alike.
    QCOMPARE(decodeToUtf8("\xB0\xA1", "EUC-KR"), std::string("\xEA\xB0\x80")); // 가
    QCOMPARE(decodeToUtf8("\x8C\x63", "EUC-KR"), std::string("\xEB\x98\xA0")); // 똠
    QCOMPARE(decodeToUtf8("\x94\xEE", "EUC-KR"), std::string("\xEB\xB7\x81")); // 뷁
    QCOMPARE(decodeToUtf8("\xA2\xE6", "EUC-KR"), std::string("\xE2\x82\xAC")); // €
    const std::string r = "\xEF\xBF\xBD";
    // An unmapped pair whose trail byte is ASCII gives that byte back.
    QCOMPARE(decodeToUtf8("\xC9\x41", "EUC-KR"), r + "A");
    QCOMPARE(decodeToUtf8("\x81<", "EUC-KR"), r + "<");
    QCOMPARE(decodeToUtf8("\x80\xFF", "EUC-KR"), r + r);
    QCOMPARE(decodeToUtf8("x\xB0", "EUC-KR"), "x" + r);
}

void TestTextEncoding::singleByte()
{
    QCOMPARE(decodeToUtf8("caf\xE9 \x80", "windows-1252"), std::string("caf\xC3\xA9 \xE2\x82\xAC"));
    // The bytes Windows leaves undefined read as C1 controls, as in browsers.
    QCOMPARE(decodeToUtf8("\x81", "windows-1252"), std::string("\xC2\x81"));
    QCOMPARE(decodeToUtf8("\xC0", "windows-1251"), std::string("\xD0\x90"));
    QCOMPARE(decodeToUtf8("\xAA", "windows-1253"), std::string("\xEF\xBF\xBD"));
    QCOMPARE(decodeToUtf8("\x80", "x-user-defined"), std::string("\xEF\x9E\x80"));
    QCOMPARE(decodeToUtf8("abc", "replacement"), std::string("\xEF\xBF\xBD"));
    QCOMPARE(decodeToUtf8("", "replacement"), std::string());
}

void TestTextEncoding::queryEncoding()
{
    // 똠 is 8C 63 in EUC-KR: the trail byte is the letter "c".
    QCOMPARE(encodeForUrl(U"\uB620", "EUC-KR"), std::string("\x8C\x63"));
    QCOMPARE(encodeForUrl(U"a\uAC00", "EUC-KR"), std::string("a\xB0\xA1"));
    QCOMPARE(encodeForUrl(U"\u00E9\U0001F600", "EUC-KR"),
             std::string("%26%23233%3B%26%23128512%3B"));
    QCOMPARE(encodeForUrl(U"\u00E9", "windows-1252"), std::string("\xE9"));
    QCOMPARE(encodeForUrl(U"\u00E9", "UTF-16LE"), std::string("\xC3\xA9"));
    const char32_t loneSurrogate[] = {0xD800, 0};
    QCOMPARE(hex(encodeForUrl(loneSurrogate, "UTF-8")), hex("\xEF\xBF\xBD"));
}

void TestTextEncoding::parseUsesSniffedEncoding()
{
    const char page[] = "<meta charset=euc-kr><p id=t>\x8C\x63</p>";
    const char address[] = "http://127.0.0.1/";
    auto doc = HtmlDocument::parse(page, {}, address);
    QCOMPARE(doc->encodingName(), std::string("EUC-KR"));
    QCOMPARE(doc->getElementById("t")->innerText(), std::string("\xEB\x98\xA0"));
    // The HTTP header wins over the page.
    doc = HtmlDocument::parse(page, "windows-1252", address);
    QCOMPARE(doc->encodingName(), std::string("windows-1252"));
    QCOMPARE(doc->getElementById("t")->innerText(), std::string("\xC5\x92"
                                                                "c"));
    // A declaration the prescan cannot see still switches the parse.
    const std::string late =
        "<head><!--" + std::string(1100, 'x') + "--><meta charset=euc-kr></head><p id=t>\xB0\xA1";
    doc = HtmlDocument::parse(late, {}, address);
    QCOMPARE(doc->encodingName(), std::string("EUC-KR"));
    QCOMPARE(doc->getElementById("t")->innerText(), std::string("\xEA\xB0\x80"));
}

QTEST_APPLESS_MAIN(TestTextEncoding)
#include "tst_textencoding.moc"
