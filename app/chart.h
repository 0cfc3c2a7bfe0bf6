#pragma once
// Strip charts: an image control that keeps its own picture, a pen-and-brush canvas on it, and
// the routines that add a sample (Graph) and lay the empty grid (Sheet).
//
// Lines are axis-parallel only, drawn straight into the picture's scanlines so that every pixel
// is exact and a tick costs microseconds. A 1-pixel line covers its start point up to, not
// including, its end point. A 2-pixel line covers the centre line and the pixels left of it
// (vertical) or above it (horizontal), end points included, so a zero-length step still marks
// its point.

#include <cstdint>

#include <QImage>
#include <QWidget>

namespace chart {
constexpr QRgb Black = 0xFF000000;
constexpr QRgb DarkGreen = 0xFF008000;
constexpr QRgb Lime = 0xFF00FF00;
constexpr QRgb Yellow = 0xFFFFFF00;
}  // namespace chart

class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    // The picture is made on first use with the control's size at that moment and keeps it.
    const QImage& Picture() const { return picture_; }
    QPoint PenPos() const { return penPos_; }

    void SetPen(QRgb colour, int width);
    void SetPenColour(QRgb colour) { penColour_ = colour; }
    void SetPenWidth(int width) { penWidth_ = width; }
    void SetBrush(QRgb colour) { brushColour_ = colour; }
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    // Fills [left, right) × [top, bottom) with the brush colour.
    void FillRect(int left, int top, int right, int bottom);
    // Moves the picture one column to the left (the copy of (1,0)-(w,h) onto (0,0)-(w-1,h)).
    void ScrollLeft(int w, int h);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool EnsurePicture();
    void Span(int x0, int x1, int y0, int y1, QRgb colour);   // inclusive rectangle, clipped

    QImage picture_;
    QPoint penPos_;
    QRgb penColour_ = chart::Black;
    int penWidth_ = 1;
    QRgb brushColour_ = chart::Black;
};

// Adds one sample at the right edge; returns what the shared tick count is to become.
std::int32_t Graph(TImage& image, std::int32_t value, QRgb colour, std::int32_t scrollCount);
// Draws the grid on a cleared chart; returns the re-phased tick count.
std::int32_t Sheet(TImage& image);
