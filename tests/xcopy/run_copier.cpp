#include "run_copier.h"

#include <QProcess>
#include <algorithm>
#include <vector>

namespace fs = std::filesystem;

namespace qvtest {

CopierRun RunCopier(const std::string &argumentText, const fs::path &currentFolder, bool asNobody) {
    QProcess p;
    if (!currentFolder.empty()) p.setWorkingDirectory(QString::fromStdString(currentFolder.string()));
    QString program = QV_BIN_DIR "/qvxcopy";
    QStringList args = {QString::fromStdString(argumentText)};
    if (asNobody) {
        args = QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program} + args;
        program = "setpriv";
    }
    p.start(program, args);
    CopierRun run;
    if (!p.waitForFinished(60000)) return run;
    run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.output = p.readAllStandardOutput().toStdString();
    run.errors = p.readAllStandardError().toStdString();
    return run;
}

std::string Listing(const fs::path &root) {
    std::vector<std::string> names;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        names.push_back(fs::relative(it->path(), root).string() + (it->is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto &n : names) text += n + "\n";
    return text;
}

void SetAge(const fs::path &file, int secondsAgo) {
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

}  // namespace qvtest
