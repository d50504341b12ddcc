// The application: start, ending, the dispatcher with the last-resort error report, keys, events.
#include <QApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/ui_private.h"

Q_LOGGING_CATEGORY(lcStartup, platform::kStartupLog, QtInfoMsg)
Q_LOGGING_CATEGORY(lcConfig, platform::kConfigLog, QtInfoMsg)

namespace platform::ui {

namespace {
const QLoggingCategory &Category(const char *name) {
    return std::strcmp(name, platform::kConfigLog) == 0 ? lcConfig() : lcStartup();
}

bool g_ending = false;
int g_status = 0;
std::vector<std::string> g_args;  // argv[1..] of RunApplication
bool g_haveArgs = false;
bool g_inAppExec = false;  // RunApplication's event loop is running

std::string Join(const std::vector<std::string> &args) {
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) out += (i == 0 ? "" : " ") + args[i];
    return out;
}

// Messages of the window system while the application is created; a fatal one (no display) ends the
// process with one line of its own instead of Qt's messages and an abort.
std::string g_programName;
std::vector<QString> g_startMessages;

void HoldStartMessage(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (type != QtFatalMsg) {
        g_startMessages.push_back(qFormatLogMessage(type, context, message));
        return;
    }
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    const char *display = std::getenv("DISPLAY");
    std::string reason;
    if (platform && *platform && std::string_view(platform).substr(0, 3) != "xcb")
        reason = "the window system \"" + std::string(platform) + "\" cannot start";
    else if (!display || !*display)
        reason = "DISPLAY is not set";
    else
        reason = "the display " + std::string(display) + " cannot be reached";
    std::cerr << g_programName << ": no display to show the window on (" << reason << ")" << std::endl;
    std::_Exit(1);
}

std::unique_ptr<QApplication> CreateApplication(int &argc, char **argv) {
    g_programName = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "qvutil";
    const QtMessageHandler previous = qInstallMessageHandler(HoldStartMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString &m : g_startMessages) std::cerr << m.toStdString() << std::endl;
    g_startMessages.clear();
    return app;
}

void Report(int number, const std::string &description) {
    const std::string text = "Run-time error '" + std::to_string(number) + "':\n\n" + description;
    std::cerr << text << std::endl;
    platform::LogEvent(text, true);
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
        if (!g_ending) Report(e.number, platform::Message(e));
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
    QCoreApplication::setApplicationName("qvutil");
    QCoreApplication::setApplicationVersion(platform::Version());
    std::unique_ptr<QApplication> own;
    if (!QCoreApplication::instance()) own = CreateApplication(argc, argv);
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

void LogThroughQt() {
    SetLogSink({[](const char *category) { return Category(category).isDebugEnabled(); },
                [](const char *category, bool warning, const std::string &text) {
                    if (warning)
                        qCWarning(Category(category)).noquote() << text.c_str();
                    else
                        qCDebug(Category(category)).noquote() << text.c_str();
                }});
}

void SetToolIdentity(const std::string &keyword) {
    const QString id = "qvutil-" + Q(keyword).toLower();
    QCoreApplication::setApplicationName(id);  // on X the class of the windows (WM_CLASS)
    QGuiApplication::setDesktopFileName(id);
    if (QCoreApplication::instance()) QApplication::setWindowIcon(QIcon::fromTheme(id));
}

std::string Command() {
    std::vector<std::string> args = g_args;
    if (!g_haveArgs && QCoreApplication::instance()) {
        const QStringList all = QCoreApplication::arguments();
        for (qsizetype i = 1; i < all.size(); ++i) args.push_back(S(all[i]));
    }
    return Join(args);
}

std::string ArgumentText(int argc, char **argv) {
    return Join(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
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
