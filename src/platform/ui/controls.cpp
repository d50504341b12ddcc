// Label, TextBox, CommandButton, ComboBox, ProgressBar: properties over their Qt widgets.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QSignalBlocker>
#include <cmath>
#include <limits>

#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace {
template <class W> W *As(const Control &c) { return static_cast<W *>(c.widget()); }
}  // namespace

std::string Label::Caption() const { return S(As<QLabel>(*this)->text()); }
void Label::SetCaption(const std::string &caption) { As<QLabel>(*this)->setText(Q(caption)); }

std::string TextBox::Text() const { return S(As<QLineEdit>(*this)->text()); }
void TextBox::SetText(const std::string &text) { As<QLineEdit>(*this)->setText(Q(text)); }
void TextBox::SetLocked(bool locked) { As<QLineEdit>(*this)->setReadOnly(locked); }

int TextBox::SelStart() const {
    auto *e = As<QLineEdit>(*this);
    return e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
}

void TextBox::SetSelStart(int start) {
    auto *e = As<QLineEdit>(*this);
    e->deselect();
    e->setCursorPosition(std::clamp(start, 0, static_cast<int>(e->text().size())));
}

void TextBox::SetSelLength(int length) {
    auto *e = As<QLineEdit>(*this);
    const int start = SelStart();
    const int n = std::clamp(length, 0, static_cast<int>(e->text().size()) - start);
    if (n == 0) {
        e->deselect();
        e->setCursorPosition(start);
    } else {
        e->setSelection(start, n);
    }
}

void CommandButton::Press() {
    auto *b = As<QPushButton>(*this);
    if (b->isEnabled()) b->click();
}

// Each item keeps its text's own bytes beside the shown text, so a text that is not UTF-8 (shown
// with replacement characters) still reads back as it was added.
namespace {
constexpr int kBytesRole = Qt::UserRole;

int ItemOfText(const QComboBox *cb, const std::string &text) {
    return cb->findData(QByteArray::fromStdString(text), kBytesRole, Qt::MatchExactly);
}
}  // namespace

void ComboBox::AddItem(const std::string &item) {
    auto *cb = As<QComboBox>(*this);
    const QString text = cb->currentText();  // adding to the list leaves the text alone, silently
    const QSignalBlocker quiet(cb);
    cb->addItem(Q(item), QByteArray::fromStdString(item));
    cb->setEditText(text);
}
void ComboBox::Clear() {
    auto *cb = As<QComboBox>(*this);
    cb->clear();
}
int ComboBox::ListCount() const { return As<QComboBox>(*this)->count(); }
std::string ComboBox::List(int index) const {
    return As<QComboBox>(*this)->itemData(index, kBytesRole).toByteArray().toStdString();
}
// The text as typed, or the item as added when the text is the one that item shows (the chosen item
// first, then the first item that shows it).
std::string ComboBox::Text() const {
    auto *cb = As<QComboBox>(*this);
    const QString shown = cb->currentText();
    int i = cb->currentIndex();
    if (i < 0 || cb->itemText(i) != shown) i = cb->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return i >= 0 ? List(i) : S(shown);
}
void ComboBox::SetText(const std::string &text) {
    auto *cb = As<QComboBox>(*this);
    const int i = ItemOfText(cb, text);
    if (i >= 0) cb->setCurrentIndex(i);
    cb->setEditText(i >= 0 ? cb->itemText(i) : Q(text));
}

// The bar's own range is the real one when it fits an int, else a scale of 10000 steps. It is
// redrawn at once (also while a handler keeps the thread) whenever the shown percentage moves.

void RescaleProgressBar(ControlState &s) {
    auto *bar = static_cast<QProgressBar *>(s.widget);
    const double span = s.pbMax - s.pbMin;
    const bool exact = s.pbMin == std::floor(s.pbMin) && s.pbMax == std::floor(s.pbMax) && span > 0 &&
                       span <= 10000 && std::fabs(s.pbMin) < 1e9 && std::fabs(s.pbMax) < 1e9;
    s.pbScale = exact ? 0 : 10000;
    if (exact) bar->setRange(static_cast<int>(s.pbMin), static_cast<int>(s.pbMax));
    else bar->setRange(0, s.pbScale);
    s.pbStep = -1;
}

double ProgressBar::Max() const { return impl_->pbMax; }
double ProgressBar::Value() const { return impl_->pbValue; }
void ProgressBar::SetMin(double v) {
    impl_->pbMin = v;
    RescaleProgressBar(*impl_);
    SetValue(std::max(impl_->pbValue, v));
}
void ProgressBar::SetMax(double v) {
    impl_->pbMax = v;
    RescaleProgressBar(*impl_);
    SetValue(std::min(impl_->pbValue, v));
}

// The widget is told only when the shown percentage moves, and then drawn once: Qt's own redraw on
// a change of value is held back (by the attribute itself: setUpdatesEnabled(true) would mark the whole
// bar dirty again) so that it does not come on top of ours. A bar that grows left to right with no text
// in it is drawn again only over the strip between the old and the new end of its fill, a few pixels
// wider on each side for the rounded end and its rim; anything else (a bar going back, a new range, text,
// another direction) is drawn whole.
void ProgressBar::SetValue(double v) {
    ControlState &s = *impl_;
    s.pbValue = v;
    const double span = s.pbMax - s.pbMin;
    const double frac = span > 0 ? std::clamp((v - s.pbMin) / span, 0.0, 1.0) : 0.0;
    const int step = static_cast<int>(frac * 100);
    if (step == s.pbStep) return;
    const bool rescaled = s.pbStep < 0;
    s.pbStep = step;
    auto *bar = static_cast<QProgressBar *>(s.widget);
    const int before = bar->value();
    const bool held = bar->testAttribute(Qt::WA_UpdatesDisabled);
    bar->setAttribute(Qt::WA_UpdatesDisabled, true);
    bar->setValue(s.pbScale ? static_cast<int>(std::lround(frac * s.pbScale))
                            : static_cast<int>(std::lround(std::clamp(v, s.pbMin, s.pbMax))));
    bar->setAttribute(Qt::WA_UpdatesDisabled, held);
    if (!bar->isVisible() || held) return;
    const int after = bar->value();
    const bool grows = !rescaled && after >= before && before >= bar->minimum() && !bar->isTextVisible() &&
                       bar->orientation() == Qt::Horizontal && !bar->invertedAppearance() &&
                       bar->layoutDirection() == Qt::LeftToRight;
    if (!grows) return bar->repaint();
    const double range = std::max(1.0, static_cast<double>(bar->maximum()) - bar->minimum());
    const auto end = [&](int value) { return static_cast<int>((value - bar->minimum()) * bar->width() / range); };
    constexpr int kRim = 6;
    bar->repaint(QRect(QPoint(end(before) - kRim, 0), QPoint(end(after) + kRim, bar->height() - 1)));
}

}  // namespace platform::ui
