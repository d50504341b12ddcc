#pragma once
// Forms and controls on Qt Widgets, with the events the tool windows handle.
//
// Positions and sizes are twips (15 a pixel at 96 DPI). Every event handler runs inside Dispatch():
// an error that leaves it goes to the last-resort report.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;  // for tests and the platform's own code only

namespace platform::ui {

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;  // twips
};

struct FontSpec {
    std::string name = "MS Sans Serif";
    double points = 8.25;
    bool bold = true;
};

class Form;

// What every control has. The on* members are the control's events; the form assigns its handlers
// to them (for example `txt[i]->onLostFocus = [this, i] { txt_LostFocus(i); };`).
class Control {
public:
    virtual ~Control();
    const std::string &Name() const;
    int Index() const;  // index within its control array, -1 when not in one
    bool Enabled() const;
    void SetEnabled(bool enabled);
    bool Visible() const;
    void SetVisible(bool visible);
    void SetToolTipText(const std::string &text);
    int TabIndex() const;
    // The name a screen reader announces for the control ("BILL DATE"), and the label on the form
    // that describes it (a screen reader reads its caption too).
    void SetAccessibleName(const std::string &name, const class Label *describedBy = nullptr);
    void SetFocus();
    QWidget *widget() const;

    std::function<void()> onClick;
    std::function<void()> onChange;
    std::function<void()> onGotFocus;
    // Focus moved to another control of the same form (not a message box opening, not a popup).
    std::function<void()> onLostFocus;
    // A character key; the handler may set the key code to 0 to swallow it. Enter is 13.
    std::function<void(int &keyAscii)> onKeyPress;

protected:
    Control(Form &form, QWidget *widget, std::string name, int index, Rect geometry, int tabIndex);
    struct Impl;
    std::unique_ptr<Impl> impl_;
    friend class Form;
    friend struct UiAccess;
};

class Label : public Control {
public:
    using Control::Control;
    std::string Caption() const;
    void SetCaption(const std::string &caption);  // words wrap within the label
};

class TextBox : public Control {
public:
    using Control::Control;
    std::string Text() const;
    void SetText(const std::string &text);
    int SelStart() const;
    void SetSelStart(int start);
    void SetSelLength(int length);
    // A locked field shows its text and takes the focus, but typing does not change it.
    void SetLocked(bool locked);
};

class CommandButton : public Control {
public:
    using Control::Control;
    void Press();  // as a click by the user, when enabled
};

// A drop-down combo box (editable text with a list).
class ComboBox : public Control {
public:
    using Control::Control;
    void AddItem(const std::string &item);
    void Clear();
    int ListCount() const;
    std::string List(int index) const;
    std::string Text() const;
    void SetText(const std::string &text);
};

class ProgressBar : public Control {
public:
    using Control::Control;
    double Max() const;
    double Value() const;
    void SetMin(double v);
    void SetMax(double v);
    // Shows on screen at once, also while the handler keeps the thread, redrawing at most when the
    // shown position moves (about every 1 %).
    void SetValue(double v);
};

class Line : public Control {
public:
    using Control::Control;
};

// The drives of the drive map; Drive() is "c:" style (lower-case letter and colon).
class DriveListBox : public Control {
public:
    using Control::Control;
    std::string Drive() const;
    void SetDrive(const std::string &drive);  // fires onChange when it changes
};

// A folder tree of one drive: the chain of folders down to the current one, and its subfolders.
// Double-click or Enter on a folder opens it (it becomes Path() and onChange fires).
class DirListBox : public Control {
public:
    using Control::Control;
    // A folder that the user opens but that cannot be opened (gone meanwhile, a name that no Windows
    // path reaches) goes to this handler, with its path and the reason, instead of the last-resort
    // report; the list stays on Path().
    std::function<void(const std::string &folder, const std::string &reason)> onOpenFailed;
    std::string Path() const;  // Windows path: "E:\" for a root, else without trailing backslash
    // Opens a folder; raises 68 for an unmapped drive, 76 for a missing folder. A bare drive ("e:")
    // opens that drive's current folder.
    void SetPath(const std::string &path);
    int ListCount() const;           // subfolders of the current folder
    std::string List(int index) const;  // -1 current folder, -2 its parent..., 0..n-1 subfolders
};

