// Start-up on the scripted backend: the windows made and the main window shown, up to its first
// paint. The first run also pays for what Qt loads once (fonts, style); the later ones do not.

#include <memory>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <benchmark/benchmark.h>

#include "bench.h"
#include "platform/fake/FakePlatform.h"
#include "untCmd.h"

namespace {

class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

void BM_StartupFake(benchmark::State& state)
{
    for (auto _ : state) {
        platform::FakePlatform fake;
        fake.setCpuUsage(37);
        fake.windowList = bench::FakeWindows(20);
        PaintWatch watch;
        auto form = std::make_unique<TfrmMain>(fake);
        form->installEventFilter(&watch);
        auto cmd = std::make_unique<TfrmCmd>(fake, form->Guard(), form.get());
        form->SetCmd(cmd.get());
        form->ShowMain();
        QElapsedTimer clock;
        clock.start();
        while (!watch.painted && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        state.PauseTiming();
        if (!watch.painted)
            state.SkipWithError("no paint within 5 s");
        cmd.reset();
        form.reset();
        QCoreApplication::processEvents();   // the deferred deletes of what went
        state.ResumeTiming();
    }
    state.counters["rss_kib"] = bench::RssKiB();
}
BENCHMARK(BM_StartupFake)->Unit(benchmark::kMillisecond);

}  // namespace
