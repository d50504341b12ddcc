// Putting a checked database's content in place of a held database's, in the file itself, under a
// rollback journal written as SQLite writes its own.
//
// The journal is SQLite's "<database>-journal": a header (magic, record count, checksum nonce, the
// database's size in pages, the header's size, the page size) and one record per page (page number,
// the page's old bytes, a checksum). While it exists with its magic, every SQLite open of the
// database rolls it back before reading: the old pages go back and the file is cut to its old size.
// So the order is: the records (while the safety copy is written on another thread, under a hidden
// name), synced; once the safety copy is complete and synced, the magic and count, synced; the
// changed parts of the file, synced; the content in place checked; the safety copy named; then
// removing the journal is the commit. Pages that stay the same are neither journaled nor written. Large steps replace SQLite's page-by-page writes and its syncs per cache
// spill: which pages change is found while the chosen copy is checked (SoundDatabase::Check), the
// old pages are read through a mapping, the journal and the safety copy are written past the page
// cache (DirectWriter; the safety copy straight from the mapping), the new pages are copied in the
// kernel.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "platform/dao/dbfile_private.h"
#include "platform/error.h"
#include "platform/safe_file.h"

namespace platform::dao {
namespace fs = std::filesystem;
using namespace dbfile_detail;

namespace {

const unsigned char kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr std::uint32_t kJournalHeaderSize = 512;  // the "sector size" field: records start here
constexpr std::uint64_t kPendingByte = 0x40000000; // SQLite's lock bytes live in the page at this offset

// SQLite's checksum of a journaled page: the nonce plus every 200th byte from the end.
std::uint32_t PageChecksum(std::uint32_t nonce, const unsigned char *page, std::uint32_t pageSize) {
    std::uint32_t sum = nonce;
    for (std::int64_t i = std::int64_t{pageSize} - 200; i > 0; i -= 200) sum += page[i];
    return sum;
}

std::uint32_t Nonce() {
    std::uint32_t n = 0;
    if (::getrandom(&n, sizeof n, 0) != static_cast<ssize_t>(sizeof n)) n = static_cast<std::uint32_t>(::getpid());
    return n;
}

}  // namespace

fs::path ExclusiveHold::ReplaceContent(const SoundDatabase &chosen, const fs::path &safetyTarget, bool &safetyCopied) {
    safetyCopied = false;
    const fs::path &live = impl_->path;
    const fs::path &source = chosen.impl_->path;
    const fs::path &journal = impl_->journal;
    const int liveFd = impl_->fd.get();
    const int newFd = chosen.impl_->fd.get();
    sqlite3 *db = impl_->engine->db();

    // The old content: the file's whole pages, as the hold found it; the new: the copy as checked.
    impl_->held.RequireSame(liveFd, live);
    chosen.impl_->checked.RequireSame(newFd, source);
    const std::uint64_t oldSize = impl_->held.size;
    unsigned char oldHeader[100], newHeader[100];
    ReadAt(liveFd, oldHeader, sizeof oldHeader, 0, live, kDatabase);
    ReadAt(newFd, newHeader, sizeof newHeader, 0, source, kDatabase);
    const std::uint32_t oldPageSize = PageSizeOf(oldHeader);
    const std::uint64_t oldPages = oldSize / oldPageSize;
    const std::uint64_t oldLength = oldPages * oldPageSize;
    const std::uint64_t lockPage = kPendingByte / oldPageSize + 1;  // never used, and it ends a journal
    const std::uint64_t newLength = chosen.impl_->pages * chosen.impl_->pageSize;

    // The new header: the chosen copy's, with the change counter and the schema cookie of the old
    // moved on (as SQLite's own backup does), so that no other connection goes on with cached pages
    // or a cached schema of the old content.
    const std::uint32_t counter = BigEndian32(oldHeader + 24) + 1;
    PutBigEndian32(newHeader + 24, counter);
    PutBigEndian32(newHeader + 92, counter);  // the page count at 28 is valid for this change
    PutBigEndian32(newHeader + 28, static_cast<std::uint32_t>(chosen.impl_->pages));
    PutBigEndian32(newHeader + 40, BigEndian32(oldHeader + 40) + 1);

    // Which old pages change: page 1 always does (its header), and every page past the new end. The
    // comparison was made during the check when the check knew this database; else it is made now.
    std::vector<bool> changed = chosen.impl_->comparedWith == impl_.get() && chosen.impl_->differs.size() == oldPages + 1
                                    ? chosen.impl_->differs
                                    : PagesThatDiffer(liveFd, oldLength, newFd, newLength, oldPageSize, live, source);
    for (std::uint64_t page = 1; page <= oldPages; ++page)
        changed[page] = changed[page] || page == 1 || page * oldPageSize > newLength;

    // 1. The safety copy, on a thread of its own, and meanwhile the journal's records: the old bytes
    // of every page that changes. When both are complete and synced, the journal's header makes it
    // count, synced. The safety copy keeps a hidden name until the commit.
    // A journal that no longer counted was removed when the hold began: what stands at its name now
    // (another user's link) is not ours to follow.
    RefuseLinkAt(safetyTarget);
    Fd jfd = OpenFile(journal, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (!jfd) {
        const int err = errno;
        if (err == EEXIST) RefuseLinkAt(journal);
        RaiseOsError(err, journal, OsContext::Database, "create");
    }
    std::unique_ptr<PendingCopy> safety;
    std::exception_ptr copyFailure;
    std::thread copying([&] {
        try {
            safety = std::make_unique<PendingCopy>(liveFd, live, impl_->held, safetyTarget);
        } catch (...) {
            copyFailure = std::current_exception();
        }
    });
    try {
        try {
            struct stat st {};
            if (::fstat(liveFd, &st) != 0 || ::fchmod(jfd.get(), st.st_mode & 0777) != 0 ||
                (::geteuid() == 0 && ::fchown(jfd.get(), st.st_uid, st.st_gid) != 0))
                RaiseOsError(errno, live, OsContext::Database, "create the journal of");  // anyone who may write the database rolls it back
            unsigned char header[kJournalHeaderSize] = {};
            const std::uint32_t nonce = Nonce();
            PutBigEndian32(header + 12, nonce);
            PutBigEndian32(header + 16, static_cast<std::uint32_t>(oldPages));
            PutBigEndian32(header + 20, kJournalHeaderSize);
            PutBigEndian32(header + 24, oldPageSize);
            DirectWriter out(jfd.get(), live, kDatabase);
            out.Append(header, sizeof header);
            std::uint32_t records = 0;
            const CutWatch watch({{liveFd, &live, oldSize}});
            try {
                Mapping old(liveFd, oldLength, live, kDatabase);
                for (std::uint64_t page = 1; page <= oldPages && !watch.PagesGone(); ++page) {
                    if (!changed[page] || page == lockPage) continue;
                    const unsigned char *bytes = old.data() + (page - 1) * oldPageSize;
                    unsigned char *r = out.Room(oldPageSize + 8);
                    PutBigEndian32(r, static_cast<std::uint32_t>(page));
                    std::memcpy(r + 4, bytes, oldPageSize);
                    PutBigEndian32(r + 4 + oldPageSize, PageChecksum(nonce, bytes, oldPageSize));
                    ++records;
                    old.Done((page - 1) * oldPageSize);
                }
            } catch (const Error &) {
                watch.Check();
                throw;
            }
            watch.Check();
            out.Finish();
            Sync(jfd.get(), live, kDatabase);
            copying.join();
            if (copyFailure) std::rethrow_exception(copyFailure);
            safetyCopied = true;
            impl_->held.RequireSame(liveFd, live);  // what the journal and the safety copy hold is the old content
            std::memcpy(header, kJournalMagic, sizeof kJournalMagic);
            PutBigEndian32(header + 8, records);
            WriteAt(jfd.get(), header, 12, 0, live, kDatabase);
            Sync(jfd.get(), live, kDatabase);
            SyncFolderOf(journal, kDatabase);
        } catch (...) {
            RemoveFile(journal);  // not yet counted: the database is as it was
            throw;
        }
    } catch (...) {
        if (copying.joinable()) copying.join();
        if (copyFailure) std::rethrow_exception(copyFailure);  // the safety copy's failure comes first
        throw;
    }

    // Put back after a failure from here on: the safety copy holds the whole old content, also of
    // pages that another program may have changed meanwhile and that the journal does not hold; then
    // what the journal still holds goes back as the next open would (let go of the lock and read).
    auto putBack = [&] {
        try {
            CopyRange(safety->fd(), liveFd, oldSize, 0, live, live, kDatabase);
            if (::ftruncate(liveFd, static_cast<off_t>(oldSize)) != 0) RaiseOsError(errno, live, OsContext::Database, "write");
            Sync(liveFd, live, kDatabase);
            if (!RemoveFile(journal)) RaiseOsError(errno, live, OsContext::Database, "remove the journal of");
        } catch (const Error &) {
        }
        impl_->EndTransaction();
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
        safety->Remove();
    };

    // 2. The changed pages and whatever lies beyond the old end, from the chosen copy (in the
    // kernel), the new header over them; the file cut to the new size; synced. The content in place
    // is checked as the chosen copy was, and the chosen copy must still be as it was checked and the
    // live file as it was written. 3. The safety copy takes its name and removing the journal commits.
    fs::path safetyCopy;
    try {
        auto toWrite = [&](std::uint64_t offset) { return offset >= oldLength || changed[offset / oldPageSize + 1]; };
        for (std::uint64_t at = 0; at < newLength;) {
            if (!toWrite(at)) {
                at += oldPageSize;
                continue;
            }
            std::uint64_t end = at;
            while (end < newLength && toWrite(end)) end += oldPageSize;
            end = std::min(end, newLength);
            CopyRange(newFd, liveFd, end - at, static_cast<std::int64_t>(at), source, live, kDatabase);
            at = end;
        }
        WriteAt(liveFd, newHeader, sizeof newHeader, 0, live, kDatabase);
        if (newLength != oldSize && ::ftruncate(liveFd, static_cast<off_t>(newLength)) != 0) RaiseOsError(errno, live, OsContext::Database, "write");
        // The check reads what the page cache holds while the sync writes it out, on the other core.
        const FileState written = FileState::Of(liveFd, live);
        std::exception_ptr checkFailure;
        std::jthread checking([&] {
            try {
                CheckInPlace(live, liveFd, newLength);
            } catch (...) {
                checkFailure = std::current_exception();
            }
        });
        Sync(liveFd, live, kDatabase);
        checking.join();
        if (checkFailure) std::rethrow_exception(checkFailure);
        chosen.impl_->checked.RequireSame(newFd, source);
        written.RequireSame(liveFd, live);
        safetyCopy = safety->Name();
        if (!RemoveFile(journal)) RaiseOsError(errno, live, OsContext::Database, "remove the journal of");
    } catch (...) {
        putBack();
        throw;
    }
    try {
        SyncFolderOf(journal, kDatabase);  // the commit and the safety copy's name last; without it a crash of the machine may undo them
    } catch (const Error &) {
    }
    // The journal's disk space is given back when its last descriptor closes, which takes a while
    // for a large one: on a thread of its own, so that the restore can report at once.
    std::thread([fd = std::move(jfd)] {}).detach();
    return safetyCopy;
}

}  // namespace platform::dao
