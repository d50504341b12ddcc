#pragma once
// End-to-end support: a real X server (Xvfb) with a window manager (openbox), xdotool to press keys,
// and the installed qvutil started as a user would start it.
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QProcess;

namespace qvtest {

class Program;

class XSession {
public:
    XSession();  // starts Xvfb on a free display and openbox on it; throws std::runtime_error on failure
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    const std::string &display() const { return display_; }  // ":N"
    // Runs xdotool with these arguments on this display; returns its standard output, trimmed.
    std::string xdotool(const std::vector<std::string> &args) const;
    // Waits until a visible window has exactly this title; returns its id, or "" on time-out.
    std::string waitForWindow(const std::string &title, int timeoutMs = 20000) const;
    // The same, but a window that never came ends the test, naming it and what `program` said on standard error.
    std::string window(const std::string &title, Program &program) const;
    // Whether a visible window has exactly this title now.
    bool showing(const std::string &title) const;
    // Waits for the box with this title and answers it with Enter (or `key`); false when none came.
    bool answer(const std::string &title, const std::string &key = "Return") const;
    // Activates a window and sends keys to it ("Return", "Tab", "alt+c", ...), one xdotool call each.
    void activate(const std::string &windowId) const;
    void keys(const std::string &windowId, const std::vector<std::string> &keys) const;
    // Types text into the focused control of a window.
    void type(const std::string &windowId, const std::string &text) const;

private:
    std::unique_ptr<QProcess> xvfb_;
    std::unique_ptr<QProcess> wm_;
    std::string display_;
};

// A started program; killed when destroyed if still running.
class Program {
public:
    Program(const std::filesystem::path &exe, const std::vector<std::string> &args,
            const std::map<std::string, std::string> &env, const std::filesystem::path &cwd = {});
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;
    // The exit status, or nullopt when it has not ended within the time.
    std::optional<int> wait(int timeoutMs = 20000);
    bool running() const;
    void terminate();           // SIGTERM
    void kill();                // SIGKILL
    std::string errorOutput();  // standard error so far
    std::string output();       // standard output so far

private:
    std::unique_ptr<QProcess> p_;
};

// By the keyboard alone, in the read-date window `w`: the first code, bill date `bill` and every read date
// (each count box says `found`), the new read date `to` (NO RECORDS FOUND), then Continue. A box that
// never came ends the test.
void StartCorrection(const XSession &x, const std::string &w, const std::string &bill, const std::string &found,
                     const std::string &to);
// By the keyboard alone: the restore window of `program` lists `copy` (a name typed into the file dialog,
// relative to the automatic copies' folder) and Restore is pressed; the window's id.
std::string ListAndRestore(const XSession &x, Program &program, const std::string &copy);

// Answers the FINISHED box over window `w` of `program` and leaves the window by Exit (Alt+X); a box that
// never came, or a program that did not then end with status 0, ends the test.
void FinishAndExit(const XSession &x, Program &program, const std::string &w);

// Whether `text` (what a program said) holds `part`; a failure shows the whole text.
inline ::testing::AssertionResult Holds(const std::string &text, const std::string &part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

// A program run to its end: its status (-1 when it did not end within two minutes) and what it said.
struct Ran {
    int status = -1;
    std::string out, err;
};
// Runs `exe` with `args` to its end, in `cwd` when given; as the login `login` of the group nogroup when
// given (the caller is root).
Ran RunToEnd(const std::filesystem::path &exe, std::vector<std::string> args, const std::string &login = {},
             const std::filesystem::path &cwd = {});

// Environment for qvutil on a session: DISPLAY, QT_QPA_PLATFORM=xcb, QUORVANT_DRIVES.
std::map<std::string, std::string> QvutilEnv(const XSession *session, const std::string &drives);

}  // namespace qvtest
