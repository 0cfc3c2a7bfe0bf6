// The benchmarks drive real widgets, so they need one QApplication for the whole run: offscreen
// unless the caller chose a platform (the X benchmarks want xcb on a private desktop).

#include <QApplication>
#include <benchmark/benchmark.h>

#include "fonts.h"

namespace {

QtMessageHandler standard = nullptr;

// The offscreen platform says, on every show, what it cannot do; that is only noise here.
void Messages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (!text.startsWith(QLatin1String("This plugin does not support")))
        standard(type, context, text);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    standard = qInstallMessageHandler(Messages);
    QApplication app(argc, argv);
    InstallUiFonts();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
