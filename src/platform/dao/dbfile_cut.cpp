// Files that another program cuts short while the restore reads them through mappings, and files that
// another program changes while the restore holds them.
//
// A read through a mapping past the end of a file that was cut short raises SIGBUS, which would end
// the process without a word. While a CutWatch lives, the handler below puts an empty page in place
// of the one that is gone, so the read finds zeros and goes on, and counts the event against the file
// whose mapping it was; the watch then raises an error that names that file, so that a file cut while
// another is read is the one blamed. A SIGBUS that no watch expects gets the handling it had before.
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
struct sigaction g_before {};
std::uintptr_t g_pageSize = 4096;

// The mappings being read under watches, and the pages gone per file (by descriptor; an entry once
// taken stays its descriptor's, so a watch compares counts). All lock-free: the handler reads them.
struct Span {
    std::atomic<std::uintptr_t> begin{0}, end{0};  // begin 0: free
    std::atomic<int> fd{-1};
};
struct Gone {
    std::atomic<int> fd{-1};
    std::atomic<unsigned long> pages{0};
};
Span g_spans[16];
Gone g_gone[32];
std::atomic<unsigned long> g_unknownGone{0};  // pages of mappings not ours, or beyond the table

// The entry of `fd`; entries are taken in order, so the first free one ends the search (where `take`
// makes it the entry of `fd`).
Gone *GoneOf(int fd, bool take) {
    for (Gone &g : g_gone) {
        int at = g.fd.load();
        if (at == -1 && (!take || g.fd.compare_exchange_strong(at, fd))) return take ? &g : nullptr;
        if (at == fd) return &g;
    }
    return nullptr;
}

unsigned long PagesGoneOf(int fd) {
    const Gone *g = GoneOf(fd, false);
    return g ? g->pages.load() : 0;
}

void CountGone(std::uintptr_t address) {
    for (const Span &s : g_spans) {
        const std::uintptr_t begin = s.begin.load();
        if (begin && address >= begin && address < s.end.load()) {
            if (Gone *g = GoneOf(s.fd.load(), true)) {
                g->pages.fetch_add(1);
                return;
            }
        }
    }
    g_unknownGone.fetch_add(1);
}

void OnBusError(int, siginfo_t *info, void *) {
    if (g_watching.load() && info->si_code == BUS_ADRERR) {
        void *page = reinterpret_cast<void *>(reinterpret_cast<std::uintptr_t>(info->si_addr) & ~(g_pageSize - 1));
        const int saved = errno;
        const bool replaced = ::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == page;
        errno = saved;
        if (replaced) {
            CountGone(reinterpret_cast<std::uintptr_t>(info->si_addr));
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
    for (const Watched &f : files_) gone_.push_back(PagesGoneOf(f.fd));
    unknownGone_ = g_unknownGone.load();
}

CutWatch::~CutWatch() {
    std::lock_guard lock(g_installing);
    if (--g_watches == 0) {
        g_watching = false;
        ::sigaction(SIGBUS, &g_before, nullptr);
    }
}

bool CutWatch::PagesGone() const {
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (PagesGoneOf(files_[i].fd) != gone_[i]) return true;
    return g_unknownGone.load() != unknownGone_;
}

void CutWatch::Check() const {
    auto cut = [](const Watched &f) {
        return FileError(75, *f.shown, "another program cut the file short while it was read");
    };
    for (const Watched &f : files_) {
        struct stat st {};
        if (::fstat(f.fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < f.size) throw cut(f);
    }
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (PagesGoneOf(files_[i].fd) != gone_[i]) throw cut(files_[i]);
    if (g_unknownGone.load() != unknownGone_) throw cut(files_.front());
}

WatchedMapping::WatchedMapping(int fd, std::uint64_t size, const fs::path &file) : Mapping(fd, size, file, kDatabase) {
    if (!data()) return;
    std::lock_guard lock(g_installing);
    for (Span &s : g_spans) {
        if (s.begin.load()) continue;
        s.fd = fd;
        s.end = reinterpret_cast<std::uintptr_t>(data()) + size;
        s.begin = reinterpret_cast<std::uintptr_t>(data());
        span_ = static_cast<int>(&s - g_spans);
        return;
    }
}

WatchedMapping::~WatchedMapping() {
    if (span_ >= 0) g_spans[span_].begin = 0;  // before the mapping goes
}

FileState FileState::Of(int fd, const fs::path &shown) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) RaiseOsError(errno, shown, kDatabase, "read");
    return {static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
            st.st_ctim.tv_nsec};
}

void FileState::RequireSame(int fd, const fs::path &shown) const {
    if (Of(fd, shown) != *this)
        throw FileError(75, shown, "another program changed the file while the restore held it");
}

}  // namespace platform::dao::dbfile_detail
