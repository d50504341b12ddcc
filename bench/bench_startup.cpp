// Start-up to the window shown, warm: reading the settings database, creating the tool window, its
// Load and its first show, on the offscreen platform. The process start itself (exec, dynamic linking,
// Qt platform plugin) is measured separately by BM_ProcessStartToExit: qvutil with a keyword that
// names no tool, which runs every start-up step but the window.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QProcess>

#include <memory>

#include "backup/frmQuorDBBkUp.h"
#include "platform/paths.h"
#include "readdates/frmFixDupRdgs.h"
#include "restore/frmRestAutoCopy.h"
#include "startup/shared.h"
#include "startup/startup.h"
#include "qvsample/installation.h"
#include "qvsample/temp_drive.h"

namespace {

qvtest::TempDrives *g_drives = nullptr;
qvtest::Installation g_inst;

template <class FormT>
void BM_StartupToWindow(benchmark::State &state) {
    for (auto _ : state) {
        startup::Shared() = {};
        startup::ReadSettings();
        auto form = std::make_unique<FormT>();
        form->Show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(form->IsVisible());
        state.PauseTiming();
        form->Unload();
        form.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToWindow<backup::frmQuorDBBkUp>)->Name("StartupToWindow/QBU")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupToWindow<restore::frmRestAutoCopy>)->Name("StartupToWindow/RAC")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupToWindow<readdates::frmFixDupRdgs>)->Name("StartupToWindow/FRD")->Unit(benchmark::kMillisecond);

void BM_ProcessStartToExit(benchmark::State &state) {
    for (auto _ : state) {
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QUORVANT_DRIVES", QString::fromStdString(g_drives->spec()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString(g_inst.qvutil.string()), {"NONE"});
        p.waitForFinished(10000);
        if (p.exitCode() != 0) state.SkipWithError("qvutil failed");
    }
}
BENCHMARK(BM_ProcessStartToExit)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qvtest::TempDrives drives("CE");
    g_drives = &drives;
    qvtest::InstallationOptions o;
    g_inst = qvtest::LayOutInstallation(drives.folder('C'), QV_BIN_DIR, o);
    platform::SetAppPathForTests("C:\\QVNWin32");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
