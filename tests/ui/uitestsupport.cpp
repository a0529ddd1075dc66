#include "uitestsupport.h"

#include "state/tinfo.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QWidget>

void resetStore()
{
    lTInfo *info = GetTInfo();
    info->SetComments({});
    info->SetTrackbacks({});
    info->SetGuestbook({});
    info->SetNewComment(false);
    info->SetNewTrackback(false);
    info->SetNewGuestbook(false);
    info->SetAnyNew(false);
    info->SetTodayCount(0);
    info->SetViewer(nullptr);
    info->SetBlogURL("http://127.0.0.1/blog");
}

void setListQuietly(int kind, const RecentItemList &items)
{
    lTInfo *info = GetTInfo();
    const bool comment = info->IsNewComment();
    const bool trackback = info->IsNewTrackback();
    const bool guestbook = info->IsNewGuestbook();
    const bool any = info->IsAnyNew();
    if (kind == 0)
        info->SetComments(items);
    else if (kind == 1)
        info->SetTrackbacks(items);
    else
        info->SetGuestbook(items);
    info->SetNewComment(comment);
    info->SetNewTrackback(trackback);
    info->SetNewGuestbook(guestbook);
    info->SetAnyNew(any);
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
