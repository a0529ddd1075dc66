#include "state/dashboardmodel.h"

#include <QSignalSpy>
#include <QTest>

namespace {

RecentItemList items(const QStringList &texts)
{
    RecentItemList list;
    for (const QString &t : texts)
        list.push_back({t.toStdString(), "http://blog.example/" + t.toStdString()});
    return list;
}

RecentItemList items(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *t : texts)
        list << QString::fromUtf8(t);
    return items(list);
}

DashboardReading reading(const RecentItemList &comments, const RecentItemList &trackbacks = {},
                         const RecentItemList &guestbook = {}, int count = 0)
{
    DashboardReading r;
    r.todayCount = count;
    r[ItemKind::Comment] = comments;
    r[ItemKind::Trackback] = trackbacks;
    r[ItemKind::Guestbook] = guestbook;
    return r;
}

} // namespace

class TestDashboardModel final : public QObject
{
    Q_OBJECT

private slots:
    void firstReadingOfTheRunIsSilent()
    {
        DashboardModel model;
        QSignalSpy readings(&model, &DashboardModel::readingChanged);
        QSignalSpy marks(&model, &DashboardModel::newItemsChanged);
        QVERIFY(!model.hasReading());
        QVERIFY(!model.newest(ItemKind::Comment));
        model.takeReading(reading(items({"a", "b"}), items({"t"}), items({"g"}), 15));
        QVERIFY(model.hasReading());
        QCOMPARE(model.todayCount(), 15);
        QCOMPARE(model.firstNewKind(), std::nullopt);
        QVERIFY(!model.lastReadingChanged());
        QCOMPARE(readings.count(), 1);
        QCOMPARE(marks.count(), 0);
        QCOMPARE(model.newest(ItemKind::Trackback)->text, std::string("t"));
        QCOMPARE(model.items(ItemKind::Comment).size(), std::size_t(2));
    }

    void changesMarkTheirKind_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("marked");
        const QStringList ab{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("same lists") << ab << ab << false;
        QTest::newRow("new head, same length")
            << ab << QStringList{QStringLiteral("n"), QStringLiteral("a")} << true;
        QTest::newRow("item removed") << ab << QStringList{QStringLiteral("a")} << true;
        QTest::newRow("list emptied") << QStringList{QStringLiteral("a")} << QStringList{} << true;
        QTest::newRow("first item arrives")
            << QStringList{} << QStringList{QStringLiteral("a")} << true;
        QTest::newRow("change below the head")
            << ab << QStringList{QStringLiteral("a"), QStringLiteral("x")} << false;
        QTest::newRow("head text case differs")
            << QStringList{QStringLiteral("abc")} << QStringList{QStringLiteral("ABC")} << true;
    }

    void changesMarkTheirKind()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(bool, marked);
        DashboardModel model;
        model.takeReading(reading({}, {}, items(before)));
        QSignalSpy marks(&model, &DashboardModel::newItemsChanged);
        model.takeReading(reading({}, {}, items(after)));
        QCOMPARE(model.isNew(ItemKind::Guestbook), marked);
        QCOMPARE(model.lastReadingChanged(), marked);
        QVERIFY(!model.isNew(ItemKind::Comment));
        QVERIFY(!model.isNew(ItemKind::Trackback));
        QCOMPARE(marks.count(), marked ? 1 : 0);
        if (marked) {
            QCOMPARE(marks.first().first().value<ItemKind>(), ItemKind::Guestbook);
            QCOMPARE(model.firstNewKind(), std::optional<ItemKind>(ItemKind::Guestbook));
        }
    }

    void aLinkThatMovedIsNoNews()
    {
        DashboardModel model;
        model.takeReading(reading(items({"a"})));
        RecentItemList moved = items({"a"});
        moved.front().link = "http://elsewhere/";
        model.takeReading(reading(moved));
        QVERIFY(!model.isNew(ItemKind::Comment));
        QCOMPARE(model.newest(ItemKind::Comment)->link, std::string("http://elsewhere/"));
    }

    void aMarkStaysUntilTheUserAttends()
    {
        DashboardModel model;
        model.takeReading(reading(items({"a"}), items({"t"})));
        model.takeReading(reading(items({"b", "a"}), items({"u", "t"})));
        QCOMPARE(model.firstNewKind(), std::optional<ItemKind>(ItemKind::Comment));
        // Unchanged: both kinds stay new, but nothing arrived in this reading.
        QSignalSpy marks(&model, &DashboardModel::newItemsChanged);
        model.takeReading(reading(items({"b", "a"}), items({"u", "t"})));
        QVERIFY(model.isNew(ItemKind::Comment));
        QVERIFY(!model.lastReadingChanged());
        QCOMPARE(marks.count(), 0);
        model.clearNew(ItemKind::Comment);
        model.clearNew(ItemKind::Comment); // nothing more to clear, nothing said
        QCOMPARE(marks.count(), 1);
        QCOMPARE(model.firstNewKind(), std::optional<ItemKind>(ItemKind::Trackback));
        model.takeReading(reading(items({"b", "a"}), items({"u", "t"})));
        QVERIFY(!model.isNew(ItemKind::Comment));
    }
};

QTEST_GUILESS_MAIN(TestDashboardModel)
#include "tst_dashboardmodel.moc"
