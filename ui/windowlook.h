#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>

#include <string>

class QPainter;

// The look shared by the self-drawn windows: colours, the one font routine and the
// bevelled frame.
namespace WindowLook {

inline constexpr QColor Background{255, 255, 255};
inline constexpr QColor FrameOuter{91, 116, 162};
inline constexpr QColor FrameInnerTop{205, 223, 244};
inline constexpr QColor FrameInnerBottom{217, 234, 244};
inline constexpr QColor FrameCorner{159, 173, 200};
inline constexpr QColor BoxLit{171, 81, 91};
inline constexpr QColor BoxUnlit{255, 255, 255};
inline constexpr QColor LetterLit{255, 255, 255};
inline constexpr QColor LetterUnlit{0, 0, 0};
inline constexpr QColor Text{0, 0, 0};
// Text that is no longer current (the count while the latest poll failed): the grey of
// disabled text, which still reads on white.
inline constexpr QColor TextStale{128, 128, 128};

// Face "돋움" at a pixel height, normal weight. Every self-drawn window makes its
// fonts here so that only the height varies.
QFont makeFont(int pixelHeight);

// Maps "돋움" to the Korean face that is installed on Linux desktops.
void installKoreanFontSubstitution();

// A one-pixel line from `from` to `to`, both included, in one colour; only horizontal
// and vertical lines are needed here.
void drawLine(QPainter &painter, QPoint from, QPoint to, const QColor &colour);

// The white ground and the bevelled frame filling rect; grip dots only on the status strip.
void drawBackground(QPainter &painter, const QRect &rect, bool gripDots);

// Item texts come from strangers and may be megabytes long: what is drawn is cut to this
// many UTF-16 units (never inside a surrogate pair) with an ellipsis, far more than any
// window here can show, so drawing costs the same whatever arrives.
inline constexpr int MaxDisplayUnits = 200;
QString displayText(const std::string &text);
QString displayText(const QString &text);

} // namespace WindowLook
