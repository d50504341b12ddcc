// DriveListBox and DirListBox over the drive map.
#include <QComboBox>
#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/error.h"
#include "platform/ascii.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace fs = std::filesystem;

namespace {

std::string DriveText(char letter) {
    return std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(letter)))) + ":";
}

// The visible subfolders of a folder, in name order regardless of case.
std::vector<std::string> Subfolders(const fs::path &folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = it->path().filename().string();
        std::error_code dec;
        if (!n.empty() && n[0] != '.' && it->is_directory(dec)) names.push_back(n);
    }
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        const std::string la = Lower(a), lb = Lower(b);
        return la != lb ? la < lb : a < b;
    });
    return names;
}

std::string Join(const std::string &folder, const std::string &name) {
    return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// "E:\a\b" -> {"E:\", "E:\a", "E:\a\b"}
std::vector<std::string> Chain(const std::string &path) {
    std::vector<std::string> chain{path.substr(0, 3)};
    size_t pos = 3;
    while (pos < path.size()) {
        size_t next = path.find('\\', pos);
        if (next == std::string::npos) next = path.size();
        chain.push_back(path.substr(0, next));
        pos = next + 1;
    }
    return chain;
}

// A folder's path kept with its item as the bytes of its name, so that a name that is not UTF-8 opens too.
QByteArray Bytes(const std::string &path) { return QByteArray(path.data(), static_cast<qsizetype>(path.size())); }

// Opens the folder of a row of the list, as the user asked.
void OpenItem(DirListBox &dir, const QTreeWidgetItem &item) {
    const std::string path = item.data(0, Qt::UserRole).toByteArray().toStdString();
    Dispatch([&] {
        try {
            dir.SetPath(path);
        } catch (const Error &e) {
            if (!dir.onOpenFailed) throw;
            dir.onOpenFailed(path, platform::Message(e));
        }
    });
}

void Fill(ControlState &s) {
    auto *tree = static_cast<QTreeWidget *>(s.widget);
    const QSignalBlocker quiet(tree);
    tree->clear();
    QTreeWidgetItem *item = nullptr;
    const QIcon open = tree->style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = tree->style()->standardIcon(QStyle::SP_DirClosedIcon);
    for (const std::string &p : Chain(s.dirPath)) {
        const std::string text = item ? p.substr(p.rfind('\\') + 1) : Lower(p);
        item = item ? new QTreeWidgetItem(item) : new QTreeWidgetItem(tree);
        item->setText(0, Q(text));
        item->setData(0, Qt::UserRole, Bytes(p));
        item->setIcon(0, open);
    }
    QTreeWidgetItem *current = item;
    s.dirSubs = Subfolders(MapPath(s.dirPath));
    for (const std::string &name : s.dirSubs) {
        auto *sub = new QTreeWidgetItem(current);
        sub->setText(0, Q(name));
        sub->setData(0, Qt::UserRole, Bytes(Join(s.dirPath, name)));
        sub->setIcon(0, closed);
    }
    tree->expandAll();
    tree->setCurrentItem(current);
    tree->scrollToItem(current);
}

std::string InitialFolder() {
    try {
        return CurDir();
    } catch (const std::exception &) {
        const auto drives = Drives();
        return drives.empty() ? std::string() : std::string(1, drives.front().letter) + ":\\";
    }
}

}  // namespace

std::string DriveListBox::Drive() const { return impl_->drive; }

void DriveListBox::SetDrive(const std::string &drive) {
    auto *cb = static_cast<QComboBox *>(impl_->widget);
    const std::string text = drive.empty() ? std::string() : DriveText(drive[0]);
    const int i = cb->findText(Q(text));
    if (i < 0) Raise(68);
    if (text == impl_->drive) return;
    {
        const QSignalBlocker quiet(cb);
        cb->setCurrentIndex(i);
    }
    impl_->drive = text;
    if (onChange) onChange();
}

std::string DirListBox::Path() const { return impl_->dirPath; }

