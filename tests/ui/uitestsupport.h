#pragma once

#include "state/recentitem.h"

#include <QImage>
#include <QPoint>
#include <QString>

class QWidget;

// The look's colours as pixels.
namespace TestColours {
inline const QRgb Outer = qRgb(91, 116, 162);
inline const QRgb InnerTop = qRgb(205, 223, 244);
inline const QRgb InnerBottom = qRgb(217, 234, 244);
inline const QRgb Corner = qRgb(159, 173, 200);
inline const QRgb Lit = qRgb(171, 81, 91);
inline const QRgb White = qRgb(255, 255, 255);
} // namespace TestColours

// Puts the process-wide store back to an empty, quiet state: no lists, no flags,
// count 0, no viewer.
void resetStore();

// Replaces one kind's stored list (0 comments, 1 trackbacks, 2 guestbook) and puts the
// new-flags and the any-new flag back as they were: cases set flags deliberately.
void setListQuietly(int kind, const RecentItemList &items);

RecentItemList makeItems(std::initializer_list<std::pair<const char *, const char *>> items);

// Sends one mouse event with explicit local and screen positions.
void sendMouse(QWidget *widget, int type, QPoint local, QPoint global, int button, int buttons);

// Saves image as <name>.png and <name>@3x.png into $ORMIX_SCREENSHOT_DIR
// (default: screenshots/ in the working folder). Returns the first path.
QString saveScreenshot(const QImage &image, const QString &name);

// True when the pixel is close to black (text ink, antialiased edges excluded).
bool isInk(QRgb pixel);
