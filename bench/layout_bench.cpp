// One full layout and repaint of the main window's skin (one fill and four
// stretched copies, then the player placed) at a 1920 x 1080 client area:
// the work done on every step of a frame drag.
#include "mainwindow/frmMain.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void BM_LayoutAndRepaint1080p(benchmark::State& state) {
    frmMain& form = frmMain::instance();
    form.QWidget::show();  // shown without loading: no size limits
    form.setClientSize(1920, 1080);
    QApplication::processEvents();
    if (form.ScaleWidth() != 1920 || form.ScaleHeight() != 1080) {
        state.SkipWithError("the client area did not reach 1920 x 1080");
        return;
    }
    for (auto _ : state)
        form.Form_Resize();
    benchmark::DoNotOptimize(form.surface().constBits());
    frmMain::releaseInstance();
}
BENCHMARK(BM_LayoutAndRepaint1080p)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // An offscreen screen large enough for the window.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    file.open(QIODevice::WriteOnly);
    file.write(R"({"screens":[{"name":"bench","x":0,"y":0,"width":2560,"height":1440,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