// Rows of texts under column headers (a list view in report view), one row chosen at a time: by the
// arrow keys, Home, End, Page Up and Down, or a click (which fires onClick).
class ListView : public Control {
public:
    using Control::Control;
    // The next column: its header's caption and its width; a right-aligned one for numbers.
    void AddColumn(const std::string &caption, int widthTwips, bool rightAligned = false);
    void AddItem(const std::vector<std::string> &texts);  // one text per column
    void Clear();
    int ListCount() const;
    std::string ItemText(int row, int column) const;
    int ListIndex() const;          // the chosen row; -1 when none is chosen
    void SetListIndex(int index);   // chooses the row and scrolls it into view; -1 chooses none
};

// The file-open dialog (not a control of the window).
class CommonDialog {
public:
    std::string DialogTitle;
    std::string InitDir;   // Windows path
    std::string Filter;    // empty: every file
    std::string Hidden;    // wildcard patterns, ";" between them, of files the dialog does not offer
    std::string FileName;  // after ShowOpen: the chosen file's full Windows path ("" when cancelled; its
                           // Linux path when it lies on no mapped drive)
    std::string FileTitle; // after ShowOpen: the chosen file's name without its folder
    // Shows the modal file-open dialog; leaves FileName/FileTitle as they were when cancelled.
    void ShowOpen();
};

class Form {
public:
    Form(std::string name, std::string caption, int clientWidthTwips, int clientHeightTwips,
         FontSpec font = {}, bool toolWindow = false);
    virtual ~Form();
    Form(const Form &) = delete;
    Form &operator=(const Form &) = delete;

    // Loads the form (Form_Load, once) and shows it modally, centred; returns when it is closed or hidden.
    void ShowModal();
    // Tests: loads and shows the form without waiting for it.
    void Show();
    // Closes the form; Form_Unload runs once, whatever closes it (this, or the window's close box).
    void Unload();
    bool IsLoaded() const;
    bool IsVisible() const;
    // Every control of the form, in creation order.
    std::vector<Control *> Controls() const;
    Control *ActiveControl() const;
    QWidget *widget() const;

protected:
    virtual void Form_Load() {}
    virtual void Form_Unload() {}

    // Controls are created in the constructor of the derived form and owned by the form.
    // index -1: not in a control array. font: the form's font when not given.
    Label &AddLabel(const std::string &name, int index, Rect r, const std::string &caption,
                    int tabIndex, std::optional<FontSpec> font = {});
    TextBox &AddTextBox(const std::string &name, int index, Rect r, int tabIndex,
                        std::optional<FontSpec> font = {});
    CommandButton &AddButton(const std::string &name, int index, Rect r, const std::string &caption,
                             int tabIndex, std::optional<FontSpec> font = {});
    ComboBox &AddComboBox(const std::string &name, Rect r, int tabIndex, std::optional<FontSpec> font = {});
    ProgressBar &AddProgressBar(const std::string &name, Rect r, int tabIndex);
    Line &AddLine(const std::string &name, int x1, int y1, int x2, int y2);
    DriveListBox &AddDriveListBox(const std::string &name, Rect r, int tabIndex,
                                  std::optional<FontSpec> font = {});
    DirListBox &AddDirListBox(const std::string &name, Rect r, int tabIndex,
                              std::optional<FontSpec> font = {});
    ListView &AddListView(const std::string &name, Rect r, int tabIndex, std::optional<FontSpec> font = {});

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    friend class Control;
    friend struct UiAccess;
};

}  // namespace platform::ui
