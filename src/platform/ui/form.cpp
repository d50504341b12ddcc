// Form: a fixed-size dialog in twips, loaded once, unloaded once on any close.
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QStyleFactory>
#include <QWindow>
#include <algorithm>

#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace {
std::vector<FormState *> &Registry() {
    static std::vector<FormState *> forms;
    return forms;
}
}  // namespace

void EnsureUiSetup() {
    static bool done = false;
    if (done || !qApp) return;
    done = true;
    // Pinned so the designed widths hold whatever the machine's default sans-serif font is.
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    if (auto *fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
    NameComboBoxesForScreenReaders();
}

QFont MakeFont(const FontSpec &spec) {
    QFont f(Q(spec.name));
    f.setPointSizeF(spec.points);
    f.setBold(spec.bold);
    return f;
}

FormDialog::FormDialog(FormState &s, Qt::WindowFlags flags) : QDialog(nullptr, flags), state(s) {}

void FormDialog::closeEvent(QCloseEvent *e) {
    RunUnloadEvent(state);
    QDialog::closeEvent(e);
}

void FormDialog::keyPressEvent(QKeyEvent *e) {
    if (e->key() == Qt::Key_Escape) {  // a form is never closed by Escape
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void FormDialog::reject() {
    RunUnloadEvent(state);
    QDialog::reject();
}

void LoadForm(FormState &f) {
    if (f.loaded) return;
    f.loaded = true;
    Dispatch([&] { UiAccess::load(*f.form); });
}

void RunUnloadEvent(FormState &f) {
    f.focused = nullptr;
    if (!f.loaded) return;
    f.loaded = false;  // before the handler: a close from inside it does not unload twice
    Dispatch([&] { UiAccess::unload(*f.form); });
}

void UnloadForm(FormState &f) {
    RunUnloadEvent(f);
    if (f.dialog->isVisible()) f.dialog->done(QDialog::Rejected);
}

void PrepareShow(FormState &f) {
    std::vector<Control *> order;
    for (auto &c : f.controls)
        if (c->widget()->focusPolicy() != Qt::NoFocus) order.push_back(c.get());
    std::stable_sort(order.begin(), order.end(),
                     [](Control *a, Control *b) { return a->TabIndex() < b->TabIndex(); });
    if (!f.tabOrderSet) {
        for (size_t i = 1; i < order.size(); ++i)
            QWidget::setTabOrder(order[i - 1]->widget(), order[i]->widget());
        f.tabOrderSet = true;
    }
    for (Control *c : order) {
        if (c->widget()->isEnabled() && !c->widget()->isHidden()) {
            c->widget()->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
}

void CloseAllFormsForEnd() {
    for (FormState *f : Registry()) {
        f->loaded = false;
        f->focused = nullptr;
        if (f->dialog->isVisible()) f->dialog->hide();  // ends a modal exec() without a close event
    }
}

bool BelongsToForm(QObject *obj) {
    const QWidget *top = nullptr;
    if (auto *w = qobject_cast<QWidget *>(obj)) top = w->window();
    for (FormState *f : Registry()) {
        if (top ? top == f->dialog : obj == f->dialog->windowHandle()) return true;
    }
    return false;
}

QWidget *ActiveFormWindow() {
    QWidget *active = QApplication::activeWindow();
    for (FormState *f : Registry())
        if (f->dialog == active) return active;
    for (auto it = Registry().rbegin(); it != Registry().rend(); ++it)
        if ((*it)->dialog->isVisible()) return (*it)->dialog;
    return nullptr;
}

Form::Form(std::string name, std::string caption, int clientWidthTwips, int clientHeightTwips,
           FontSpec font, bool toolWindow)
    : impl_(std::make_unique<Impl>()) {
    EnsureUiSetup();
    impl_->form = this;
    impl_->font = font;
    // A tool window keeps the ordinary dialog frame: Qt::Tool windows leave the taskbar and, without
    // an owner, may stay hidden behind other windows on some desktops.
    (void)toolWindow;
    Qt::WindowFlags flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
    impl_->dialog = new FormDialog(*impl_, flags);
    impl_->dialog->setObjectName(Q(name));
    impl_->dialog->setWindowTitle(Q(caption));
    impl_->dialog->setFixedSize(Px(clientWidthTwips), Px(clientHeightTwips));
    impl_->dialog->setFont(MakeFont(font));
    impl_->dialog->setSizeGripEnabled(false);
    Registry().push_back(impl_.get());
}

Form::~Form() {
    auto &r = Registry();
    r.erase(std::remove(r.begin(), r.end(), impl_.get()), r.end());
    impl_->focused = nullptr;
    impl_->controls.clear();  // their event filters go first, so the widgets' deletion fires nothing
    delete impl_->dialog;
}

void Form::ShowModal() {
    if (Ending()) return;
    LoadForm(*impl_);
    if (Ending() || !impl_->loaded) return;  // Form_Load failed or unloaded the form
    PrepareShow(*impl_);
    impl_->dialog->setModal(true);
    impl_->dialog->exec();
}

void Form::Show() {
    if (Ending()) return;
    LoadForm(*impl_);
    if (Ending() || !impl_->loaded) return;
    PrepareShow(*impl_);
    impl_->dialog->show();
    impl_->dialog->activateWindow();
}

void Form::Unload() { UnloadForm(*impl_); }
bool Form::IsLoaded() const { return impl_->loaded; }
bool Form::IsVisible() const { return impl_->dialog->isVisible(); }
QWidget *Form::widget() const { return impl_->dialog; }

std::vector<Control *> Form::Controls() const {
    std::vector<Control *> out;
    for (auto &c : impl_->controls) out.push_back(c.get());
    return out;
}

Control *Form::ActiveControl() const {
    QWidget *fw = impl_->dialog->focusWidget();
    for (auto &c : impl_->controls)
        if (fw && (fw == c->widget() || c->widget()->isAncestorOf(fw))) return c.get();
    return nullptr;
}

}  // namespace platform::ui
