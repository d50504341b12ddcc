// The Add* functions of Form: each creates the Qt widget of a control and wires its events.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace {

// A straight line drawn between two points of its own rectangle.
class LineWidget : public QWidget {
public:
    LineWidget(QWidget *parent, QPoint from, QPoint to) : QWidget(parent), from_(from), to_(to) {
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setPen(QPen(palette().color(QPalette::WindowText), 1));
        p.drawLine(from_, to_);
    }
private:
    QPoint from_, to_;
};

QWidget *Parent(Form &f) { return UiAccess::of(f).dialog; }

void SetFont(Form &f, QWidget *w, const std::optional<FontSpec> &font) {
    w->setFont(MakeFont(font ? *font : UiAccess::of(f).font));
}

}  // namespace

Label &Form::AddLabel(const std::string &name, int index, Rect r, const std::string &caption, int tabIndex,
                      std::optional<FontSpec> font) {
    auto *w = new QLabel(Q(caption), Parent(*this));
    w->setWordWrap(true);
    w->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    w->setTextFormat(Qt::PlainText);
    w->setFocusPolicy(Qt::NoFocus);
    SetFont(*this, w, font);
    return UiAccess::adopt<Label>(*this, w, name, index, r, tabIndex);
}

TextBox &Form::AddTextBox(const std::string &name, int index, Rect r, int tabIndex, std::optional<FontSpec> font) {
    auto *w = new QLineEdit(Parent(*this));
    SetFont(*this, w, font);
    auto &c = UiAccess::adopt<TextBox>(*this, w, name, index, r, tabIndex);
    QObject::connect(w, &QLineEdit::textChanged, UiAccess::of(c).filter, [&c] { Fire(c.onChange); });
    return c;
}

CommandButton &Form::AddButton(const std::string &name, int index, Rect r, const std::string &caption,
                               int tabIndex, std::optional<FontSpec> font) {
    auto *w = new QPushButton(Q(caption), Parent(*this));
    w->setAutoDefault(false);  // Enter must not click some other button of the form
    w->setDefault(false);
    SetFont(*this, w, font);
    auto &c = UiAccess::adopt<CommandButton>(*this, w, name, index, r, tabIndex);
    QObject::connect(w, &QPushButton::clicked, UiAccess::of(c).filter, [&c] { Fire(c.onClick); });
    return c;
}

ComboBox &Form::AddComboBox(const std::string &name, Rect r, int tabIndex, std::optional<FontSpec> font) {
    auto *w = new QComboBox(Parent(*this));
    w->setEditable(true);
    w->setInsertPolicy(QComboBox::NoInsert);
    w->setCompleter(nullptr);  // the text is what was typed: no completion, no change of letter case
    w->setMaxVisibleItems(8);
    SetFont(*this, w, font);
    auto &c = UiAccess::adopt<ComboBox>(*this, w, name, -1, r, tabIndex);
    QObject *ctx = UiAccess::of(c).filter;
    QObject::connect(w, &QComboBox::editTextChanged, ctx, [&c] { Fire(c.onChange); });
    QObject::connect(w, &QComboBox::activated, ctx, [&c] { Fire(c.onClick); });
    return c;
}

ProgressBar &Form::AddProgressBar(const std::string &name, Rect r, int tabIndex) {
    auto *w = new QProgressBar(Parent(*this));
    w->setTextVisible(false);
    w->setFocusPolicy(Qt::NoFocus);
    auto &c = UiAccess::adopt<ProgressBar>(*this, w, name, -1, r, tabIndex);
    RescaleProgressBar(UiAccess::of(c));
    w->setValue(0);
    return c;
}

Line &Form::AddLine(const std::string &name, int x1, int y1, int x2, int y2) {
    const int left = std::min(Px(x1), Px(x2)), top = std::min(Px(y1), Px(y2));
    const QPoint from(Px(x1) - left, Px(y1) - top), to(Px(x2) - left, Px(y2) - top);
    auto *w = new LineWidget(Parent(*this), from, to);
    Rect r{std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1) + 15, std::abs(y2 - y1) + 15};
    return UiAccess::adopt<Line>(*this, w, name, -1, r, -1);
}

}  // namespace platform::ui
