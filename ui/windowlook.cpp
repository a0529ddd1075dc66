#include "windowlook.h"

#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace WindowLook {

QFont makeFont(int pixelHeight)
{
    QFont font(QStringLiteral("돋움"));
    font.setPixelSize(pixelHeight);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

void installKoreanFontSubstitution()
{
    QFont::insertSubstitution(QStringLiteral("돋움"), QStringLiteral("NanumGothic"));
}

void drawSegment(QPainter &painter, QPoint from, QPoint to, const QColor &colour)
{
    if (from == to)
        return;
    if (from.y() == to.y()) {
        const int last = from.x() < to.x() ? to.x() - 1 : to.x() + 1;
        const int x0 = std::min(from.x(), last);
        const int x1 = std::max(from.x(), last);
        painter.fillRect(QRect(x0, from.y(), x1 - x0 + 1, 1), colour);
    } else if (from.x() == to.x()) {
        const int last = from.y() < to.y() ? to.y() - 1 : to.y() + 1;
        const int y0 = std::min(from.y(), last);
        const int y1 = std::max(from.y(), last);
        painter.fillRect(QRect(from.x(), y0, 1, y1 - y0 + 1), colour);
    }
}

void drawFrame(QPainter &painter, const QRect &rect, bool gripDots)
{
    const int l = rect.x();
    const int t = rect.y();
    const int r = rect.x() + rect.width();
    const int b = rect.y() + rect.height();

    drawSegment(painter, {l, t}, {l, b - 1}, FrameOuter);
    drawSegment(painter, {l, b - 1}, {r - 1, b - 1}, FrameOuter);
    drawSegment(painter, {r - 1, b - 1}, {r - 1, t}, FrameOuter);
    drawSegment(painter, {r - 1, t}, {l, t}, FrameOuter);

    drawSegment(painter, {l + 3, t + 2}, {r - 3, t + 2}, FrameInnerTop);
    drawSegment(painter, {l + 3, b - 2}, {r - 3, b - 2}, FrameInnerBottom);

    for (const QPoint corner :
         {QPoint(l + 1, t + 1), QPoint(r - 2, t + 1), QPoint(l + 1, b - 2), QPoint(r - 2, b - 2)})
        painter.fillRect(QRect(corner, QSize(1, 1)), FrameCorner);

    if (!gripDots)
        return;
    for (const int x : {l + 4, r - 4})
        for (const int dy : {7, 10, 13, 16})
            painter.fillRect(QRect(x, t + dy, 1, 1), FrameOuter);
}

QImage framedImage(const QWidget &window, bool gripDots)
{
    const qreal ratio = window.devicePixelRatioF();
    QImage image(window.size() * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect rc(QPoint(0, 0), window.size());
    painter.fillRect(rc, Background);
    drawFrame(painter, rc, gripDots);
    return image;
}

QString displayText(const QString &text)
{
    if (text.size() <= MaxDisplayUnits)
        return text;
    qsizetype cut = MaxDisplayUnits - 1;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(0x2026);
}

QString displayText(const std::string &text)
{
    // Only a prefix is decoded: every unit takes at most four bytes.
    const auto bytes = std::min<std::size_t>(text.size(), std::size_t(MaxDisplayUnits) * 4 + 4);
    return displayText(QString::fromUtf8(text.data(), qsizetype(bytes)));
}

} // namespace WindowLook
