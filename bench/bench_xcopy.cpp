// qvxcopy on a generated program tree of 5,000 files / 500 MB in 200 folders, against cp -a + sync.
// The tree is generated once under /tmp/qvxcopy-bench/src and kept for later runs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kRoot = "/tmp/qvxcopy-bench";
constexpr int kFolders = 200, kFiles = 5000, kFileBytes = 100 * 1024;

void Sh(const std::string &command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

void GenerateTree() {
    const fs::path src = kRoot / "src";
    if (fs::exists(kRoot / "src.done")) return;
    fs::remove_all(src);
    std::vector<char> data(kFileBytes);
    unsigned x = 12345;
    for (int i = 0; i < kFiles; ++i) {
        const int folder = i % kFolders;  // 20 folders of 10 subfolders
        const fs::path dir = src / ("dir" + std::to_string(folder / 10)) / ("sub" + std::to_string(folder % 10));
        fs::create_directories(dir);
        for (char &c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        std::ofstream(dir / ("file" + std::to_string(i) + ".dat"), std::ios::binary).write(data.data(), kFileBytes);
    }
    std::ofstream(kRoot / "src.done") << "ok";
    Sh("sync");
}

// Drive C is the benchmark root; the copier is started as the utility starts it.
void Copier(const std::string &arguments) {
    Sh(std::string("QUORVANT_DRIVES='C=") + kRoot.string() + "' " QV_BIN_DIR "/qvxcopy '" + arguments +
       "' >/dev/null");
}

template <class F>
double Seconds(F f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_CpArchivePlusSync(benchmark::State &state) {
    GenerateTree();
    for (auto _ : state) {
        fs::remove_all(kRoot / "cp");
        Sh("sync");
        state.SetIterationTime(Seconds([] { Sh("cp -a " + (kRoot / "src").string() + " " + (kRoot / "cp").string() + " && sync"); }));
    }
    fs::remove_all(kRoot / "cp");
}

void BM_QvxcopyBothPassesPlusSync(benchmark::State &state) {
    GenerateTree();
    for (auto _ : state) {
        fs::remove_all(kRoot / "dst");
        Sh("sync");
        state.SetIterationTime(Seconds([] {
            Copier("C:\\src\\*.* C:\\dst\\QVNWin32 /T/Y");
            Copier("C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y");
            Sh("sync");
        }));
    }
}

void BM_QvxcopySecondPassUnchanged(benchmark::State &state) {
    GenerateTree();
    Copier("C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y");
    for (auto _ : state)
        state.SetIterationTime(Seconds([] { Copier("C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y"); }));
    fs::remove_all(kRoot / "dst");
}

}  // namespace

BENCHMARK(BM_CpArchivePlusSync)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_QvxcopyBothPassesPlusSync)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_QvxcopySecondPassUnchanged)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
