// Files that another program cuts short while the restore reads them through mappings, and files that
// another program changes while the restore holds them.
//
// A read through a mapping past the end of a file that was cut short raises SIGBUS, which would end
// the process without a word. While a CutWatch lives, the handler below puts an empty page in place
// of the one that is gone, so the read finds zeros and goes on, and counts the event; the watch then
// raises an error that names the file. A SIGBUS that no watch expects gets the handling it had before.
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/dao/dbfile_private.h"
#include "platform/error.h"

namespace platform::dao::dbfile_detail {
namespace {

std::mutex g_installing;
int g_watches = 0;  // under g_installing
std::atomic<bool> g_watching{false};
std::atomic<unsigned long> g_pagesGone{0};
struct sigaction g_before {};
std::uintptr_t g_pageSize = 4096;

void OnBusError(int, siginfo_t *info, void *) {
    if (g_watching.load() && info->si_code == BUS_ADRERR) {
        void *page = reinterpret_cast<void *>(reinterpret_cast<std::uintptr_t>(info->si_addr) & ~(g_pageSize - 1));
        const int saved = errno;
        const bool replaced = ::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == page;
        errno = saved;
        if (replaced) {
            g_pagesGone.fetch_add(1);
            return;  // the read is made again, on the empty page
        }
    }
    ::sigaction(SIGBUS, &g_before, nullptr);  // the read is made again and the signal goes where it went before
}

}  // namespace

CutWatch::CutWatch(std::initializer_list<Watched> files) : files_(files) {
    std::lock_guard lock(g_installing);
    if (g_watches++ == 0) {
        g_pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction sa {};
        sa.sa_sigaction = OnBusError;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGBUS, &sa, &g_before);
        g_watching = true;
    }
    gone_ = g_pagesGone.load();
}

CutWatch::~CutWatch() {
    std::lock_guard lock(g_installing);
    if (--g_watches == 0) {
        g_watching = false;
        ::sigaction(SIGBUS, &g_before, nullptr);
    }
}

bool CutWatch::PagesGone() const { return g_pagesGone.load() != gone_; }

void CutWatch::Check() const {
    for (const Watched &f : files_) {
        struct stat st {};
        if (::fstat(f.fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < f.size)
            throw Error(75, PathErrorText(75, *f.shown, "another program cut the file short while it was read"));
    }
    if (PagesGone())
        throw Error(75, PathErrorText(75, *files_.front().shown, "another program cut the file short while it was read"));
}

FileState FileState::Of(int fd, const fs::path &shown) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) RaiseOsError(errno, shown, kDatabase, "read");
    return {static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
            st.st_ctim.tv_nsec};
}

void FileState::RequireSame(int fd, const fs::path &shown) const {
    if (Of(fd, shown) != *this)
        throw Error(75, PathErrorText(75, shown, "another program changed the file while the restore held it"));
}

}  // namespace platform::dao::dbfile_detail
