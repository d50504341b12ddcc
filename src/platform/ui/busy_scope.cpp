// BusyScope: input is swallowed and the display kept current while a handler keeps the thread.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>

#include <atomic>
#include <exception>
#include <thread>

#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace {
constexpr qint64 kPumpIntervalMs = 30;

int g_busy = 0;  // live BusyScopes

// Swallows the user's input to the forms; a message box or file dialog opened meanwhile still
// takes input, so it can be answered. Access keys and shortcuts reach a button as events that Qt
// sends itself (not spontaneous) after the key press was taken from the window system: they are
// swallowed whatever their origin, and a shortcut override is accepted so that no key press
// becomes a shortcut at all. The program's own posted keys pass.
class InputBlocker : public QObject {
public:
    bool eventFilter(QObject *obj, QEvent *e) override {
        if (!BelongsToForm(obj)) return false;
        switch (e->type()) {
        case QEvent::ShortcutOverride: e->accept(); return true;
        case QEvent::Shortcut:
        case QEvent::Close: return true;
        default: break;
        }
        if (!e->spontaneous()) return false;
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::InputMethod:
        case QEvent::Wheel:
        case QEvent::ContextMenu: return true;
        default: return false;
        }
    }
};
}  // namespace

bool Busy() { return g_busy > 0; }

struct BusyScope::Impl {
    InputBlocker blocker;
    QElapsedTimer sincePump;
    bool active = false;
};

BusyScope::BusyScope() : impl_(new Impl) {
    if (!qApp) return;
    impl_->active = true;
    ++g_busy;
    qApp->installEventFilter(&impl_->blocker);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    impl_->sincePump.start();
}

BusyScope::~BusyScope() {
    if (impl_->active) {
        QCoreApplication::processEvents();  // drain input that arrived meanwhile, still blocked
        qApp->removeEventFilter(&impl_->blocker);
        QApplication::restoreOverrideCursor();
        --g_busy;
    }
    delete impl_;
}

void BusyScope::Pump() {
    if (!impl_->active || impl_->sincePump.elapsed() < kPumpIntervalMs) return;
    QCoreApplication::processEvents();
    impl_->sincePump.restart();
}

void BusyScope::Run(const std::function<void()> &work) {
    if (!impl_->active) return work();
    std::exception_ptr failure;
    std::atomic<bool> done = false;
    QEventLoop waiting;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;  // before the wake-up: a quit that arrives before exec() is lost
        QMetaObject::invokeMethod(&waiting, [&waiting] { waiting.quit(); }, Qt::QueuedConnection);
    });
    QCoreApplication::processEvents();
    if (!done) waiting.exec();
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace platform::ui
