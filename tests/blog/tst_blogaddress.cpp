#include "blog/blogaddress.h"

#include <QTest>

#include <string>

class TestBlogAddress final : public QObject
{
    Q_OBJECT

private slots:
    // The login form and the dashboard as the blog host expects them.
    void formEncodingKeepsEveryCharacter()
    {
        QCOMPARE(blogaddress::formEncode("a-Z_0.*"), std::string("a-Z_0.*"));
        QCOMPARE(blogaddress::formEncode("a b&c=d+e%f"), std::string("a+b%26c%3Dd%2Be%25f"));
        QCOMPARE(blogaddress::formEncode("한"), std::string("%ED%95%9C"));
        QCOMPARE(blogaddress::loginAddress("http://blog.example"),
                 std::string("http://blog.example/login?requestURI=http%3A%2F%2Fblog.example%"
                             "2Fowner%2Fcenter%2Fdashboard&try=1"));
        QCOMPARE(blogaddress::loginAddress("https://blog.example"),
                 std::string("https://blog.example/login?requestURI=https%3A%2F%2Fblog.example%"
                             "2Fowner%2Fcenter%2Fdashboard&try=1"));
        // The blog's own address inside the value: what would break the query is encoded,
        // the rest (a path with capitals, "/", non-ASCII) goes as it is.
        QCOMPARE(blogaddress::loginAddress("http://b.example/My 블로그&a=b+c#d%20"),
                 std::string("http://b.example/My 블로그&a=b+c#d%20/login?requestURI=http%3A%2F%2F"
                             "b.example/My%20블로그%26a%3Db%2Bc%23d%2520%2Fowner%2Fcenter%2F"
                             "dashboard&try=1"));
        QCOMPARE(blogaddress::loginBody("http://b.example", "me", "p w"),
                 std::string("requestURI=http%3A%2F%2Fb.example%2Fowner%2Fcenter%2Fdashboard&"
                             "goPortal=false&loginid=me&password=p+w&save=on"));
        const std::string blog = "http://blog.example:8080";
        QVERIFY(blogaddress::isDashboardAddress("HTTP://Blog.Example:8080/owner/center/dashboard",
                                                blog));
        QVERIFY(blogaddress::isDashboardAddress("http://blog.example/myblog/owner/center/dashboard",
                                                "http://blog.example/MyBlog"));
        // The login may be upgraded to https on the same host, on any port; nothing else.
        QVERIFY(
            blogaddress::isDashboardAddress("https://blog.example/owner/center/dashboard", blog));
        QVERIFY(blogaddress::isDashboardAddress("https://blog.example:8443/owner/center/dashboard",
                                                blog));
        QVERIFY(!blogaddress::isDashboardAddress("https://evil.example:8080/owner/center/dashboard",
                                                 blog));
        QVERIFY(!blogaddress::isDashboardAddress("https://blog.example/login?error=1", blog));
        QVERIFY(!blogaddress::isDashboardAddress("http://blog.example/owner/center/dashboard",
                                                 "https://blog.example"));
    }
};

QTEST_APPLESS_MAIN(TestBlogAddress)
#include "tst_blogaddress.moc"
