#pragma once
// Private to platform_ui: the Qt objects behind forms and controls.
#include <QDialog>
#include <QFont>
#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/app.h"
#include "platform/ui/forms.h"

namespace platform::ui {

inline QString Q(const std::string &s) { return QString::fromStdString(s); }
inline std::string S(const QString &s) { return s.toStdString(); }
inline int Px(int twips) { return qRound(twips / 15.0); }

// Font substitution and style; done once, before the first form or box.
void EnsureUiSetup();
QFont MakeFont(const FontSpec &spec);

class FormDialog;
class ControlFilter;

struct FormState {
    Form *form = nullptr;
    FontSpec font;
    FormDialog *dialog = nullptr;
    std::vector<std::unique_ptr<Control>> controls;
    bool loaded = false;
    bool tabOrderSet = false;
    Control *focused = nullptr;  // the control whose GotFocus ran last, until its LostFocus
};

struct ControlState {
    Form *form = nullptr;
    QWidget *widget = nullptr;
    std::string name;
    int index = -1;
    int tabIndex = 0;
    ControlFilter *filter = nullptr;
    bool resending = false;  // a replaced key is being delivered
    // Progress bar
    double pbMin = 0, pbMax = 100, pbValue = 0;
    int pbScale = 100, pbStep = -1;
    // Drive and folder lists
    std::string drive;
    std::string dirPath;
    std::vector<std::string> dirSubs;  // subfolders of dirPath as last listed
    // List view
    int listColumns = 0;
};

struct Form::Impl : FormState {};
struct Control::Impl : ControlState {};

// The one door to the private parts of Form and Control.
struct UiAccess {
    static FormState &of(const Form &f) { return *f.impl_; }
    static ControlState &of(const Control &c) { return *c.impl_; }
    static void load(Form &f) { f.Form_Load(); }
    static void unload(Form &f) { f.Form_Unload(); }
    // Makes `w` a control of the form, owned by it.
    template <class T>
    static T &adopt(Form &form, QWidget *w, const std::string &name, int index, Rect r, int tabIndex) {
        auto *c = new T(form, w, name, index, r, tabIndex);
        of(form).controls.emplace_back(c);
        return *c;
    }
};

// The form's window: a fixed-size dialog where Escape does nothing and every close is an Unload.
class FormDialog : public QDialog {
public:
    FormDialog(FormState &state, Qt::WindowFlags flags);
    FormState &state;
protected:
    void closeEvent(QCloseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
public:
    void reject() override;
};

// Turns the widget's focus and key events into the control's events.
class ControlFilter : public QObject {
public:
    explicit ControlFilter(Control &control) : control_(control) {}
    bool eventFilter(QObject *obj, QEvent *e) override;
private:
    bool keyPress(QObject *obj, QKeyEvent *e);
    void enterKey();
    Control &control_;
};

// Runs an event handler of a control, when set, inside Dispatch.
void Fire(const std::function<void()> &handler);
// Combo boxes announced by their accessible name, not by their text (control.cpp); before any is made.
void NameComboBoxesForScreenReaders();

// Form lifetime (form.cpp).
void LoadForm(FormState &f);
void UnloadForm(FormState &f);
void RunUnloadEvent(FormState &f);  // Form_Unload once, without closing the window
void PrepareShow(FormState &f);
// Hides every form without its Unload event (End).
void CloseAllFormsForEnd();
// The form window to own a box or dialog: the active one, else the newest visible form.
QWidget *ActiveFormWindow();

void RescaleProgressBar(ControlState &s);

// Whether an object is a form's window or a widget in one.
bool BelongsToForm(QObject *obj);
// Whether a BusyScope is alive.
bool Busy();

// Opens the folder a DirListBox shows (drive_dir.cpp).
void OpenFolderItem(Control &dirList);

}  // namespace platform::ui
