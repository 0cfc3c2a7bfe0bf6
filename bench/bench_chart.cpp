// The charts: one sample added to a chart, and the wipe that lays both empty grids.

#include <benchmark/benchmark.h>

#include "bench.h"
#include "chart.h"
#include "platform/fake/FakePlatform.h"

namespace {

// One tick's work on one chart: the new sample at the right edge, one column of scroll.
void BM_Graph(benchmark::State& state)
{
    TImage image;
    image.resize(302, 48);
    image.show();   // a visible chart also collects the repaint request of every line
    image.SetBrush(chart::Black);
    image.FillRect(0, 0, image.width(), image.height());
    Sheet(image);
    std::int32_t scrollCount = 0;
    std::int32_t value = 0;
    for (auto _ : state) {
        scrollCount = Graph(image, value, chart::Lime, scrollCount) + 1;
        benchmark::DoNotOptimize(scrollCount);
        value = (value + 7) % 101;
    }
    benchmark::DoNotOptimize(image.Picture().constBits());
}
BENCHMARK(BM_Graph);

// Both charts cleared and gridded, as on every show and restore.
void BM_FormPaint(benchmark::State& state)
{
    platform::FakePlatform fake;
    fake.setCpuUsage(37);
    TfrmMain form(fake);
    if (!bench::ShowStill(form)) {
        state.SkipWithError("the window was not shown");
        return;
    }
    for (auto _ : state) {
        form.FormPaint();
        benchmark::DoNotOptimize(form.ScrollCount);
    }
}
BENCHMARK(BM_FormPaint);

}  // namespace
