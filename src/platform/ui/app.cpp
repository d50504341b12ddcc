// The application: start, ending, the dispatcher with the last-resort error report, keys, events.
#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>
#include <iostream>
#include <vector>

#include "platform/error.h"
#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace {
bool g_ending = false;
int g_status = 0;
std::vector<std::string> g_args;  // argv[1..] of RunApplication
bool g_haveArgs = false;
bool g_inAppExec = false;  // RunApplication's event loop is running

void Report(int number, const std::string &description) {
    const std::string text = "Run-time error '" + std::to_string(number) + "':\n\n" + description;
    std::cerr << text << std::endl;
    MsgBox(text, vbCritical, kAppTitle);
    End(1);
}
}  // namespace

void Dispatch(const std::function<void()> &handler) {
    if (g_ending || !handler) return;
    // A handler is never entered again while it runs (an event delivered while it keeps the thread).
    static std::vector<const std::function<void()> *> running;
    if (std::find(running.begin(), running.end(), &handler) != running.end()) return;
    running.push_back(&handler);
    struct Leave {
        ~Leave() { running.pop_back(); }
    } leave;
    try {
        handler();
    } catch (const platform::Error &e) {
        if (!g_ending) Report(e.number, e.description);
    } catch (const std::exception &e) {
        if (!g_ending) Report(5, e.what());
    } catch (...) {
        if (!g_ending) Report(5, "Invalid procedure call or argument");
    }
}

void End(int status) {
    if (g_ending) return;
    g_ending = true;
    g_status = status;
    CloseAllFormsForEnd();  // their modal loops return
    // Only the utility's own loop is told to quit: outside it (tests) exit() would leave every later
    // event loop of the thread returning at once.
    if (g_inAppExec) QCoreApplication::exit(status);
}

bool Ending() { return g_ending; }
int EndStatus() { return g_status; }
void ResetEndingForTests() {
    g_ending = false;
    g_status = 0;
}

int RunApplication(int argc, char **argv, const std::function<void()> &startUp) {
    g_args.assign(argv + std::min(argc, 1), argv + argc);
    g_haveArgs = true;
    ResetEndingForTests();
    std::unique_ptr<QApplication> own;
    if (!QCoreApplication::instance()) own = std::make_unique<QApplication>(argc, argv);
    EnsureUiSetup();
    QTimer::singleShot(0, qApp, [&] {
        Dispatch(startUp);
        End(0);  // no effect when something already ended the utility
    });
    g_inAppExec = true;
    const int rc = QApplication::exec();
    g_inAppExec = false;
    return g_ending ? g_status : rc;
}

std::string Command() {
    std::vector<std::string> args = g_args;
    if (!g_haveArgs && QCoreApplication::instance()) {
        const QStringList all = QCoreApplication::arguments();
        for (qsizetype i = 1; i < all.size(); ++i) args.push_back(S(all[i]));
    }
    std::string out;
    for (const std::string &a : args) out += (out.empty() ? "" : " ") + a;
    return out;
}

void SendKeys(std::string_view keys) {
    QWidget *target = QApplication::focusWidget();
    if (!target) target = ActiveFormWindow();
    if (!target) return;
    auto post = [target](int key, const QString &text) {
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
    };
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys.substr(i, 5) == "{TAB}") {
            post(Qt::Key_Tab, "\t");
            i += 4;
        } else if (keys.substr(i, 7) == "{ENTER}" || keys[i] == '~') {
            post(Qt::Key_Return, "\r");
            if (keys[i] == '{') i += 6;
        } else {
            const QChar ch(static_cast<char16_t>(static_cast<unsigned char>(keys[i])));
            post(ch.toUpper().unicode(), QString(ch));
        }
    }
}

void DoEvents() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

}  // namespace platform::ui
