#include "tests/support/testenv.h"
#include "tests/ui/uitestsupport.h"

#include "ui/recentitemspopup.h"
#include "ui/windowlook.h"

#include <QApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QTreeWidget>

#include <memory>

namespace {

QStringList rowTexts(const RecentItemsPopup &w)
{
    QStringList rows;
    for (int i = 0; i < w.list()->topLevelItemCount(); ++i)
        rows << w.list()->topLevelItem(i)->text(0);
    return rows;
}

} // namespace

class RecentItemsPopupTest final : public WidgetTest
{
    Q_OBJECT

private:
    // The strip the list drops down from: its bottom edge is at y 323.
    std::unique_ptr<QWidget> m_owner;
    std::unique_ptr<RecentItemsPopup> m_list;

    void doubleClick(int row)
    {
        QTreeWidget *tree = m_list->list();
        const QPoint pos = row >= 0 ? tree->visualItemRect(tree->topLevelItem(row)).center()
                                    : QPoint(20, tree->viewport()->height() - 5);
        QWidget *viewport = tree->viewport();
        const QPoint global = viewport->mapToGlobal(pos);
        sendMouse(viewport, QEvent::MouseButtonPress, pos, global, Qt::LeftButton, Qt::LeftButton);
        sendMouse(viewport, QEvent::MouseButtonRelease, pos, global, Qt::LeftButton, Qt::NoButton);
        sendMouse(viewport, QEvent::MouseButtonDblClick, pos, global, Qt::LeftButton,
                  Qt::LeftButton);
        sendMouse(viewport, QEvent::MouseButtonRelease, pos, global, Qt::LeftButton, Qt::NoButton);
    }

private slots:
    void init()
    {
        WidgetTest::init();
        m_owner = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint);
        m_owner->setGeometry(200, 300, 150, 23);
        m_owner->show();
        m_list = std::make_unique<RecentItemsPopup>(scene().model, m_owner.get());
    }
    void cleanup()
    {
        m_list.reset();
        m_owner.reset();
        WidgetTest::cleanup();
    }

    void createdHiddenWithOneColumn()
    {
        QVERIFY(!m_list->isVisible());
        QVERIFY(m_list->isWindow());
        QCOMPARE(m_list->parentWidget(), m_owner.get());
        QTreeWidget *tree = m_list->list();
        QCOMPARE(tree->columnCount(), 1);
        QCOMPARE(tree->columnWidth(0), 160);
        QCOMPARE(m_list->headerText(), QStringLiteral("최근댓글"));
        QVERIFY(!tree->header()->isHidden());
        QVERIFY(!tree->isSortingEnabled());
        QCOMPARE(tree->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(tree->selectionMode() != QAbstractItemView::SingleSelection);
    }

    void rowsInPageOrderWithKindHeader_data()
    {
        QTest::addColumn<ItemKind>("kind");
        QTest::addColumn<QString>("header");
        QTest::newRow("comments") << ItemKind::Comment << QStringLiteral("최근 댓글");
        QTest::newRow("trackbacks") << ItemKind::Trackback << QStringLiteral("최근 트랙백");
        QTest::newRow("guestbook") << ItemKind::Guestbook << QStringLiteral("최근 방명록");
    }
    void rowsInPageOrderWithKindHeader()
    {
        QFETCH(ItemKind, kind);
        QFETCH(QString, header);
        scene().setList(ItemKind::Comment,
                        makeItems({{"c1", "http://127.0.0.1/c1"}, {"c2", "http://127.0.0.1/c2"}}));
        scene().setList(ItemKind::Trackback, makeItems({{"t1", "http://127.0.0.1/t1"},
                                                        {"t2", "http://127.0.0.1/t2"},
                                                        {"t3", "http://127.0.0.1/t3"}}));
        scene().setList(ItemKind::Guestbook, makeItems({{"방명록 하나", "http://127.0.0.1/g1"}}));
        const RecentItemList expected = scene().model.items(kind);

        QVERIFY(m_list->showList(kind, QPoint(250, 310)));
        QVERIFY(m_list->isVisible());
        QCOMPARE(m_list->headerText(), header);
        QCOMPARE(m_list->items(), expected);
        QStringList texts;
        for (const RecentItem &item : expected)
            texts << QString::fromStdString(item.text);
        QCOMPARE(rowTexts(*m_list), texts);
        QCOMPARE(m_list->list()->columnWidth(0), 160);
        // At the click's x, under the strip's bottom edge, 170 x 150.
        QCOMPARE(m_list->geometry(), QRect(250, 323, 170, 150));
    }

    void emptyListKeepsOldRowsButOpensNothing()
    {
        QSignalSpy requests(m_list.get(), &RecentItemsPopup::itemRequested);
        scene().setList(ItemKind::Comment, makeItems({{"c1", "http://127.0.0.1/c1"}}));
        QVERIFY(m_list->showList(ItemKind::Comment, QPoint(250, 310)));
        QVERIFY(!m_list->showList(ItemKind::Guestbook, QPoint(260, 310)));
        QVERIFY(m_list->isVisible()); // still open from before, not moved
        QCOMPARE(m_list->geometry().topLeft(), QPoint(250, 323));
        QCOMPARE(m_list->headerText(), QStringLiteral("최근 댓글"));
        QCOMPARE(rowTexts(*m_list), QStringList{QStringLiteral("c1")});
        QVERIFY(m_list->items().empty());

        doubleClick(0);
        QVERIFY(!m_list->isVisible());
        QCOMPARE(requests.count(), 0);
    }

    // A double click asks for the row's own item, of the kind listed; empty space only hides.
    void doubleClickAsksForTheRowsItem()
    {
        QSignalSpy requests(m_list.get(), &RecentItemsPopup::itemRequested);
        // Two items with the same text: each row stands for its own.
        scene().setList(ItemKind::Trackback, makeItems({{"same", "http://127.0.0.1/first"},
                                                        {"same", "http://127.0.0.1/second"},
                                                        {"other", "http://127.0.0.1/third"}}));
        QVERIFY(m_list->showList(ItemKind::Trackback, QPoint(250, 310)));
        doubleClick(1);
        QVERIFY(!m_list->isVisible());
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.at(0).at(0).value<ItemKind>(), ItemKind::Trackback);
        QCOMPARE(requests.at(0).at(1).value<RecentItem>(),
                 (RecentItem{"same", "http://127.0.0.1/second"}));

        QVERIFY(m_list->showList(ItemKind::Trackback, QPoint(250, 310)));
        QVERIFY(!m_list->list()
                     ->indexAt(QPoint(20, m_list->list()->viewport()->height() - 5))
                     .isValid());
        doubleClick(-1);
        QVERIFY(!m_list->isVisible());
        QCOMPARE(requests.count(), 1);
    }

    // From the keyboard: the list has the focus on the newest row, the arrows move, Return
    // asks for the current row's item and Escape only hides.
    void keysMoveOpenAndClose()
    {
        QSignalSpy requests(m_list.get(), &RecentItemsPopup::itemRequested);
        scene().setList(ItemKind::Trackback, makeItems({{"t1", "http://127.0.0.1/1"},
                                                        {"t2", "http://127.0.0.1/2"},
                                                        {"t3", "http://127.0.0.1/3"}}));
        QTreeWidget *tree = m_list->list();
        QVERIFY(m_list->showList(ItemKind::Trackback, QPoint(250, 310)));
        QTRY_VERIFY(m_list->isActiveWindow());
        QCOMPARE(QApplication::focusWidget(), tree);
        QCOMPARE(tree->currentIndex().row(), 0);
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Up);
        QTest::keyClick(tree, Qt::Key_Return);
        QVERIFY(!m_list->isVisible());
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.at(0).at(0).value<ItemKind>(), ItemKind::Trackback);
        QCOMPARE(requests.at(0).at(1).value<RecentItem>(),
                 (RecentItem{"t2", "http://127.0.0.1/2"}));

        // Shown again, it starts again from the newest row.
        QVERIFY(m_list->showList(ItemKind::Trackback, QPoint(250, 310)));
        QCOMPARE(tree->currentIndex().row(), 0);
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Escape);
        QVERIFY(!m_list->isVisible());
        QCOMPARE(requests.count(), 1);
    }

    // A row's tooltip holds its whole text, literally, and when the item was first seen: the
    // reading that first listed it, not a later one that listed it again.
    void tooltipHoldsTheTextAndWhenItWasFirstSeen()
    {
        const QString longText = QStringLiteral("<b>긴</b> 댓글 ") + QString(120, QLatin1Char('w'));
        const RecentItem old{longText.toStdString(), "http://127.0.0.1/old"};
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        scene().setList(ItemKind::Comment, {old});
        QTest::qWait(1100);
        const QDateTime between = QDateTime::currentDateTime();
        scene().setList(ItemKind::Comment, {RecentItem{"new", "http://127.0.0.1/new"}, old});
        QVERIFY(m_list->showList(ItemKind::Comment, QPoint(250, 310)));
        const auto shown = [&](int row) {
            QTextDocument doc;
            doc.setHtml(m_list->list()->topLevelItem(row)->toolTip(0));
            const QStringList lines = doc.toPlainText().split(QLatin1Char('\n'));
            const QString prefix = QStringLiteral("처음 본 시각: ");
            return std::pair(lines.constFirst(),
                             lines.size() == 2 && lines.at(1).startsWith(prefix)
                                 ? QDateTime::fromString(lines.at(1).mid(prefix.size()),
                                                         QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                 : QDateTime());
        };
        const auto [newText, newSeen] = shown(0);
        const auto [oldText, oldSeen] = shown(1);
        QCOMPARE(newText, QStringLiteral("new"));
        QCOMPARE(oldText, longText);
        QVERIFY2(oldSeen >= before && oldSeen < between, qPrintable(oldSeen.toString()));
        QVERIFY2(newSeen >= between.addSecs(-1), qPrintable(newSeen.toString()));
    }

    void rowsAreASnapshot()
    {
        QSignalSpy requests(m_list.get(), &RecentItemsPopup::itemRequested);
        scene().setList(ItemKind::Comment, makeItems({{"old", "http://127.0.0.1/old"}}));
        QVERIFY(m_list->showList(ItemKind::Comment, QPoint(250, 310)));
        scene().setList(ItemKind::Comment, makeItems({{"new", "http://127.0.0.1/new"},
                                                      {"old", "http://127.0.0.1/old"}}));
        QCOMPARE(rowTexts(*m_list), QStringList{QStringLiteral("old")});
        QCOMPARE(m_list->items().size(), std::size_t(1));
        doubleClick(0);
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.at(0).at(1).value<RecentItem>().link,
                 std::string("http://127.0.0.1/old"));

        // Showing again reads the store anew.
        QVERIFY(m_list->showList(ItemKind::Comment, QPoint(250, 310)));
        QCOMPARE(rowTexts(*m_list), (QStringList{QStringLiteral("new"), QStringLiteral("old")}));
    }

    void itemTextsArePlain()
    {
        scene().setList(ItemKind::Guestbook,
                        makeItems({{"<b>x</b>", "http://127.0.0.1/b"},
                                   {"<img src=http://127.0.0.1:1/x>", "http://127.0.0.1/i"}}));
        QVERIFY(m_list->showList(ItemKind::Guestbook, QPoint(250, 310)));
        QCOMPARE(rowTexts(*m_list),
                 (QStringList{QStringLiteral("<b>x</b>"),
                              QStringLiteral("<img src=http://127.0.0.1:1/x>")}));
        // Drawn literally: the first row's ink is as wide as the whole string, not one "x".
        const QImage shot = m_list->grab().toImage();
        QTreeWidget *tree = m_list->list();
        const QRect row = tree->visualItemRect(tree->topLevelItem(0))
                              .translated(tree->viewport()->mapTo(m_list.get(), QPoint(0, 0)));
        int left = 10000, right = -1;
        for (int y = row.top(); y <= row.bottom(); ++y)
            for (int x = row.left(); x <= row.right() && x < shot.width(); ++x)
                if (isInk(shot.pixel(x, y))) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        const QFontMetrics metrics(tree->font());
        QVERIFY(right > left);
        QVERIFY2(right - left + 1 >= metrics.horizontalAdvance(QStringLiteral("<b>x</b>")) - 4,
                 qPrintable(QStringLiteral("%1..%2").arg(left).arg(right)));
    }

    void hugeTextsAreCutInTheRows()
    {
        const std::string huge(1 << 20, 'W');
        scene().setList(ItemKind::Comment, makeItems({{huge.c_str(), "http://127.0.0.1/h"},
                                                      {"짧은 글", "http://127.0.0.1/s"}}));
        QVERIFY(m_list->showList(ItemKind::Comment, QPoint(250, 310)));
        const QStringList rows = rowTexts(*m_list);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0), WindowLook::displayText(huge));
        QVERIFY(rows.at(0).size() <= WindowLook::MaxDisplayUnits);
        QCOMPARE(rows.at(1), QStringLiteral("짧은 글"));
    }

    void hidesWhenAnotherWindowIsActivated()
    {
        scene().setList(ItemKind::Comment, makeItems({{"c1", "http://127.0.0.1/c1"}}));
        QVERIFY(m_list->showList(ItemKind::Comment, QPoint(250, 310)));
        QTRY_VERIFY(m_list->isActiveWindow());

        // Focus moving into the list stays inside the window.
        m_list->list()->setFocus();
        QTest::mouseClick(m_list->list()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(20, 30));
        QTest::qWait(50);
        QVERIFY(m_list->isVisible());

        QWidget other;
        other.setGeometry(600, 400, 100, 100);
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!m_list->isVisible());
    }

    void screenshot()
    {
        scene().setList(ItemKind::Comment,
                        makeItems({{"첫 댓글 고맙습니다", "http://127.0.0.1/c1"},
                                   {"좋은 글이네요 :)", "http://127.0.0.1/c2"},
                                   {"<b>x</b> 그대로 보임", "http://127.0.0.1/c3"}}));
        QVERIFY(m_list->showList(ItemKind::Comment, QPoint(250, 310)));
        const QString path =
            saveScreenshot(m_list->grab().toImage(), QStringLiteral("recent-items"));
        QVERIFY(QFileInfo::exists(path));
    }
};

QTEST_MAIN(RecentItemsPopupTest)
#include "tst_recentitemspopup.moc"
