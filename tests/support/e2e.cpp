#include "support/e2e.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <stdexcept>

namespace qvtest {

namespace {

QStringList ToQt(const std::vector<std::string> &v) {
    QStringList l;
    for (auto &s : v) l << QString::fromStdString(s);
    return l;
}

}  // namespace

XSession::XSession() : xvfb_(std::make_unique<QProcess>()), wm_(std::make_unique<QProcess>()) {
    xvfb_->setProgram("Xvfb");
    xvfb_->setArguments({"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    xvfb_->start();
    if (!xvfb_->waitForStarted(10000)) throw std::runtime_error("Xvfb did not start");
    QElapsedTimer t;
    t.start();
    QByteArray out;
    while (!out.contains('\n') && t.elapsed() < 15000) {
        xvfb_->waitForReadyRead(500);
        out += xvfb_->readAllStandardOutput();
    }
    if (!out.contains('\n')) throw std::runtime_error("Xvfb gave no display number");
    display_ = ":" + out.trimmed().toStdString();

    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(display_));
    env.insert("XDG_CACHE_HOME", env.value("XDG_CONFIG_HOME"));  // its log goes to the run's own folder
    wm_->setProcessEnvironment(env);
    wm_->setProgram("openbox");
    wm_->setArguments({"--sm-disable"});
    wm_->start();
    wm_->waitForStarted(10000);
    // Give the window manager a moment to take over the screen.
    QThread::msleep(500);
}

XSession::~XSession() {
    for (auto *p : {wm_.get(), xvfb_.get()}) {
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
    }
}

std::string XSession::xdotool(const std::vector<std::string> &args) const {
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(display_));
    p.setProcessEnvironment(env);
    p.start("xdotool", ToQt(args));
    p.waitForFinished(15000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toStdString();
}

std::string XSession::waitForWindow(const std::string &title, int timeoutMs) const {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        std::string ids = xdotool({"search", "--onlyvisible", "--name", "^" + QRegularExpression::escape(
                                                                              QString::fromStdString(title))
                                                                              .toStdString() + "$"});
        if (!ids.empty()) return ids.substr(0, ids.find('\n'));
        QThread::msleep(100);
    }
    return {};
}

std::string XSession::window(const std::string &title, Program &program) const {
    const std::string id = waitForWindow(title);
    if (id.empty()) throw std::runtime_error("no window \"" + title + "\" came; the program said: " + program.errorOutput());
    return id;
}

bool XSession::showing(const std::string &title) const {
    return !xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}).empty();
}

bool XSession::answer(const std::string &title, const std::string &key) const {
    const std::string box = waitForWindow(title);
    if (!box.empty()) keys(box, {key});
    return !box.empty();
}

// Activates the window and makes sure it still has the focus: a window mapped meanwhile (the copier's
// terminal) may take it between the activation and the key.
void XSession::activate(const std::string &windowId) const {
    for (int i = 0; i < 20; ++i) {
        xdotool({"windowactivate", "--sync", windowId});
        QThread::msleep(50);
        if (xdotool({"getactivewindow"}) == windowId) return;
    }
}

void XSession::keys(const std::string &windowId, const std::vector<std::string> &keys) const {
    activate(windowId);
    for (auto &k : keys) {
        xdotool({"key", "--clearmodifiers", k});
        QThread::msleep(150);
    }
}

void XSession::type(const std::string &windowId, const std::string &text) const {
    activate(windowId);
    xdotool({"type", "--delay", "30", text});
    QThread::msleep(100);
}

Program::Program(const std::filesystem::path &exe, const std::vector<std::string> &args,
                 const std::map<std::string, std::string> &env, const std::filesystem::path &cwd)
    : p_(std::make_unique<QProcess>()) {
    auto e = QProcessEnvironment::systemEnvironment();
    for (auto &[k, v] : env) e.insert(QString::fromStdString(k), QString::fromStdString(v));
    p_->setProcessEnvironment(e);
    if (!cwd.empty()) p_->setWorkingDirectory(QString::fromStdString(cwd.string()));
    p_->start(QString::fromStdString(exe.string()), ToQt(args));
    if (!p_->waitForStarted(10000)) throw std::runtime_error("cannot start " + exe.string());
}

Program::~Program() {
    if (p_->state() != QProcess::NotRunning) {
        p_->kill();
        p_->waitForFinished(3000);
    }
}

std::optional<int> Program::wait(int timeoutMs) {
    if (p_->state() != QProcess::NotRunning && !p_->waitForFinished(timeoutMs)) return std::nullopt;
    if (p_->exitStatus() != QProcess::NormalExit) return -1;
    return p_->exitCode();
}

bool Program::running() const { return p_->state() != QProcess::NotRunning; }
void Program::terminate() { p_->terminate(); }
void Program::kill() { p_->kill(); }

std::string Program::errorOutput() { return QString::fromUtf8(p_->readAllStandardError()).toStdString(); }
std::string Program::output() { return QString::fromUtf8(p_->readAllStandardOutput()).toStdString(); }

void StartCorrection(const XSession &x, const std::string &w, const std::string &bill, const std::string &found,
                     const std::string &to) {
    x.keys(w, {"Return"});  // Enter in the code list moves on to the bill date
    for (const auto &[text, box] : {std::pair{bill, found}, {std::string("all"), found}, {to, std::string("NO RECORDS FOUND")}}) {
        x.type(w, text);
        x.keys(w, {"Return"});
        if (!x.answer(box)) throw std::runtime_error("no box \"" + box + "\" after " + text);  // the box leaving a field shows
    }
    x.keys(w, {"alt+c"});
}

std::string ListAndRestore(const XSession &x, Program &program, const std::string &copy) {
    const std::string w = x.window("Restore Auto-Copy Database Files", program);
    x.keys(w, {"Tab", "space"});  // focus starts on Exit (Restore is off); Tab reaches the list button
    const std::string dialog = x.window("Locate Auto-Copy Database File", program);
    x.type(dialog, copy);
    x.keys(dialog, {"Return"});
    x.keys(w, {"alt+r"});
    return w;
}

void FinishAndExit(const XSession &x, Program &program, const std::string &w) {
    if (!x.answer("FINISHED")) throw std::runtime_error("no FINISHED box; the program said: " + program.errorOutput());
    x.keys(w, {"alt+x"});
    if (program.wait() != std::optional<int>(0)) throw std::runtime_error("no end with status 0: " + program.errorOutput());
}

Ran RunToEnd(const std::filesystem::path &exe, std::vector<std::string> args, const std::string &login,
             const std::filesystem::path &cwd) {
    if (!login.empty()) args.insert(args.begin(), {"--reuid=" + login, "--regid=nogroup", "--clear-groups", exe.string()});
    Program p(login.empty() ? exe : "setpriv", args, {}, cwd);
    const auto status = p.wait(120000);
    return {status.value_or(-1), p.output(), p.errorOutput()};
}

std::map<std::string, std::string> QvutilEnv(const XSession *session, const std::string &drives) {
    std::map<std::string, std::string> env{{"QUORVANT_DRIVES", drives}};
    if (session) {
        env["DISPLAY"] = session->display();
        env["QT_QPA_PLATFORM"] = "xcb";
    } else {
        env["QT_QPA_PLATFORM"] = "offscreen";
    }
    return env;
}

}  // namespace qvtest