void DirListBox::SetPath(const std::string &path) {
    std::string target = path;
    if (target.size() == 2 && target[1] == ':') target = CurDir(static_cast<char>(std::toupper(target[0])));
    fs::path linux = MapPath(target).lexically_normal();
    if (!linux.has_filename() && linux != linux.root_path()) linux = linux.parent_path();
    std::error_code ec;
    if (!fs::is_directory(linux, ec)) RaisePathError(76, linux);
    const std::string windows = WindowsPath(linux);
    const bool changed = windows != impl_->dirPath;
    impl_->dirPath = windows;
    Fill(*impl_);
    if (changed && onChange) onChange();
}

int DirListBox::ListCount() const { return static_cast<int>(impl_->dirSubs.size()); }

std::string DirListBox::List(int index) const {
    if (index >= 0) {
        if (index >= ListCount()) return {};
        return Join(impl_->dirPath, impl_->dirSubs[static_cast<size_t>(index)]);
    }
    if (impl_->dirPath.empty()) return {};
    const auto chain = Chain(impl_->dirPath);
    const long at = static_cast<long>(chain.size()) + index;  // -1 is the last of the chain
    return at >= 0 ? chain[static_cast<size_t>(at)] : std::string();
}

void OpenFolderItem(Control &dirList) {
    auto &dir = static_cast<DirListBox &>(dirList);
    auto *tree = static_cast<QTreeWidget *>(dir.widget());
    if (QTreeWidgetItem *item = tree->currentItem()) OpenItem(dir, *item);
}

DriveListBox &Form::AddDriveListBox(const std::string &name, Rect r, int tabIndex, std::optional<FontSpec> font) {
    auto *w = new QComboBox(UiAccess::of(*this).dialog);
    w->setFont(MakeFont(font ? *font : UiAccess::of(*this).font));
    for (const platform::Drive &d : Drives()) w->addItem(Q(DriveText(d.letter)));
    auto &c = UiAccess::adopt<DriveListBox>(*this, w, name, -1, r, tabIndex);
    ControlState &s = UiAccess::of(c);
    try {
        s.drive = DriveText(CurrentDrive());
    } catch (const std::exception &) {
        s.drive = w->count() ? S(w->itemText(0)) : std::string();
    }
    w->setCurrentIndex(std::max(0, w->findText(Q(s.drive))));
    QObject::connect(w, &QComboBox::activated, s.filter, [&c, w](int i) {
        Dispatch([&] { c.SetDrive(S(w->itemText(i))); });
    });
    return c;
}

DirListBox &Form::AddDirListBox(const std::string &name, Rect r, int tabIndex, std::optional<FontSpec> font) {
    auto *w = new QTreeWidget(UiAccess::of(*this).dialog);
    w->setFont(MakeFont(font ? *font : UiAccess::of(*this).font));
    w->setHeaderHidden(true);
    w->setHeaderLabel("folder");  // what a screen reader names its one column (hidden or not: else "1")
    w->setRootIsDecorated(false);
    w->setItemsExpandable(false);
    w->setExpandsOnDoubleClick(false);
    w->setIndentation(12);
    // The open folder's row is grey while the list does not have the focus: the style draws no focus
    // frame that shows on a highlighted row, so a keyboard user could not see where the focus is.
    w->setStyleSheet("QTreeView::branch { image: none; border-image: none; }"
                     "QTreeView::item:selected:!focus { background: palette(midlight); color: palette(text); }");
    auto &c = UiAccess::adopt<DirListBox>(*this, w, name, -1, r, tabIndex);
    ControlState &s = UiAccess::of(c);
    s.dirPath = InitialFolder();
    if (!s.dirPath.empty()) {
        try {
            Fill(s);
        } catch (const std::exception &) {
        }
    }
    QObject::connect(w, &QTreeWidget::itemDoubleClicked, s.filter, [&c](QTreeWidgetItem *item) { OpenItem(c, *item); });
    QObject::connect(w, &QTreeWidget::itemClicked, s.filter, [&c] { Fire(c.onClick); });
    return c;
}

}  // namespace platform::ui
