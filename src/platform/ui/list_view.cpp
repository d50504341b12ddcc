// ListView: rows of texts under column headers (report view) on a QTreeWidget.
#include <QHeaderView>
#include <QTreeWidget>

#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace {

// Each cell keeps its text's own bytes beside the shown text, as the combo box's items do.
constexpr int kBytesRole = Qt::UserRole;

QTreeWidget *Tree(const Control &c) { return static_cast<QTreeWidget *>(c.widget()); }

// The chosen row is grey while the list does not have the focus, so that a keyboard user sees where
// the focus is (a style sheet cannot tell: the focus state it sees is a cell's, not the list's).
class ListViewWidget : public QTreeWidget {
public:
    explicit ListViewWidget(QWidget *parent) : QTreeWidget(parent), focused_(palette()), unfocused_(focused_) {
        unfocused_.setColor(QPalette::Highlight, focused_.color(QPalette::Midlight));
        unfocused_.setColor(QPalette::HighlightedText, focused_.color(QPalette::Text));
        setPalette(unfocused_);
    }

protected:
    void focusInEvent(QFocusEvent *e) override {
        setPalette(focused_);
        QTreeWidget::focusInEvent(e);
    }
    void focusOutEvent(QFocusEvent *e) override {
        setPalette(unfocused_);
        QTreeWidget::focusOutEvent(e);
    }

private:
    QPalette focused_, unfocused_;
};

}  // namespace

void ListView::AddColumn(const std::string &caption, int widthTwips, bool rightAligned) {
    QTreeWidget *tree = Tree(*this);
    QTreeWidgetItem *header = tree->headerItem();
    const int column = impl_->listColumns++;
    tree->setColumnCount(column + 1);
    header->setText(column, Q(caption));
    header->setTextAlignment(column, (rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    tree->setColumnWidth(column, Px(widthTwips));
}

void ListView::AddItem(const std::vector<std::string> &texts) {
    QTreeWidget *tree = Tree(*this);
    auto *item = new QTreeWidgetItem(tree);
    for (int column = 0; column < impl_->listColumns && column < static_cast<int>(texts.size()); ++column) {
        const std::string &text = texts[static_cast<std::size_t>(column)];
        item->setText(column, Q(text));
        item->setData(column, kBytesRole, QByteArray::fromStdString(text));
        item->setTextAlignment(column, Qt::Alignment(tree->headerItem()->textAlignment(column)));
    }
}

void ListView::Clear() { Tree(*this)->clear(); }

int ListView::ListCount() const { return Tree(*this)->topLevelItemCount(); }

std::string ListView::ItemText(int row, int column) const {
    const QTreeWidgetItem *item = Tree(*this)->topLevelItem(row);
    return item ? item->data(column, kBytesRole).toByteArray().toStdString() : std::string();
}

int ListView::ListIndex() const {
    const QTreeWidget *tree = Tree(*this);
    const QTreeWidgetItem *item = tree->currentItem();
    return item && item->isSelected() ? tree->indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(item)) : -1;
}

void ListView::SetListIndex(int index) {
    QTreeWidget *tree = Tree(*this);
    QTreeWidgetItem *item = index >= 0 ? tree->topLevelItem(index) : nullptr;
    if (!item) {
        tree->setCurrentItem(nullptr);
        tree->clearSelection();
        return;
    }
    tree->setCurrentItem(item);
    tree->scrollToItem(item);
}

ListView &Form::AddListView(const std::string &name, Rect r, int tabIndex, std::optional<FontSpec> font) {
    auto *w = new ListViewWidget(UiAccess::of(*this).dialog);
    w->setFont(MakeFont(font ? *font : UiAccess::of(*this).font));
    w->setColumnCount(0);
    w->setRootIsDecorated(false);
    w->setItemsExpandable(false);
    w->setUniformRowHeights(true);
    w->setAllColumnsShowFocus(true);
    w->setSelectionMode(QAbstractItemView::SingleSelection);
    w->setTextElideMode(Qt::ElideRight);
    w->header()->setSectionsMovable(false);
    w->header()->setStretchLastSection(true);
    w->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto &c = UiAccess::adopt<ListView>(*this, w, name, -1, r, tabIndex);
    QObject::connect(w, &QTreeWidget::itemClicked, UiAccess::of(c).filter, [&c] { Fire(c.onClick); });
    return c;
}

}  // namespace platform::ui
