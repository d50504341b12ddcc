// CommonDialog::ShowOpen on Qt's own file dialog, or on the chooser of the tests.
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QFileSystemModel>
#include <QLocale>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QUrl>
#include <algorithm>
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

// The files whose names match one of the patterns are not offered; folders always are.
class HideFiles : public QSortFilterProxyModel {
public:
    HideFiles(const std::string &patterns, QObject *parent) : QSortFilterProxyModel(parent) {
        for (const QString &p : Q(patterns).split(';', Qt::SkipEmptyParts))
            hidden_ << QRegularExpression::fromWildcard(p.trimmed(), Qt::CaseInsensitive);
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        const QModelIndex at = sourceModel()->index(row, 0, parent);
        if (!files || files->isDir(at)) return true;
        const QString name = files->fileName(at);
        return std::none_of(hidden_.begin(), hidden_.end(), [&](const auto &re) { return re.match(name).hasMatch(); });
    }

private:
    QList<QRegularExpression> hidden_;
};

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
// The side bar: the start folder and the folders of the mapped drives, rather than the whole tree.
QList<QUrl> SideBar(const std::string &startFolder) {
    QList<QUrl> urls;
    if (!startFolder.empty()) urls << QUrl::fromLocalFile(Q(startFolder));
    for (const Drive &d : Drives()) {
        std::error_code ec;
        const QUrl url = QUrl::fromLocalFile(Q(d.folder.string()));
        if (std::filesystem::is_directory(d.folder, ec) && !urls.contains(url)) urls << url;
    }
    return urls;
}

// The file list in detail view, every column whole and the date column wide enough for a whole
// date and time: a copy is picked by its date.
void ShowDetails(QFileDialog &dialog) {
    dialog.setViewMode(QFileDialog::Detail);
    auto *view = dialog.findChild<QTreeView *>("treeView");
    if (!view) return;
    enum { kName, kSize, kType, kDate };  // the columns of QFileSystemModel
    QHeaderView *header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(kName, QHeaderView::Stretch);
    header->setSectionResizeMode(kSize, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kType, QHeaderView::ResizeToContents);
    const QString widest =
        QLocale::system().toString(QDateTime(QDate(2000, 12, 28), QTime(22, 58, 58)), QLocale::ShortFormat);
    header->resizeSection(kDate, view->fontMetrics().horizontalAdvance(widest + "MM"));
    dialog.resize(std::max(dialog.width(), 780), dialog.height());
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
        const std::string start = StartFolder(InitDir);
        QFileDialog dialog(ActiveFormWindow(), Q(DialogTitle), Q(start), QtFilter(Filter));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (!Hidden.empty()) dialog.setProxyModel(new HideFiles(Hidden, &dialog));
        dialog.setSidebarUrls(SideBar(start));
        ShowDetails(dialog);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
        chosen = ShownPath(std::filesystem::path(S(dialog.selectedFiles().first())));
    }
    if (chosen.empty()) return;
    FileName = chosen;
    const size_t slash = chosen.find_last_of("\\/");
    FileTitle = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
}

}  // namespace platform::ui
