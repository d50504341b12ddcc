// qvxcopy on a generated program tree of 5,000 files / 500 MB in 200 folders, against cp -a + sync.
// The tree is generated once in the work folder (QV_BENCH_DIR) and kept for later runs.
//
//   bench_xcopy [--pairs N] [copy|second-pass]
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pairs.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 200, kFiles = 5000, kFileBytes = 100 * 1024;

const fs::path &Root() {
    static const fs::path root = bench::WorkFolder("xcopy");
    return root;
}

void GenerateTree() {
    const fs::path src = Root() / "src";
    if (fs::exists(Root() / "src.done")) return;
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
    std::ofstream(Root() / "src.done") << "ok";
    bench::Shell("sync");
}

// The copier started as the utility starts it, drive C being the work folder; its peak is the side's.
void Copier(bench::Probe &probe, const std::string &arguments) {
    const bench::ChildResult r = bench::Spawn({QV_BIN_DIR "/qvxcopy", arguments}, {{"QUORVANT_DRIVES", "C=" + Root().string()}});
    probe.ChildPeak(r.peakKb);
    if (r.status != 0) throw std::runtime_error("qvxcopy " + arguments + " ended with status " + std::to_string(r.status));
}

// Every file of the source tree is in `copy` with its size.
void ExpectCopied(const fs::path &copy) {
    long files = 0;
    for (const auto &e : fs::recursive_directory_iterator(copy)) {
        if (!e.is_regular_file()) continue;
        if (e.file_size() != kFileBytes) throw std::runtime_error(e.path().string() + " has the wrong size");
        ++files;
    }
    if (files != kFiles) throw std::runtime_error(std::to_string(files) + " files copied to " + copy.string());
}

// A fresh destination, with the page cache written out, before each run.
std::function<void()> Fresh(const fs::path &destination) {
    return [destination] {
        fs::remove_all(destination);
        bench::Shell("sync");
    };
}

bench::Comparison Copy(long) {
    GenerateTree();
    const fs::path dst = Root() / "dst", cp = Root() / "cp";
    bench::Side a{"qvxcopy /T/Y then /s/d/y, sync", [](bench::Probe &probe) {
                      Copier(probe, "C:\\src\\*.* C:\\dst\\QVNWin32 /T/Y");
                      Copier(probe, "C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y");
                      bench::Shell("sync");
                  }};
    a.reset = Fresh(dst);
    a.check = [dst] { ExpectCopied(dst / "QVNWin32"); };
    bench::Side b{"cp -a, sync", [src = Root() / "src", cp](bench::Probe &probe) {
                      bench::CopyThenSync(probe, {"/bin/cp", "-a", src.string(), cp.string()});
                  }};
    b.reset = Fresh(cp);
    b.check = [cp] { ExpectCopied(cp); };
    return {"the backup's two copier passes vs cp -a, 5,000 files / 500 MB", a, b, {}};
}

bench::Comparison SecondPass(long) {
    GenerateTree();
    const fs::path dst = Root() / "dst";
    bench::Shell("QUORVANT_DRIVES='C=" + Root().string() + "' " QV_BIN_DIR "/qvxcopy 'C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y' >/dev/null");
    bench::Side a{"qvxcopy /s/d/y, nothing changed",
                  [](bench::Probe &probe) { Copier(probe, "C:\\src\\*.* C:\\dst\\QVNWin32 /s/d/y"); }};
    a.check = [dst] { ExpectCopied(dst / "QVNWin32"); };
    return {"the second pass over an unchanged copy", a, std::nullopt, {}};
}

}  // namespace

int main(int argc, char **argv) {
    return bench::Main(argc, argv, {{"copy", {}, Copy}, {"second-pass", {}, SecondPass}});
}
