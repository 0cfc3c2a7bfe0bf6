#include "chart.h"

#include <algorithm>
#include <cstring>

#include <QPainter>

using namespace chart;

TImage::TImage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool TImage::EnsurePicture()
{
    if (picture_.isNull() && width() > 0 && height() > 0) {
        picture_ = QImage(size(), QImage::Format_RGB32);
        if (!picture_.isNull())
            picture_.fill(Qt::white);
    }
    return !picture_.isNull();
}

void TImage::SetPen(QRgb colour, int width)
{
    penColour_ = colour;
    penWidth_ = width;
}

void TImage::MoveTo(int x, int y)
{
    penPos_ = QPoint(x, y);
}

void TImage::Span(int x0, int x1, int y0, int y1, QRgb colour)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, picture_.width() - 1);
    y1 = std::min(y1, picture_.height() - 1);
    if (x0 > x1 || y0 > y1)
        return;   // wholly outside the picture
    for (int y = y0; y <= y1; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(y));
        std::fill(line + x0, line + x1 + 1, colour);
    }
}

void TImage::LineTo(int x, int y)
{
    const QPoint from = penPos_;
    penPos_ = QPoint(x, y);
    if (!EnsurePicture())
        return;
    if (penWidth_ <= 1) {
        if (from.x() == x && from.y() != y) {
            const int step = y > from.y() ? 1 : -1;
            Span(x, x, std::min(from.y(), y - step), std::max(from.y(), y - step), penColour_);
        } else if (from.y() == y && from.x() != x) {
            const int step = x > from.x() ? 1 : -1;
            Span(std::min(from.x(), x - step), std::max(from.x(), x - step), y, y, penColour_);
        }
    } else if (from.x() == x) {
        const int extra = penWidth_ / 2;
        Span(x - extra, x + penWidth_ - 1 - extra, std::min(from.y(), y) - extra,
             std::max(from.y(), y) + penWidth_ - 1 - extra, penColour_);
    } else if (from.y() == y) {
        const int extra = penWidth_ / 2;
        Span(std::min(from.x(), x) - extra, std::max(from.x(), x) + penWidth_ - 1 - extra,
             y - extra, y + penWidth_ - 1 - extra, penColour_);
    }
    update();
}

void TImage::FillRect(int left, int top, int right, int bottom)
{
    if (!EnsurePicture())
        return;
    Span(left, right - 1, top, bottom - 1, brushColour_);
    update();
}

void TImage::ScrollLeft(int w, int h)
{
    if (!EnsurePicture())
        return;
    const int columns = std::min(w, picture_.width()) - 1;
    const int rows = std::min(h, picture_.height());
    if (columns <= 0)
        return;
    for (int y = 0; y < rows; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(y));
        std::memmove(line, line + 1, static_cast<std::size_t>(columns) * sizeof(QRgb));
    }
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (picture_.isNull())
        painter.fillRect(rect(), palette().window());
    else
        painter.drawImage(0, 0, picture_);
}

namespace {

// Trunc of a quotient done in floating point, as the chart arithmetic wants it.
int TruncDiv(double numerator, double denominator)
{
    return static_cast<int>(numerator / denominator);
}

void HorizontalGuides(TImage& image, int w, int h)
{
    const int ys[] = {TruncDiv(h, 2), TruncDiv(h, 4), static_cast<int>(h / 2.0 + h / 4.0)};
    for (int y : ys) {
        image.MoveTo(0, y);
        image.LineTo(w, y);
    }
}

}  // namespace

std::int32_t Graph(TImage& image, std::int32_t value, QRgb colour, std::int32_t scrollCount)
{
    const int w = image.width();
    const int h = image.height();
    std::int32_t result = scrollCount;
    // The product wraps like the 32-bit arithmetic it models; values are not clamped.
    const auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) *
                                                   static_cast<std::uint32_t>(h));
    const int d = TruncDiv(product, 100);

    image.SetPen(colour, 2);
    image.LineTo(w - 1, h - d);
    image.ScrollLeft(w, h);
    image.SetPenColour(Black);
    image.MoveTo(w - 1, 0);
    image.LineTo(w - 1, h);
    image.SetPen(DarkGreen, 1);
    HorizontalGuides(image, w, h);
    if (scrollCount >= TruncDiv(h, 4)) {
        image.MoveTo(w - 2, 0);
        image.LineTo(w - 2, h);
        result = 0;
    }
    image.MoveTo(w - 1, h - d);
    return result;
}

std::int32_t Sheet(TImage& image)
{
    const int w = image.width();
    const int h = image.height();
    image.SetPen(DarkGreen, 1);
    HorizontalGuides(image, w, h);
    // Below 4 pixels the guide spacing is 0: such a chart gets no vertical guides, and below
    // 2 pixels the phase has nothing to be taken modulo, so it starts at 0.
    const int q = TruncDiv(h, 4);
    if (q > 0) {
        const int n = TruncDiv(w, q);
        for (int i = 1; i <= n; ++i) {
            image.MoveTo(i * q, 0);
            image.LineTo(i * q, h);
        }
    }
    const int period = static_cast<int>(h / 2.0 + h / 4.0);
    const std::int32_t scrollCount = period > 0 ? w % period : 0;
    image.MoveTo(w - 1, 0);
    return scrollCount;
}
