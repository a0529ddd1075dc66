#pragma once

#include "model/dashboardmodel.h"
#include "model/recentitem.h"
#include "settings/settings.h"
#include "tests/support/testenv.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

#include <memory>

class QWidget;
class StatusStrip;

// The look's colours as pixels.
namespace TestColours {
inline const QRgb Outer = qRgb(91, 116, 162);
inline const QRgb InnerTop = qRgb(205, 223, 244);
inline const QRgb InnerBottom = qRgb(217, 234, 244);
inline const QRgb Corner = qRgb(159, 173, 200);
inline const QRgb Lit = qRgb(171, 81, 91);
inline const QRgb White = qRgb(255, 255, 255);
} // namespace TestColours

// What every widget test starts from: its own settings folder and a model that the case
// brings, through readings as the poller would, into the state it needs.
class WidgetScene
{
public:
    WidgetScene();
    ~WidgetScene();

    // Brings the model to reading with exactly the kinds in newKinds marked new: as two
    // readings would, in the later of which each of those kinds' newest item arrived (so
    // the latest reading brought something when newKinds is not empty).
    void show(const DashboardReading &reading, std::initializer_list<ItemKind> newKinds = {});
    // A reading in which item arrives at the head of kind's list: the kind is marked new.
    void arrive(ItemKind kind, const RecentItem &item);
    // The same reading once more: the marks stay, the latest reading changed nothing.
    void readAgain();
    // A reading in which kind's list is items and nothing else changed.
    void setList(ItemKind kind, const RecentItemList &items);

    TempConfigHome config;
    Settings settings;
    DashboardModel model;

private:
    DashboardReading current() const;
};

// The base of every widget test: the Korean face, a throwaway settings folder for whatever
// a case writes outside its own, and a fresh scene for each case.
class WidgetTest : public QObject
{
    Q_OBJECT
protected:
    WidgetScene &scene() { return *m_scene; }
    // A strip over the scene's model and settings, shown at rect.
    std::unique_ptr<StatusStrip> makeStrip(const QRect &rect = QRect(100, 100, 150, 23));

protected slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

private:
    std::unique_ptr<TempConfigHome> m_processConfig;
    std::unique_ptr<WidgetScene> m_scene;
};

DashboardReading makeReading(int todayCount, const RecentItemList &comments = {},
                             const RecentItemList &trackbacks = {},
                             const RecentItemList &guestbook = {});
RecentItemList makeItems(std::initializer_list<std::pair<const char *, const char *>> items);

// Sends one mouse event with explicit local and screen positions.
void sendMouse(QWidget *widget, int type, QPoint local, QPoint global, int button, int buttons);

// Saves image as <name>.png and <name>@3x.png into $ORMIX_SCREENSHOT_DIR
// (default: screenshots/ in the working folder). Returns the first path.
QString saveScreenshot(const QImage &image, const QString &name);

// True when the pixel is close to black (text ink, antialiased edges excluded).
bool isInk(QRgb pixel);

// What the widget draws (grab()), as 32-bit RGB pixels.
QImage drawnImage(QWidget &widget);

// Empty when the widget draws exactly tests/data/pictures/<name>.png, rendered offscreen by
// the build before painting moved into paintEvent; else how they differ (and what was drawn
// is saved beside the screenshots as <name>-drawn.png).
QString pictureDifference(QWidget &widget, const QString &name);
