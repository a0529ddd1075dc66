#include "model/dashboardmodel.h"
#include "model/noticepause.h"
#include "model/outagewatch.h"
#include "model/seenmemory.h"
#include "settings/settings.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>

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

const char *const KindLetters = "ctg";

// A reading written as "c:text@link,text@link;g:text@link": the comments, trackbacks and
// guestbook entries, newest first, each link below http://blog.example/.
DashboardReading parseReading(const QString &text)
{
    DashboardReading r;
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const auto kind = ItemKind(std::strchr(KindLetters, part.at(0).toLatin1()) - KindLetters);
        for (const QString &item : part.mid(2).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const qsizetype at = item.lastIndexOf(QLatin1Char('@'));
            r[kind].push_back({item.left(at).toStdString(),
                               "http://blog.example/" + item.mid(at + 1).toStdString()});
        }
    }
    return r;
}

// An announcement as "c:text@link".
QString describe(ItemKind kind, const RecentItem &item)
{
    return QString(QLatin1Char(KindLetters[indexOf(kind)])) + QLatin1Char(':') +
           QString::fromStdString(item.text) + QLatin1Char('@') +
           QString::fromStdString(item.link).mid(int(std::strlen("http://blog.example/")));
}

const std::string Blog = "http://blog.example";
const std::string Owner = "owner";

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
        QSignalSpy announced(&model, &DashboardModel::announced);
        QVERIFY(!model.hasReading());
        QVERIFY(!model.newest(ItemKind::Comment));
        model.logIn(Blog, Owner);
        model.takeReading(reading(items({"a", "b"}), items({"t"}), items({"g"}), 15));
        QVERIFY(model.hasReading());
        QCOMPARE(model.todayCount(), 15);
        QVERIFY(!model.lastReadingChanged());
        QCOMPARE(readings.count(), 1);
        QCOMPARE(marks.count(), 0);
        QCOMPARE(announced.count(), 0);
        QCOMPARE(model.newest(ItemKind::Trackback)->text, std::string("t"));
        QCOMPARE(model.items(ItemKind::Comment).size(), std::size_t(2));
    }

    void whatArrives_data()
    {
        // Readings as parseReading writes them; the last one comes after a login, within the
        // run or as the first reading after a restart with the memory on.
        QTest::addColumn<QStringList>("earlier");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QStringList>("announced"); // in the order the model says them
        QTest::addColumn<bool>("restart");
        const auto strings = [](std::initializer_list<const char *> list) {
            QStringList out;
            for (const char *s : list)
                out << QString::fromUtf8(s);
            return out;
        };
        const auto add = [&](const char *name, std::initializer_list<const char *> earlier,
                             const char *last, std::initializer_list<const char *> announced) {
            for (const bool restart : {false, true}) {
                QTest::addRow("%s, %s", name, restart ? "after a restart" : "within a run")
                    << strings(earlier) << QString::fromUtf8(last) << strings(announced) << restart;
            }
        };
        add("same lists", {"c:a@1,b@2"}, "c:a@1,b@2", {});
        add("a new item, the oldest gone", {"c:a@1,b@2"}, "c:n@3,a@1", {"c:n@3"});
        add("two new items", {"c:a@1"}, "c:m@3,n@2,a@1", {"c:m@3"});
        add("the first item", {"c:"}, "c:a@1", {"c:a@1"});
        add("a second kind while one is lit", {"c:a@1;g:y@g0", "c:n@2,a@1;g:y@g0"},
            "c:n@2,a@1;g:x@g1,y@g0", {"g:x@g1"});
        add("kinds at once, in box order", {"c:a@1;t:b@2;g:y@g"}, "c:n@3,a@1;t:m@4,b@2;g:x@h,y@g",
            {"c:n@3", "t:m@4", "g:x@h"});
        add("a repeated text", {"c:감사합니다!@1"}, "c:감사합니다!@2,감사합니다!@1",
            {"c:감사합니다!@2"});
        add("a deleted newest item", {"c:a@1,b@2,c@3"}, "c:b@2,c@3", {});
        add("a deleted middle item", {"c:a@1,b@2,c@3"}, "c:a@1,c@3", {});
        add("an older item back in view below", {"c:a@1,b@2"}, "c:b@2,z@0", {});
        add("a reordered list", {"c:a@1,b@2"}, "c:b@2,a@1", {});
        add("the list emptied", {"c:a@1"}, "c:", {});
        add("a change below the newest", {"c:a@1,b@2"}, "c:a@1,x@3", {});
        add("an edited item", {"c:a@1"}, "c:a (edited)@1", {});
        add("a new item above an edited one", {"c:a@1,b@2"}, "c:n@3,a (edited)@1,b@2", {"c:n@3"});
        add("edited during the last run and again since", {"c:a@1", "c:a (edited)@1"},
            "c:a (edited twice)@1", {});
        // Comments whose links point at their post.
        add("a new comment on a post whose older comment scrolled off", {"c:a@p1,b@p2,c@p3"},
            "c:n@p3,a@p1,b@p2", {"c:n@p3"});
        add("a new comment on a post whose older comment was deleted", {"c:a@p1,c@p3,d@p4"},
            "c:n@p3,a@p1,d@p4", {"c:n@p3"});
        add("restored from the spam folder", {"c:a@1,b@2", "c:b@2"}, "c:a@1,b@2", {});
        add("restored long after it left the list",
            {"c:a@1", "c:b@2,a@1", "c:c@3,b@2", "c:d@4,c@3"}, "c:a@1,d@4,c@3", {});
        // A guestbook whose entries all link to one page: the texts tell them apart.
        add("one link, a text posted twice", {"g:감사합니다@g,안녕@g"},
            "g:감사합니다@g,감사합니다@g,안녕@g", {"g:감사합니다@g"});
        add("one link, an entry restored", {"g:감사합니다@g,안녕@g", "g:안녕@g"},
            "g:감사합니다@g,안녕@g", {});
        add("one link, the newest deleted", {"g:감사합니다@g,안녕@g"}, "g:안녕@g", {});
        // Links that carry the session token a login renewed.
        add("renewed tokens", {"c:a@1?s=1,b@2?s=1,c@3?s=1,d@4?s=1"},
            "c:a@1?s=2,b@2?s=2,c@3?s=2,d@4?s=2", {});
        add("renewed tokens and a new item", {"c:a@1?s=1,b@2?s=1,c@3?s=1"},
            "c:n@9?s=2,a@1?s=2,b@2?s=2,c@3?s=2", {"c:n@9?s=2"});
        add("renewed tokens on a short list", {"c:a@1?s=1"}, "c:a@1?s=2", {});
        add("all links changed, the texts out of order", {"c:a@1,b@2,c@3"}, "c:b@7,a@8,c@9",
            {"c:b@7"});
    }

    // One rule within a run and across a restart: the last reading follows a login in both,
    // and is compared with what the earlier ones left, in the model or in the state file.
    void whatArrives()
    {
        QFETCH(QStringList, earlier);
        QFETCH(QString, last);
        QFETCH(QStringList, announced);
        QFETCH(bool, restart);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Ormix/seen.json"));
        auto model = std::make_unique<DashboardModel>();
        auto memory = std::make_unique<SeenMemory>(*model, path);
        model->logIn(Blog, Owner);
        memory->attach(Blog, Owner);
        for (const QString &step : earlier)
            model->takeReading(parseReading(step));
        if (restart) {
            memory.reset();
            model = std::make_unique<DashboardModel>();
            memory = std::make_unique<SeenMemory>(*model, path);
        }
        model->logIn(Blog, Owner);
        memory->attach(Blog, Owner);
        QStringList said;
        connect(model.get(), &DashboardModel::announced, this,
                [&](ItemKind kind, const RecentItem &item) {
                    QVERIFY(model->isNew(kind));
                    said << describe(kind, item);
                });
        model->takeReading(parseReading(last));
        QCOMPARE(said, announced);
        QCOMPARE(model->lastReadingChanged(), !announced.isEmpty());
        // Said once: the same reading again brings nothing.
        said.clear();
        model->takeReading(parseReading(last));
        QCOMPARE(said, QStringList());
        QVERIFY(!model->lastReadingChanged());
    }

    void aMarkStaysUntilTheUserAttends()
    {
        DashboardModel model;
        model.takeReading(reading(items({"a"}), items({"t"})));
        model.takeReading(reading(items({"b", "a"}), items({"u", "t"})));
        QVERIFY(model.isNew(ItemKind::Comment));
        // Unchanged: both kinds stay new, but nothing arrived in this reading.
        QSignalSpy marks(&model, &DashboardModel::newItemsChanged);
        model.takeReading(reading(items({"b", "a"}), items({"u", "t"})));
        QVERIFY(model.isNew(ItemKind::Comment));
        QVERIFY(!model.lastReadingChanged());
        QCOMPARE(marks.count(), 0);
        model.clearNew(ItemKind::Comment);
        model.clearNew(ItemKind::Comment); // nothing more to clear, nothing said
        QCOMPARE(marks.count(), 1);
        QVERIFY(model.isNew(ItemKind::Trackback));
        model.takeReading(reading(items({"b", "a"}), items({"u", "t"})));
        QVERIFY(!model.isNew(ItemKind::Comment));
    }

    // A login into another blog or ID compares nothing with the lists of the one before: its
    // boxes go dark, and its first reading is quiet, or compared with what was remembered of
    // it.
    void anotherAccountStartsAfresh()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Ormix/seen.json"));
        {
            // An earlier run saw the guest's blog.
            DashboardModel earlier;
            SeenMemory memory(earlier, path);
            earlier.logIn("http://other.example", "guest");
            memory.attach("http://other.example", "guest");
            earlier.takeReading(reading(items({"o1"})));
        }
        DashboardModel model;
        QSignalSpy announced(&model, &DashboardModel::announced);
        model.logIn(Blog, Owner);
        model.takeReading(reading(items({"a"}), items({"t"})));
        model.takeReading(reading(items({"b", "a"}), items({"t"})));
        QVERIFY(model.isNew(ItemKind::Comment));
        QCOMPARE(announced.count(), 1);

        // The same account again (the session expired): nothing changes.
        model.logIn(Blog, Owner);
        QVERIFY(model.isNew(ItemKind::Comment));

        QSignalSpy marks(&model, &DashboardModel::newItemsChanged);
        model.logIn(Blog, "guest");
        QVERIFY(!model.isNew(ItemKind::Comment));
        QCOMPARE(marks.count(), 1);
        model.takeReading(reading(items({"x", "y"}), items({"z"})));
        QCOMPARE(announced.count(), 1);
        QVERIFY(!model.isNew(ItemKind::Comment) && !model.isNew(ItemKind::Trackback));

        // Remembered from an earlier run: compared with that.
        SeenMemory memory(model, path);
        model.logIn("http://other.example", "guest");
        memory.attach("http://other.example", "guest");
        model.takeReading(reading(items({"o2", "o1"})));
        QCOMPARE(announced.count(), 2);
        QCOMPARE(announced.last().at(1).value<RecentItem>().text, std::string("o2"));
    }

    void rememberedAcrossRuns_data()
    {
        QTest::addColumn<QString>("before");  // what happens to the file between the runs
        QTest::addColumn<QByteArray>("blog"); // the second run's blog address and ID
        QTest::addColumn<bool>("lit");
        const QByteArray same = "http://blog.example owner";
        QTest::newRow("items added while off") << QString() << same << true;
        QTest::newRow("a file of the first version") << QStringLiteral("v1") << same << true;
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
            memory.attach(Blog, Owner);
            model.takeReading(reading(seen, items({"t"})));
        }
        QVERIFY(QFile::exists(path));
        const QByteArray name = QFile::encodeName(path);
        if (before == QLatin1String("missing")) {
            QVERIFY(QFile::remove(path));
        } else if (before == QLatin1String("damaged") || before == QLatin1String("foreign") ||
                   before == QLatin1String("v1")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (before == QLatin1String("damaged"))
                file.write("{\"format\":\"ormix-se");
            else if (before == QLatin1String("foreign"))
                file.write("{\"accounts\":[]}");
            else
                file.write(R"({"format":"ormix-seen","version":1,"accounts":[{"blog":)"
                           R"("http://blog.example","id":"owner","seen":{"comment":[)"
                           R"({"link":"http://blog.example/a","text":"a"},)"
                           R"({"link":"http://blog.example/b","text":"b"}],)"
                           R"("trackback":[{"link":"http://blog.example/t","text":"t"}],)"
                           R"("guestbook":[]}}]})");
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
        model.logIn(account[0].toStdString(), account[1].toStdString());
        memory.attach(account[0].toStdString(), account[1].toStdString());
        QSignalSpy announced(&model, &DashboardModel::announced);
        RecentItemList now = seen;
        now.insert(now.begin(), RecentItem{"while off", "http://blog.example/while-off"});
        model.takeReading(reading(now, items({"t"})));
        QCOMPARE(model.isNew(ItemKind::Comment), lit);
        QVERIFY(!model.isNew(ItemKind::Trackback));
        QCOMPARE(announced.count(), lit ? 1 : 0);
        if (lit)
            QCOMPARE(announced.at(0).at(1).value<RecentItem>().text, std::string("while off"));
        // Written anew, as a file the next run reads.
        DashboardModel next;
        SeenMemory after(next, path);
        const std::optional<KnownReading> known =
            after.load(account[0].toStdString(), account[1].toStdString());
        QVERIFY(known);
        QCOMPARE((*known)[indexOf(ItemKind::Comment)].list, now);
    }

    // Mark all read: every mark goes at once, the counts with them, and nothing listed now is
    // news later, in this run or the next. A state file the last reading could not write is
    // written then, so the next start knows it too.
    void markAllRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Ormix/seen.json"));
        QFile blocker(dir.filePath(QStringLiteral("Ormix")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        DashboardModel model;
        SeenMemory memory(model, path);
        model.logIn(Blog, Owner);
        memory.attach(Blog, Owner);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write")));
        model.takeReading(reading(items({"a"}), items({"t"}), items({"g"})));
        const DashboardReading lit =
            reading(items({"c", "b", "a"}), items({"u", "t"}), items({"g"}));
        model.takeReading(lit);
        QCOMPARE(model.newCount(ItemKind::Comment), 2);
        QCOMPARE(model.newCount(ItemKind::Trackback), 1);
        QCOMPARE(model.newCount(ItemKind::Guestbook), 0);
        QVERIFY(blocker.remove());

        QSignalSpy marks(&model, &DashboardModel::newItemsChanged);
        QSignalSpy allRead(&model, &DashboardModel::allMarkedRead);
        QSignalSpy announced(&model, &DashboardModel::announced);
        model.markAllRead();
        QCOMPARE(marks.count(), 2);
        QCOMPARE(allRead.count(), 1);
        for (const ItemKind kind : AllItemKinds) {
            QVERIFY(!model.isNew(kind));
            QCOMPARE(model.newCount(kind), 0);
        }
        // Written at once, not only at the next reading, which Ormix may not live to make.
        DashboardModel next;
        SeenMemory after(next, path);
        const std::optional<KnownReading> known = after.load(Blog, Owner);
        QVERIFY(known);
        QCOMPARE((*known)[indexOf(ItemKind::Comment)].list, lit[ItemKind::Comment]);

        model.takeReading(lit);
        QCOMPARE(announced.count(), 0);
        QVERIFY(!model.isNew(ItemKind::Comment));
        next.logIn(Blog, Owner);
        after.attach(Blog, Owner);
        next.takeReading(lit);
        QVERIFY(!next.isNew(ItemKind::Comment) && !next.isNew(ItemKind::Trackback));
    }

    // A pause lights the boxes of what arrives but announces none of it, then or afterwards;
    // what arrives after it ends is announced as ever.
    void aPauseLightsButDoesNotAnnounce()
    {
        DashboardModel model;
        QSignalSpy announced(&model, &DashboardModel::announced);
        QSignalSpy pauses(&model, &DashboardModel::pauseChanged);
        model.takeReading(reading(items({"a"})));
        const QDateTime until = QDateTime::currentDateTimeUtc().addSecs(3600);
        model.pauseNotices(until);
        model.pauseNotices(until);
        QCOMPARE(pauses.count(), 1);
        QVERIFY(model.isPaused());
        QCOMPARE(model.pausedUntil(), until);
        model.takeReading(reading(items({"b", "a"})));
        QVERIFY(model.isNew(ItemKind::Comment));
        QCOMPARE(model.newCount(ItemKind::Comment), 1);
        QCOMPARE(announced.count(), 0);

        model.pauseNotices({});
        QVERIFY(!model.isPaused());
        QCOMPARE(pauses.count(), 2);
        model.takeReading(reading(items({"b", "a"})));
        QCOMPARE(announced.count(), 0);
        model.takeReading(reading(items({"c", "b", "a"})));
        QCOMPARE(announced.count(), 1);
        QCOMPARE(announced.at(0).at(1).value<RecentItem>().text, std::string("c"));
        QCOMPARE(model.newCount(ItemKind::Comment), 2);
    }

    void aPauseEndsByItselfAndOutlivesARestart_data()
    {
        QTest::addColumn<QString>("stored"); // "PauseUntil" as an earlier run left it
        QTest::addColumn<qint64>("leftMs");  // how long the restored pause lasts; -1 none
        QTest::newRow("half an hour left")
            << QStringLiteral("2026-03-01T12:30:00Z") << qint64(1800000);
        QTest::newRow("ended while off") << QStringLiteral("2026-03-01T11:59:59Z") << qint64(-1);
        QTest::newRow("damaged") << QStringLiteral("tomorrow") << qint64(-1);
        QTest::newRow("more than a day ahead")
            << QStringLiteral("2026-03-03T12:00:00Z") << qint64(-1);
    }

    // The end is stored in UTC; a restart takes up what is left, the time it ends ends it
    // (after a resume from suspend too: check), and resuming stores that.
    void aPauseEndsByItselfAndOutlivesARestart()
    {
        QFETCH(QString, stored);
        QFETCH(qint64, leftMs);
        TempConfigHome home;
        QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
        {
            Settings settings;
            QVERIFY(settings.set(Settings::PauseUntil, stored));
        }
        Settings settings;
        DashboardModel model;
        NoticePause pause(model, settings);
        pause.setClock([&] { return now; });
        if (QByteArrayView(QTest::currentDataTag()) == "damaged" ||
            stored.startsWith(QLatin1String("2026-03-03")))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("is not taken")));
        pause.restore();
        QCOMPARE(model.isPaused(), leftMs >= 0);
        if (leftMs < 0) {
            // Nothing left of it in the settings either.
            QCOMPARE(settings.value(Settings::PauseUntil), QString());
            return;
        }
        QCOMPARE(now.msecsTo(model.pausedUntil()), leftMs);
        // The machine slept past the end: the first check ends it.
        now = now.addMSecs(leftMs - 1);
        pause.check();
        QVERIFY(model.isPaused());
        now = now.addMSecs(1);
        pause.check();
        QVERIFY(!model.isPaused());
        QCOMPARE(settings.value(Settings::PauseUntil), QString());

        // A short pause ends on its timer.
        now = QDateTime::currentDateTimeUtc();
        pause.setClock([] { return QDateTime::currentDateTimeUtc(); });
        pause.pauseFor(300);
        QVERIFY(model.isPaused());
        const QDateTime end =
            QDateTime::fromString(settings.value(Settings::PauseUntil), Qt::ISODate);
        QVERIFY(end.isValid() && end.timeSpec() == Qt::UTC);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPaused(), 5000);
    }

    void aPauseUntilTomorrowEndsAtLocalMidnight()
    {
        const EnvGuard zone("TZ", "Asia/Seoul");
        const QDateTime evening(QDate(2026, 3, 1), QTime(13, 0), Qt::UTC); // 22:00 in Seoul
        const QDateTime midnight = NoticePause::nextLocalMidnight(evening);
        QCOMPARE(midnight, QDateTime(QDate(2026, 3, 1), QTime(15, 0), Qt::UTC));
        // Just after midnight it is the next one.
        QCOMPARE(NoticePause::nextLocalMidnight(midnight),
                 QDateTime(QDate(2026, 3, 2), QTime(15, 0), Qt::UTC));

        // Never paused: nothing is written; paused and resumed: the end is cleared.
        TempConfigHome home;
        Settings settings;
        DashboardModel model;
        NoticePause pause(model, settings);
        pause.resume();
        pause.restore();
        QVERIFY(!QFile::exists(home.settingsFile()));
        pause.setClock([&] { return evening; });
        pause.pauseUntilMidnight();
        QCOMPARE(model.pausedUntil(), midnight);
        QCOMPARE(settings.value(Settings::PauseUntil), QStringLiteral("2026-03-01T15:00:00Z"));
        pause.resume();
        QVERIFY(!model.isPaused());
        QCOMPARE(settings.value(Settings::PauseUntil), QString());
    }

    // One word after half an hour of failed polls, one more when reading works again; none
    // per poll, and a short outage says nothing at all.
    void aLongOutageIsToldOnce()
    {
        DashboardModel model;
        OutageWatch watch(model);
        qint64 now = 1000;
        watch.setClock([&] { return now; });
        QSignalSpy began(&watch, &OutageWatch::outageBegan);
        QSignalSpy ended(&watch, &OutageWatch::outageEnded);
        const auto poll = [&](qint64 atMs, const char *failure) {
            now = atMs;
            model.setPollStatus({}, QString::fromUtf8(failure));
        };
        const qint64 minute = 60000;
        // The log hears of every outage's end, short or long, and of nothing else.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("reads again")));
        QTest::ignoreMessage(QtWarningMsg,
                             "the dashboard reads again after 30 min 0 s of failed polls");
        QTest::ignoreMessage(QtWarningMsg,
                             "the dashboard reads again after 2 h 49 min of failed polls");
        poll(0, "");
        poll(1 * minute, "down");
        poll(30 * minute, "down");
        poll(31 * minute, ""); // 29 minutes: a short one
        QCOMPARE(began.count(), 0);
        QCOMPARE(ended.count(), 0);
        poll(32 * minute, "first");
        for (qint64 m = 33; m < 62; ++m)
            poll(m * minute, "still");
        QCOMPARE(began.count(), 0);
        poll(62 * minute, "half an hour");
        poll(63 * minute, "again");
        poll(200 * minute, "and again");
        QCOMPARE(began.count(), 1);
        QCOMPARE(began.at(0).at(0).toString(), QStringLiteral("half an hour"));
        QVERIFY(watch.isLong());
        poll(201 * minute, "");
        poll(202 * minute, "");
        QCOMPARE(ended.count(), 1);
        QVERIFY(!watch.isLong());
        // The next outage is counted from its own first failure.
        poll(203 * minute, "new");
        poll(232 * minute, "new");
        QCOMPARE(began.count(), 1);
        poll(233 * minute, "new");
        QCOMPARE(began.count(), 2);
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
        memory.attach(Blog, Owner);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write")));
        model.takeReading(reading(items({"a"})));
        // Said once, and the readings go on.
        model.takeReading(reading(items({"b", "a"})));
        QVERIFY(model.isNew(ItemKind::Comment));
    }
};

QTEST_GUILESS_MAIN(TestDashboardModel)
#include "tst_dashboardmodel.moc"
