// Start-up: qvutil started as a process, timed from its start to its tool window shown (mapped on an X
// server of its own, a bare Xvfb), against the same process with a keyword that names no tool, which
// runs every start-up step but the window and ends. The installation is the large one of readings.h:
// 1,000,000 readings (size) and a 50,000-account selection.
//
//   bench_startup [--pairs N] [--size N] [FRD|QBU|RAC]
//
// After the timing the window is closed as the window manager closes it (WM_DELETE_WINDOW) and the
// process must end with status 0; for FRD the selection lock table must be full while the window shows.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QProcess>

#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "pairs.h"
#include "readings.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"

namespace {

namespace fs = std::filesystem;

// An X server without a window manager: top-level windows are mapped as children of the root.
class BareX {
public:
    BareX() {
        xvfb_.setProgram("Xvfb");
        xvfb_.setArguments({"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        xvfb_.start();
        if (!xvfb_.waitForStarted(10000)) throw std::runtime_error("Xvfb did not start");
        QByteArray out;
        while (!out.contains('\n') && xvfb_.waitForReadyRead(10000)) out += xvfb_.readAllStandardOutput();
        if (!out.contains('\n')) throw std::runtime_error("Xvfb gave no display number");
        display_ = ":" + out.trimmed().toStdString();
        conn_ = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(conn_)) throw std::runtime_error("cannot connect to " + display_);
        root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(conn_, root_, XCB_CW_EVENT_MASK, &mask);
        netWmName_ = Atom("_NET_WM_NAME");
        protocols_ = Atom("WM_PROTOCOLS");
        deleteWindow_ = Atom("WM_DELETE_WINDOW");
        xcb_flush(conn_);
    }
    ~BareX() {
        xcb_disconnect(conn_);
        xvfb_.kill();
        xvfb_.waitForFinished(5000);
    }
    const std::string &display() const { return display_; }

    // Waits until a window titled `title` is mapped; returns it, or 0 when `pid` ended first or after 30 s.
    xcb_window_t WaitForMapped(const std::string &title, pid_t pid) {
        const double until = bench::Now() + 30;
        while (bench::Now() < until) {
            while (xcb_generic_event_t *e = xcb_poll_for_event(conn_)) {
                const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
                const xcb_window_t w = mapped ? reinterpret_cast<xcb_map_notify_event_t *>(e)->window : 0;
                free(e);
                if (mapped && Title(w) == title) return w;
            }
            if (Ended(pid)) return 0;
            pollfd p{xcb_get_file_descriptor(conn_), POLLIN, 0};
            ::poll(&p, 1, 50);
        }
        return 0;
    }

    // Asks the window to close, as a window manager's close button does.
    void Close(xcb_window_t w) {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = protocols_;
        ev.data.data32[0] = deleteWindow_;
        ev.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(conn_, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&ev));
        xcb_flush(conn_);
    }

    // True once the process has ended (it is left to be reaped by its parent).
    static bool Ended(pid_t pid) {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
    }

private:
    xcb_atom_t Atom(const char *name) {
        auto *r = xcb_intern_atom_reply(conn_, xcb_intern_atom(conn_, 0, static_cast<uint16_t>(std::strlen(name)), name),
                                        nullptr);
        const xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        free(r);
        return a;
    }
    std::string Title(xcb_window_t w) {
        for (xcb_atom_t property : {netWmName_, static_cast<xcb_atom_t>(XCB_ATOM_WM_NAME)}) {
            auto *r = xcb_get_property_reply(conn_, xcb_get_property(conn_, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                                             nullptr);
            std::string t;
            if (r) t.assign(static_cast<const char *>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
            free(r);
            if (!t.empty()) return t;
        }
        return {};
    }

    QProcess xvfb_;
    std::string display_;
    xcb_connection_t *conn_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t netWmName_ = 0, protocols_ = 0, deleteWindow_ = 0;
};

struct Fixture {
    qvtest::TempDrives drives{"CE"};
    bench::ReadingsLayout layout;
    qvtest::Installation inst;
    BareX x;
    std::map<std::string, std::string> env;

    explicit Fixture(const bench::ReadingsLayout &l) : layout(l) {
        inst = bench::LayOutReadings(drives.folder('C'), layout, true);
        env = {{"QUORVANT_DRIVES", drives.spec()}, {"DISPLAY", x.display()}, {"QT_QPA_PLATFORM", "xcb"}};
    }
};

bench::Comparison Startup(const std::string &keyword, const std::string &title, long size) {
    auto fx = std::make_shared<Fixture>(bench::ReadingsLayout{size / 10, size / 20, 5});
    auto status = std::make_shared<int>(-1);
    auto lockRows = std::make_shared<long long>(-1);

    bench::Side a{"qvutil " + keyword + " to its window shown", [=](bench::Probe &probe) {
                      const bench::ChildResult r =
                          bench::Spawn({fx->inst.qvutil.string(), keyword}, fx->env, [&](pid_t pid) {
                              const xcb_window_t w = fx->x.WaitForMapped(title, pid);
                              probe.Stop();
                              if (!w) {
                                  if (!BareX::Ended(pid)) ::kill(pid, SIGKILL);
                                  return;
                              }
                              if (keyword == "FRD")
                                  *lockRows = qvtest::SqlFile(fx->inst.dataDb).count("select count(*) from FRDLK");
                              fx->x.Close(w);
                              const double until = bench::Now() + 20;
                              while (!BareX::Ended(pid) && bench::Now() < until) ::usleep(10'000);
                              if (!BareX::Ended(pid)) ::kill(pid, SIGKILL);
                          });
                      probe.ChildPeak(r.peakKb);
                      *status = r.status;
                  }};
    a.reset = [=] { *status = *lockRows = -1; };
    a.check = [=] {
        if (*status != 0) throw std::runtime_error("qvutil " + keyword + " ended with status " + std::to_string(*status));
        if (keyword == "FRD" && *lockRows != fx->layout.selected)
            throw std::runtime_error("FRDLK held " + std::to_string(*lockRows) + " rows while the window showed");
    };
    bench::Side b{"qvutil NONE, start to end", [=](bench::Probe &probe) {
                      const bench::ChildResult r = bench::Spawn({fx->inst.qvutil.string(), "NONE"}, fx->env);
                      probe.ChildPeak(r.peakKb);
                      *status = r.status;
                  }};
    b.reset = a.reset;
    b.check = [=] {
        if (*status != 0) throw std::runtime_error("qvutil NONE ended with status " + std::to_string(*status));
    };
    std::vector<bench::Target> targets;
    if (keyword == "FRD") targets.push_back({bench::Figure::SecondsMedian, 0.2});
    return {"process start to the " + keyword + " window shown, " + std::to_string(fx->layout.Readings()) +
                " readings, " + std::to_string(fx->layout.selected) + "-account selection",
            a, b, targets};
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    return bench::Main(
        argc, argv,
        {{"FRD", {1'000'000},
          [](long n) { return Startup("FRD", "Correct READ DATES for Meter Reading Records", n); }},
         {"QBU", {1'000'000}, [](long n) { return Startup("QBU", "Quorvant32 Complete Software Backup", n); }},
         {"RAC", {1'000'000}, [](long n) { return Startup("RAC", "Restore Auto-Copy Database Files", n); }}});
}
