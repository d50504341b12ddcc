// Control: what every control has, and the translation of focus and key events into its events.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcutEvent>

#include "platform/error.h"
#include "platform/ui/ui_private.h"

namespace platform::ui {

void Fire(const std::function<void()> &handler) {
    if (handler) Dispatch(handler);
}

namespace {

// On Linux Qt names a combo box by its text, so a screen reader announced the code list as " ALL CODES".
// A combo box given a name is announced by it (else by its text, as Qt does), its text as its value;
// its list and its text field are its children, as Qt's own have them.
class NamedComboBox : public QAccessibleWidget {
public:
    explicit NamedComboBox(QComboBox *w) : QAccessibleWidget(w, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && !combo()->accessibleName().isEmpty()) return combo()->accessibleName();
        if (t == QAccessible::Name || t == QAccessible::Value) return combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return combo()->lineEdit() ? 2 : 1; }
    QAccessibleInterface *child(int index) const override {
        QWidget *w = index == 0 ? static_cast<QWidget *>(combo()->view()) : index == 1 ? combo()->lineEdit() : nullptr;
        return w ? QAccessible::queryAccessibleInterface(w) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        if (child->object() == combo()->view()) return 0;
        return combo()->lineEdit() && child->object() == combo()->lineEdit() ? 1 : -1;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString &action) override {
        if (action == showMenuAction() || action == pressAction()) combo()->showPopup();
    }

private:
    QComboBox *combo() const { return static_cast<QComboBox *>(widget()); }
};

// Installed before the first form is made: an interface, once made for a widget, stays.
QAccessibleInterface *NamedComboBoxes(const QString &, QObject *object) {
    auto *combo = qobject_cast<QComboBox *>(object);
    return combo ? new NamedComboBox(combo) : nullptr;
}

}  // namespace

void NameComboBoxesForScreenReaders() { QAccessible::installFactory(NamedComboBoxes); }

Control::Control(Form &form, QWidget *widget, std::string name, int index, Rect geometry, int tabIndex)
    : impl_(std::make_unique<Impl>()) {
    impl_->form = &form;
    impl_->widget = widget;
    impl_->name = std::move(name);
    impl_->index = index;
    impl_->tabIndex = tabIndex;
    impl_->filter = new ControlFilter(*this);
    widget->setObjectName(Q(index < 0 ? impl_->name : impl_->name + "_" + std::to_string(index)));
    widget->setGeometry(Px(geometry.left), Px(geometry.top), Px(geometry.width), Px(geometry.height));
    widget->installEventFilter(impl_->filter);
}

Control::~Control() { delete impl_->filter; }

const std::string &Control::Name() const { return impl_->name; }
int Control::Index() const { return impl_->index; }
bool Control::Enabled() const { return impl_->widget->isEnabled(); }
void Control::SetEnabled(bool enabled) { impl_->widget->setEnabled(enabled); }
bool Control::Visible() const { return !impl_->widget->isHidden(); }
void Control::SetVisible(bool visible) { impl_->widget->setVisible(visible); }
void Control::SetToolTipText(const std::string &text) { impl_->widget->setToolTip(Q(text)); }
int Control::TabIndex() const { return impl_->tabIndex; }

void Control::SetAccessibleName(const std::string &name, const Label *describedBy) {
    impl_->widget->setAccessibleName(Q(name));
    if (auto *combo = qobject_cast<QComboBox *>(impl_->widget)) {
        combo->view()->setAccessibleName(Q(name));
        if (combo->lineEdit()) combo->lineEdit()->setAccessibleName(Q(name));
    }
    if (describedBy) static_cast<QLabel *>(describedBy->widget())->setBuddy(impl_->widget);
}
QWidget *Control::widget() const { return impl_->widget; }

void Control::SetFocus() {
    QWidget *w = impl_->widget;
    if (!w->isEnabled() || w->isHidden() || w->focusPolicy() == Qt::NoFocus)
        Raise(5, "Invalid procedure call or argument");
    w->setFocus(Qt::OtherFocusReason);
}

namespace {

// The character code of a key as a KeyPress event sees it, or -1 for keys that have none.
int KeyAscii(const QKeyEvent *e) {
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete: return -1;
    default: break;
    }
    const QString t = e->text();
    if (t.size() != 1) return -1;
    return t.at(0).unicode();
}

int QtKeyOf(int ascii) {
    if (ascii == 13) return Qt::Key_Return;
    if (ascii == 8) return Qt::Key_Backspace;
    if (ascii == 27) return Qt::Key_Escape;
    return QChar(static_cast<char16_t>(ascii)).toUpper().unicode();
}

}  // namespace

bool ControlFilter::eventFilter(QObject *obj, QEvent *e) {
    ControlState &c = UiAccess::of(control_);
    FormState &f = UiAccess::of(*c.form);
    switch (e->type()) {
    case QEvent::FocusIn: {
        obj->event(e);  // the widget takes the focus first (a line edit selects its text on Tab)
        if (f.focused != &control_ && f.loaded) {
            f.focused = &control_;
            Fire(control_.onGotFocus);
        }
        return true;
    }
    case QEvent::FocusOut: {
        const auto reason = static_cast<QFocusEvent *>(e)->reason();
        obj->event(e);
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return true;
        QWidget *now = QApplication::focusWidget();
        // Only a move to another control of the same form is a LostFocus (not a popup's list).
        if (f.focused != &control_ || !now || now->window() != c.widget->window() || !f.loaded) return true;
        f.focused = nullptr;
        Fire(control_.onLostFocus);
        return true;
    }
    case QEvent::KeyPress:
        return keyPress(obj, static_cast<QKeyEvent *>(e));
    case QEvent::Shortcut: {
        // An access key moves the focus to its button (the current control loses it) and clicks it,
        // unless the LostFocus handler kept the focus elsewhere.
        auto *b = qobject_cast<QAbstractButton *>(obj);
        if (!b || static_cast<QShortcutEvent *>(e)->isAmbiguous()) return false;
        if (b->focusPolicy() != Qt::NoFocus) b->setFocus(Qt::ShortcutFocusReason);
        if (!Ending() && b->isEnabled() && b->isVisible() && b->window()->focusWidget() == b) b->click();
        return true;
    }
    default:
        return false;
    }
}

bool ControlFilter::keyPress(QObject *obj, QKeyEvent *e) {
    ControlState &c = UiAccess::of(control_);
    if (c.resending) return false;
    if (e->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) return false;
    const int original = KeyAscii(e);
    if (original < 0) return false;
    int key = original;
    if (control_.onKeyPress) Dispatch([&] { control_.onKeyPress(key); });
    if (Ending() || key == 0) return true;
    if (key != original) {  // the handler replaced the key: deliver the new one instead
        QKeyEvent replaced(QEvent::KeyPress, QtKeyOf(key), Qt::NoModifier, QString(QChar(static_cast<char16_t>(key))));
        c.resending = true;
        QCoreApplication::sendEvent(obj, &replaced);
        c.resending = false;
        return true;
    }
    if (key == 13) {
        enterKey();
        return true;
    }
    return key == 27;  // Escape never reaches the dialog
}

void ControlFilter::enterKey() {
    ControlState &c = UiAccess::of(control_);
    if (auto *b = qobject_cast<QAbstractButton *>(c.widget)) {
        if (b->isEnabled()) b->click();
    } else if (dynamic_cast<DirListBox *>(&control_)) {
        OpenFolderItem(control_);
    }
}

}  // namespace platform::ui
