#include "uitestsupport.h"

#include "ui/statusstrip.h"
#include "ui/windowlook.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QWidget>

WidgetScene::WidgetScene() = default;
WidgetScene::~WidgetScene() = default;

void WidgetScene::show(const DashboardReading &reading, std::initializer_list<ItemKind> newKinds)
{
    // Each kind to be marked without its newest item, then the wanted lists: that item
    // arrived.
    DashboardReading before = reading;
    for (const ItemKind kind : newKinds) {
        Q_ASSERT(!before[kind].empty());
        before[kind].erase(before[kind].begin());
    }
    if (newKinds.size() != 0 || !model.hasReading())
        model.takeReading(before);
    model.takeReading(reading);
}

DashboardReading WidgetScene::current() const
{
    DashboardReading now;
    now.todayCount = model.todayCount();
    for (const ItemKind k : AllItemKinds)
        now[k] = model.items(k);
    return now;
}

void WidgetScene::arrive(ItemKind kind, const RecentItem &item)
{
    DashboardReading next = current();
    next[kind].insert(next[kind].begin(), item);
    if (!model.hasReading())
        model.takeReading(DashboardReading{});
    model.takeReading(next);
}

void WidgetScene::readAgain()
{
    model.takeReading(current());
}

void WidgetScene::setList(ItemKind kind, const RecentItemList &items)
{
    DashboardReading next = current();
    next[kind] = items;
    model.takeReading(next);
}

void WidgetTest::initTestCase()
{
    WindowLook::installKoreanFontSubstitution();
    m_processConfig = std::make_unique<TempConfigHome>();
}

void WidgetTest::cleanupTestCase()
{
    m_processConfig.reset();
}

void WidgetTest::init()
{
    m_scene = std::make_unique<WidgetScene>();
}

void WidgetTest::cleanup()
{
    m_scene.reset();
}

std::unique_ptr<StatusStrip> WidgetTest::makeStrip(const QRect &rect)
{
    auto strip = std::make_unique<StatusStrip>(m_scene->model, m_scene->settings);
    strip->showAt(rect);
    return strip;
}

DashboardReading makeReading(int todayCount, const RecentItemList &comments,
                             const RecentItemList &trackbacks, const RecentItemList &guestbook)
{
    DashboardReading r;
    r.todayCount = todayCount;
    r[ItemKind::Comment] = comments;
    r[ItemKind::Trackback] = trackbacks;
    r[ItemKind::Guestbook] = guestbook;
    return r;
}

RecentItemList makeItems(std::initializer_list<std::pair<const char *, const char *>> items)
{
    RecentItemList list;
    for (const auto &[text, link] : items)
        list.push_back(RecentItem{text, link});
    return list;
}

void sendMouse(QWidget *widget, int type, QPoint local, QPoint global, int button, int buttons)
{
    QMouseEvent event(static_cast<QEvent::Type>(type), QPointF(local), QPointF(global),
                      static_cast<Qt::MouseButton>(button), Qt::MouseButtons(buttons),
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QString saveScreenshot(const QImage &image, const QString &name)
{
    QString dir = qEnvironmentVariable("ORMIX_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = QDir::current().filePath(QStringLiteral("screenshots"));
    QDir().mkpath(dir);
    QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    image.save(path);
    image.scaled(image.size() * 3).save(QDir(dir).filePath(name + QStringLiteral("@3x.png")));
    return path;
}

bool isInk(QRgb pixel)
{
    return qRed(pixel) < 110 && qGreen(pixel) < 110 && qBlue(pixel) < 110;
}

QImage drawnImage(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QString pictureDifference(QWidget &widget, const QString &name)
{
    const QImage drawn = drawnImage(widget);
    const QString path = qEnvironmentVariable("ORMIX_TEST_DATA") + QStringLiteral("/pictures/") +
                         name + QStringLiteral(".png");
    const QImage expected = QImage(path).convertToFormat(QImage::Format_RGB32);
    if (expected.isNull())
        return QStringLiteral("no picture at ") + path;
    if (drawn.size() != expected.size()) {
        saveScreenshot(drawn, name + QStringLiteral("-drawn"));
        return QStringLiteral("%1: drawn %2 x %3, expected %4 x %5")
            .arg(name)
            .arg(drawn.width())
            .arg(drawn.height())
            .arg(expected.width())
            .arg(expected.height());
    }
    int differing = 0;
    QPoint first;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (drawn.pixel(x, y) != expected.pixel(x, y) && differing++ == 0)
                first = QPoint(x, y);
    if (differing == 0)
        return {};
    saveScreenshot(drawn, name + QStringLiteral("-drawn"));
    return QStringLiteral("%1: %2 pixels differ, the first at (%3, %4)")
        .arg(name)
        .arg(differing)
        .arg(first.x())
        .arg(first.y());
}
