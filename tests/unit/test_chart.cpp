#include <set>

#include <gtest/gtest.h>

#include "chart.h"

using namespace chart;

namespace {

// A chart of the given size, cleared and gridded as a repaint leaves it.
class Chart {
public:
    explicit Chart(int height, int width = 302)
    {
        image.resize(width, height);
        image.SetBrush(Black);
        image.FillRect(0, 0, width, height);
        scrollCount = Sheet(image);
    }

    // One tick as the refresh cycle gives it: the chart's result becomes the count, plus one.
    void Tick(std::int32_t value, QRgb colour = Lime)
    {
        scrollCount = Graph(image, value, colour, scrollCount) + 1;
    }

    QRgb At(int x, int y) const { return image.Picture().pixel(x, y); }

    std::set<int> RowsOf(int x, QRgb colour) const
    {
        std::set<int> rows;
        for (int y = 0; y < image.Picture().height(); ++y)
            if (At(x, y) == colour)
                rows.insert(y);
        return rows;
    }

    bool ColumnIs(int x, QRgb colour, std::set<int> except = {}) const
    {
        for (int y = 0; y < image.Picture().height(); ++y)
            if (!except.count(y) && At(x, y) != colour)
                return false;
        return true;
    }

    TImage image;
    std::int32_t scrollCount = 0;
};

const std::set<int> Guides48 = {12, 24, 36};

}  // namespace

// ---- the empty grid ----
TEST(Sheet, DrawsQuarterGuidesAndPhasesTheCount)
{
    Chart chart(48);
    EXPECT_EQ(chart.scrollCount, 14);
    for (int y : Guides48)
        EXPECT_EQ(chart.RowsOf(150, DarkGreen).count(y), 1u) << y;
    for (int x = 12; x <= 300; x += 12)
        EXPECT_TRUE(chart.ColumnIs(x, DarkGreen)) << x;
    EXPECT_EQ(chart.At(11, 5), Black);
    EXPECT_EQ(chart.At(301, 5), Black);
    EXPECT_EQ(chart.image.PenPos(), QPoint(301, 0));
}

TEST(Sheet, OtherHeightsKeepTheQuarterRule)
{
    struct Case { int height; std::set<int> rows; int spacing; std::int32_t count; };
    const Case cases[] = {
        {24, {6, 12, 18}, 6, 14},
        {28, {7, 14, 21}, 7, 8},
    };
    for (const Case& c : cases) {
        Chart chart(c.height);
        EXPECT_EQ(chart.RowsOf(3, DarkGreen), c.rows) << c.height;
        EXPECT_TRUE(chart.ColumnIs(c.spacing, DarkGreen)) << c.height;
        EXPECT_TRUE(chart.ColumnIs(c.spacing * 2, DarkGreen)) << c.height;
        EXPECT_EQ(chart.scrollCount, c.count) << c.height;
    }
}

TEST(Sheet, ChartsUnderFourPixelsGetNoVerticalGuidesAndNeverDivideByZero)
{
    Chart three(3);
    EXPECT_EQ(three.RowsOf(5, DarkGreen), (std::set<int>{0, 1, 2}));   // rows 1, 0 and 2
    EXPECT_EQ(three.scrollCount, 0);
    for (int height : {1, 0}) {
        Chart tiny(height);
        EXPECT_EQ(tiny.scrollCount, 0) << height;
        tiny.Tick(50);   // a guide on every tick, and nothing breaks
        tiny.Tick(50);
    }
}

// ---- adding samples ----
TEST(Graph, TheNewPointLandsOnTheRowOfItsValue)
{
    // row = 48 - Trunc(value * 48 / 100); a 2-pixel trace covers that row and the one above.
    const std::pair<std::int32_t, int> cases[] = {
        {50, 24}, {25, 36}, {33, 33}, {100, 0}, {0, 48}, {101, 0}, {102, 0}, {103, -1}, {150, -24},
    };
    for (const auto& [value, row] : cases) {
        Chart chart(48);
        chart.Tick(value);
        chart.Tick(value);
        EXPECT_EQ(chart.image.PenPos(), QPoint(301, row)) << value;
        std::set<int> expected;
        for (int y : {row - 1, row})
            if (y >= 0 && y < 48 && !Guides48.count(y))
                expected.insert(y);
        EXPECT_EQ(chart.RowsOf(299, Lime), expected) << value;
    }
}

