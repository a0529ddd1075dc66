#include "state/dashboardmodel.h"
#include "state/seenmemory.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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

    void whatIsNew_data()
    {
        // Items as "text@link"; the links are the ones the blog gives them.
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("announced"); // empty: the kind is not new
        const auto list = [](std::initializer_list<const char *> items) {
            QStringList out;
            for (const char *item : items)
                out << QString::fromUtf8(item);
            return out;
        };
        QTest::newRow("same lists") << list({"a@1", "b@2"}) << list({"a@1", "b@2"}) << QString();
        QTest::newRow("a new item, the oldest gone")
            << list({"a@1", "b@2"}) << list({"n@3", "a@1"}) << QStringLiteral("n@3");
        QTest::newRow("a longer list with a new first item")
            << list({"a@1"}) << list({"n@2", "a@1"}) << QStringLiteral("n@2");
        QTest::newRow("a repeated text")
            << list({"잘 보고 갑니다@1", "b@2"}) << list({"잘 보고 갑니다@3", "잘 보고 갑니다@1"})
            << QStringLiteral("잘 보고 갑니다@3");
        QTest::newRow("a deleted newest item")
            << list({"a@1", "b@2", "c@3"}) << list({"b@2", "c@3"}) << QString();
        QTest::newRow("a deleted middle item")
            << list({"a@1", "b@2", "c@3"}) << list({"a@1", "c@3"}) << QString();
        QTest::newRow("an older item back in view below")
            << list({"a@1", "b@2"}) << list({"b@2", "z@0"}) << QString();
        QTest::newRow("a reordered list")
            << list({"a@1", "b@2"}) << list({"b@2", "a@1"}) << QString();
        QTest::newRow("an edited item") << list({"a@1"}) << list({"a, edited@1"}) << QString();
        QTest::newRow("a change below the newest")
            << list({"a@1", "b@2"}) << list({"a@1", "x@3"}) << QString();
        QTest::newRow("the first item") << QStringList{} << list({"a@1"}) << QStringLiteral("a@1");
        QTest::newRow("the list emptied") << list({"a@1"}) << QStringList{} << QString();
        QTest::newRow("a link that changed")
            << list({"a@1"}) << list({"a@9"}) << QStringLiteral("a@9");
        // A guestbook whose entries all link to one page: the texts tell them apart.
        QTest::newRow("one link, a text posted twice")
            << list({"감사합니다@g", "안녕@g"}) << list({"감사합니다@g", "감사합니다@g", "안녕@g"})
            << QStringLiteral("감사합니다@g");
        QTest::newRow("one link, the newest deleted")
            << list({"감사합니다@g", "안녕@g"}) << list({"안녕@g"}) << QString();
    }

    void whatIsNew()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, announced);
        const auto toList = [](const QStringList &items) {
            RecentItemList list;
            for (const QString &item : items) {
                const qsizetype at = item.lastIndexOf(QLatin1Char('@'));
                list.push_back({item.left(at).toStdString(),
                                "http://blog.example/" + item.mid(at + 1).toStdString()});
            }
            return list;
        };
        DashboardModel model;
        model.takeReading(reading({}, {}, toList(before)));
        QSignalSpy marks(&model, &DashboardModel::newItemsChanged);
        model.takeReading(reading({}, {}, toList(after)));
        const bool marked = !announced.isEmpty();
        QCOMPARE(model.isNew(ItemKind::Guestbook), marked);
        QCOMPARE(model.lastReadingChanged(), marked);
        QVERIFY(!model.isNew(ItemKind::Comment));
        QCOMPARE(marks.count(), marked ? 1 : 0);
        if (marked)
            QCOMPARE(model.announcement(ItemKind::Guestbook), toList({announced}).front());
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

    void rememberedAcrossRuns_data()
    {
        QTest::addColumn<QString>("before");  // what happens to the file between the runs
        QTest::addColumn<QByteArray>("blog"); // the second run's blog address and ID
        QTest::addColumn<bool>("lit");
        const QByteArray same = "http://blog.example owner";
        QTest::newRow("items added while off") << QString() << same << true;
        QTest::newRow("a first run") << QStringLiteral("missing") << same << false;
        QTest::newRow("another blog")
            << QString() << QByteArray("http://other.example owner") << false;
        QTest::newRow("another ID")
            << QString() << QByteArray("http://blog.example guest") << false;
        QTest::newRow("a damaged file") << QStringLiteral("damaged") << same << false;
        QTest::newRow("a file of another program") << QStringLiteral("foreign") << same << false;
        QTest::newRow("a FIFO in its place") << QStringLiteral("fifo") << same << false;
        QTest::newRow("a file over the size limit") << QStringLiteral("huge") << same << false;
    }

    // What came while Ormix was off lights the first reading of the next run, for the same
    // blog and ID only; a file that cannot serve counts as empty and is written anew.
    void rememberedAcrossRuns()
    {
        QFETCH(QString, before);
        QFETCH(QByteArray, blog);
        QFETCH(bool, lit);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Ormix/seen.json"));
        const RecentItemList seen = items({"a", "b"});
        {
            DashboardModel model;
            SeenMemory memory(model, path);
            memory.attach("http://blog.example", "owner");
            model.takeReading(reading(seen, items({"t"})));
        }
        QVERIFY(QFile::exists(path));
        const QByteArray name = QFile::encodeName(path);
        if (before == QLatin1String("missing")) {
            QVERIFY(QFile::remove(path));
        } else if (before == QLatin1String("damaged") || before == QLatin1String("foreign")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(before == QLatin1String("damaged") ? QByteArray("{\"format\":\"ormix-se")
                                                          : QByteArray("{\"accounts\":[]}"));
        } else if (before == QLatin1String("fifo")) {
            QVERIFY(QFile::remove(path));
            QCOMPARE(mkfifo(name.constData(), 0600), 0);
        } else if (before == QLatin1String("huge")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(QByteArray(1024 * 1024, ' '));
        }

        const QList<QByteArray> account = blog.split(' ');
        DashboardModel model;
        SeenMemory memory(model, path);
        memory.attach(account[0].toStdString(), account[1].toStdString());
        RecentItemList now = seen;
        now.insert(now.begin(), RecentItem{"while off", "http://blog.example/while-off"});
        model.takeReading(reading(now, items({"t"})));
        QCOMPARE(model.isNew(ItemKind::Comment), lit);
        QVERIFY(!model.isNew(ItemKind::Trackback));
        if (lit)
            QCOMPARE(model.announcement(ItemKind::Comment)->text, std::string("while off"));
        // Written anew, as a file the next run reads.
        DashboardModel next;
        SeenMemory after(next, path);
        QCOMPARE(after.load(account[0].toStdString(), account[1].toStdString())
                     .value_or(DashboardReading{})[ItemKind::Comment],
                 now);
    }

    void anUnwritableStateFolderIsLoggedOnly()
    {
        QTemporaryDir dir;
        // A file where the folder belongs: nothing can be written below it.
        QFile blocker(dir.filePath(QStringLiteral("Ormix")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        DashboardModel model;
        SeenMemory memory(model, dir.filePath(QStringLiteral("Ormix/seen.json")));
        memory.attach("http://blog.example", "owner");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write")));
        model.takeReading(reading(items({"a"})));
        // Said once, and the readings go on.
        model.takeReading(reading(items({"b", "a"})));
        QVERIFY(model.isNew(ItemKind::Comment));
    }
};

QTEST_GUILESS_MAIN(TestDashboardModel)
#include "tst_dashboardmodel.moc"
