#pragma once
// The application: start, message boxes, keys, ending, the last-resort error report, test seams.
#include <functional>
#include <string>
#include <string_view>

namespace platform::ui {

inline constexpr const char *kAppTitle = "Quorvant 32 Utilities";

// Message box styles (buttons, icon and default button added together) and the answers.
enum MsgBoxStyle {
    vbOKOnly = 0, vbYesNo = 4, vbCritical = 16, vbQuestion = 32, vbExclamation = 48, vbInformation = 64,
    vbDefaultButton2 = 256
};
inline constexpr int vbOK = 1, vbYes = 6, vbNo = 7;

// One modal message box with an OK button, or Yes and No (vbYesNo: Escape and the close box answer No);
// an empty title shows kAppTitle. After it closes the active form is re-activated. Returns the answer
// (vbOK, vbYes or vbNo; 0 once the utility is ending).
int MsgBox(const std::string &prompt, int style = vbOKOnly, const std::string &title = {});

struct MsgBoxRecord {
    std::string prompt;
    int style;
    std::string title;  // as shown (kAppTitle for an empty one)
};
// Tests: answer every box through `responder` (which records it) instead of showing it;
// an empty function restores the real boxes.
void SetMsgBoxResponderForTests(std::function<int(const MsgBoxRecord &)> responder);

// Tests: answer every file-open dialog through `chooser`, which gets the dialog's title and initial
// folder and returns the chosen file's full Windows path, or "" for Cancel.
void SetFileDialogChooserForTests(
    std::function<std::string(const std::string &title, const std::string &initDir)> chooser);

// Runs the utility: creates the application, runs `startUp` inside the event loop under Dispatch,
// and returns the exit status when the utility ends. Without a display the window system cannot
// start: one line on standard error says so and the process ends with status 1.
int RunApplication(int argc, char **argv, const std::function<void()> &startUp);

// Sends the platform's detail and warnings (LogDetail, LogWarning) through Qt's logging, under their
// categories: QT_LOGGING_RULES="qvutil.*=true" shows the detail.
void LogThroughQt();

// Names the running tool for the desktop after its keyword: the desktop file "qvutil-<keyword>"
// (lower case), so that its windows are matched to its launcher, and the icon of that name.
void SetToolIdentity(const std::string &keyword);

// The command line's argument text: the arguments after the program's name, joined by one blank
// each (an empty argument still counts: "" and RAC give " RAC").
std::string Command();
// The same for arguments not yet handed to RunApplication.
std::string ArgumentText(int argc, char **argv);

// Ends the utility: no further window events run, every form's modal show returns, files are
// flushed, RunApplication returns `status`. Code after a call to End() must return at once.
void End(int status = 0);
bool Ending();
int EndStatus();
void ResetEndingForTests();

// Runs one event handler. An error that leaves it shows the critical box titled kAppTitle reading
// "Run-time error '<number>':\n\n<description>", writes the same to standard error, and ends the
// utility with status 1. Nothing ever propagates into the event loop.
void Dispatch(const std::function<void()> &handler);

// Posts keys to the focused control and returns at once. Only "{TAB}" is needed.
void SendKeys(std::string_view keys);

// Lets the window system process pending events once.
void DoEvents();

// While alive: user input to every window is swallowed and a wait cursor shows; Pump() keeps the
// display current (cheap enough to call once per record).
class BusyScope {
public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;
    void Pump();
    // Runs `work`, which must not touch any window, on a thread of its own and keeps the display
    // current until it returns; what it throws is thrown here.
    void Run(const std::function<void()> &work);
private:
    struct Impl;
    Impl *impl_;
};

}  // namespace platform::ui