TEST(Graph, AConstantValueDrawsAnUnbrokenTrace)
{
    Chart chart(48);
    for (int i = 0; i < 30; ++i)
        chart.Tick(30, Yellow);
    const int row = 48 - 14;
    for (int x = 299 - 28; x <= 299; ++x)
        EXPECT_EQ(chart.RowsOf(x, Yellow), (std::set<int>{row - 1, row})) << x;
}

TEST(Graph, AStepIsDrawnInTheNewestColumn)
{
    Chart chart(48);
    chart.Tick(0);
    chart.Tick(100);
    std::set<int> all;
    for (int y = 0; y < 48; ++y)
        if (!Guides48.count(y))
            all.insert(y);
    EXPECT_EQ(chart.RowsOf(299, Lime), all);
}

TEST(Graph, TheRightmostColumnIsWipedEveryTick)
{
    Chart chart(48);
    for (int i = 0; i < 5; ++i) {
        chart.Tick(70);
        EXPECT_TRUE(chart.ColumnIs(301, Black, Guides48)) << i;
    }
}

TEST(Graph, TheFirstTickAfterARepaintAddsAGuideBesideTheGridsOwn)
{
    Chart chart(48);
    chart.Tick(100);   // the step from the grid's pen position (the top row) stays at the top
    EXPECT_EQ(chart.scrollCount, 1);
    EXPECT_TRUE(chart.ColumnIs(300, DarkGreen));
    // The grid's guides have moved one column left: 11, 23, ..., 299, a double line at 299/300.
    for (int x = 11; x <= 299; x += 12)
        EXPECT_EQ(chart.At(x, 5), DarkGreen) << x;
    EXPECT_EQ(chart.At(298, 5), Black);
    EXPECT_EQ(chart.At(12, 5), Black);
}

TEST(Graph, AddsAGuideEveryTwelveTicksAfterwards)
{
    Chart chart(48);
    for (int i = 0; i < 25; ++i)
        chart.Tick(100);
    for (int x : {276, 288, 300})
        EXPECT_EQ(chart.At(x, 5), DarkGreen) << x;
    for (int x = 277; x < 288; ++x)
        EXPECT_EQ(chart.At(x, 5), Black) << x;
    EXPECT_EQ(chart.At(275, 5), DarkGreen) << "the grid's guide beside it";
}

TEST(Graph, ChartsOfEqualHeightDrawTheirGuidesOnTheSameTick)
{
    Chart memory(48), cpu(48);
    std::int32_t count = 14;
    for (int i = 0; i < 13; ++i) {
        Graph(memory.image, 40, Yellow, count);
        count = Graph(cpu.image, 60, Lime, count) + 1;
        EXPECT_EQ(memory.At(300, 5), cpu.At(300, 5)) << i;
    }
}

TEST(Graph, AfterAShrinkThePictureKeepsItsSizeAndTheRoutinesUseTheNewHeight)
{
    Chart chart(48);
    chart.image.resize(302, 24);
    chart.Tick(50);
    EXPECT_EQ(chart.image.Picture().size(), QSize(302, 48));
    EXPECT_EQ(chart.image.PenPos(), QPoint(301, 12));
    EXPECT_EQ(chart.At(150, 6), DarkGreen) << "guides at the new quarters";
    // Below the new height the old picture is left as it was, one column scrolled no further.
    EXPECT_EQ(chart.At(150, 36), DarkGreen);
}

// ---- drawing outside the picture ----
TEST(TImage, LinesWhollyOutsideThePictureDrawNothing)
{
    Chart chart(8, 8);
    const QImage before = chart.image.Picture();
    for (int width : {1, 2}) {
        chart.image.SetPen(Lime, width);
        chart.image.MoveTo(20, 2);
        chart.image.LineTo(20, 6);    // right of the picture
        chart.image.MoveTo(-9, 1);
        chart.image.LineTo(-3, 1);    // left of it
        chart.image.MoveTo(2, 30);
        chart.image.LineTo(6, 30);    // below it
    }
    EXPECT_EQ(chart.image.Picture(), before);
}
