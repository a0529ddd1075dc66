#include "windowlook.h"

#include <QPainter>

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

void drawLine(QPainter &painter, QPoint from, QPoint to, const QColor &colour)
{
    painter.fillRect(QRect(from, to).normalized(), colour);
}

void drawBackground(QPainter &painter, const QRect &rect, bool gripDots)
{
    painter.fillRect(rect, Background);
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.right();
    const int b = rect.bottom();

    drawLine(painter, {l, t}, {r, t}, FrameOuter);
    drawLine(painter, {l, b}, {r, b}, FrameOuter);
    drawLine(painter, {l, t}, {l, b}, FrameOuter);
    drawLine(painter, {r, t}, {r, b}, FrameOuter);

    // The bevel: a light line under the top edge and over the bottom one, short of the
    // corners by three pixels.
    drawLine(painter, {l + 3, t + 2}, {r - 3, t + 2}, FrameInnerTop);
    drawLine(painter, {l + 3, b - 1}, {r - 3, b - 1}, FrameInnerBottom);

    for (const QPoint corner :
         {QPoint(l + 1, t + 1), QPoint(r - 1, t + 1), QPoint(l + 1, b - 1), QPoint(r - 1, b - 1)})
        painter.fillRect(QRect(corner, QSize(1, 1)), FrameCorner);

    if (!gripDots)
        return;
    for (const int x : {l + 4, r - 3})
        for (const int dy : {7, 10, 13, 16})
            painter.fillRect(QRect(x, t + dy, 1, 1), FrameOuter);
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
