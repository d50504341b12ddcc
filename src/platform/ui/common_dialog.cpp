// CommonDialog::ShowOpen on Qt's own file dialog, or on the chooser of the tests.
#include <QFileDialog>
#include <filesystem>

#include "platform/paths.h"
#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace {
std::function<std::string(const std::string &, const std::string &)> g_chooser;

// "Text files|*.txt|All|*.*" -> "Text files (*.txt);;All (*.*)"
QString QtFilter(const std::string &filter) {
    const QStringList parts = Q(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    return out.join(";;");
}

std::string StartFolder(const std::string &initDir) {
    if (initDir.empty()) return {};
    try {
        const std::filesystem::path p = MapPath(initDir);
        std::error_code ec;
        return std::filesystem::is_directory(p, ec) ? p.string() : std::string();
    } catch (const std::exception &) {
        return {};
    }
}
}  // namespace

void SetFileDialogChooserForTests(
    std::function<std::string(const std::string &title, const std::string &initDir)> chooser) {
    g_chooser = std::move(chooser);
}

void CommonDialog::ShowOpen() {
    std::string chosen;
    if (g_chooser) {
        chosen = g_chooser(DialogTitle, InitDir);
    } else {
        if (Ending()) return;
        EnsureUiSetup();
        const QString file = QFileDialog::getOpenFileName(ActiveFormWindow(), Q(DialogTitle),
                                                          Q(StartFolder(InitDir)), QtFilter(Filter), nullptr,
                                                          QFileDialog::DontUseNativeDialog);
        if (file.isEmpty()) return;
        chosen = WindowsPath(std::filesystem::path(S(file)));
    }
    if (chosen.empty()) return;
    FileName = chosen;
    const size_t slash = chosen.find_last_of("\\/");
    FileTitle = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
}

}  // namespace platform::ui
