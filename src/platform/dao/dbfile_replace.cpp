// Putting a chosen copy's content in place of a held database's, in the file itself, under a rollback
// journal written as SQLite writes its own.
//
// The journal is SQLite's "<database>-journal": a header (magic, record count, checksum nonce, the
// database's size in pages, the header's size, the page size) and one record per page (page number,
// the page's old bytes, a checksum). While it exists with its magic, every SQLite open of the
// database rolls it back before reading: the old pages go back and the file is cut to its old size.
// The steps of ExclusiveHold::ReplaceContent, each a member of Replacement below:
//   1. while the chosen copy is checked, the old content is saved: the safety copy on a thread of its
//      own (under a hidden name), and the journal's records of the pages that change on the check's
//      second thread, each old page compared with the copy's as it goes;
//   2. CountJournal: once the check passed and both are complete and synced, the journal's magic and
//      count make it count, synced;
//   3. WriteNewContent: the changed pages copied from the chosen copy, the new header, the new size;
//   4. CheckNewContent: the content in place compared byte for byte with the chosen copy that the check
//      passed, while its sync runs;
//   5. Commit: the safety copy takes its name and removing the journal commits.
// PutBack puts the old content back after a failure from step 3 on. Pages that stay the same are
// neither journaled nor written. Large steps replace SQLite's page-by-page writes and its syncs per
// cache spill: the old pages are read through a mapping, the journal and the safety copy are written
// past the page cache (DirectWriter; the safety copy straight from the mapping), the new pages are
// copied in the kernel and sent on to the disk as they go. On the machines measured (bench/README.md)
// this is faster than the same work through the page cache: see there.
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
#include <optional>
#include <thread>
#include <vector>

#include "platform/dao/dbfile_private.h"
#include "platform/dao/storage_format.h"
#include "platform/error.h"
#include "platform/safe_file.h"

namespace platform::dao {
namespace fs = std::filesystem;
using namespace dbfile_detail;

namespace {

constexpr std::uint32_t kJournalHeaderSize = 512;  // the "sector size" field: records start here
constexpr std::uint64_t kStep = 16 << 20;          // compared or copied at a time
constexpr std::uint64_t kWriteOut = 64 << 20;      // new pages sent on to the disk at a time, while the rest is copied

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

// The journal file, removed when this goes unless it counts.
struct Journal {
    fs::path path;
    Fd fd;
    bool counts = false;
    ~Journal() {
        if (fd && !counts) RemoveFile(path);
    }
};

// One replacement, step by step (see the top of this file).
class Replacement {
public:
    // Refuses another user's link at the safety copy's or the journal's name, creates the journal
    // and starts the safety copy; `stage` tells which of them failed.
    Replacement(ExclusiveHold::Impl &held, const fs::path &safetyTarget, ReplaceStage &stage);
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    void JournalChangedPages(const CheckedCopy &copy) noexcept;  // a failure is raised by CountJournal
    void CountJournal(const CheckedCopy &copy, ReplaceStage &stage);
    void WriteNewContent(const CheckedCopy &copy);
    void CheckNewContent(const CheckedCopy &copy);
    fs::path Commit();
    void PutBack() noexcept;

private:
    void StartJournal();
    void CompareWithCopy(const CheckedCopy &copy) const;
    void AddRecord(std::uint64_t page, const unsigned char *bytes);

    ExclusiveHold::Impl &held_;
    const fs::path &live_;
    const int liveFd_;
    unsigned char oldHeader_[kSqliteHeaderSize], newHeader_[kSqliteHeaderSize];
    std::uint32_t pageSize_;                 // the old content's
    std::uint64_t oldSize_, oldPages_, oldLength_, newLength_ = 0;
    Journal journal_;
    std::optional<DirectWriter> records_;
    std::uint32_t nonce_ = Nonce(), recordCount_ = 0;
    std::vector<bool> changed_;              // per old page (from 1): its old bytes are in the journal
    std::exception_ptr journalFailure_, copyFailure_;
    std::unique_ptr<PendingCopy> safety_;
    std::thread copying_;                    // writes safety_; joined before anything else goes
};

Replacement::Replacement(ExclusiveHold::Impl &held, const fs::path &safetyTarget, ReplaceStage &stage)
    : held_(held), live_(held.path), liveFd_(held.fd.get()) {
    held_.held.RequireSame(liveFd_, live_);
    ReadAt(liveFd_, oldHeader_, sizeof oldHeader_, 0, live_, kDatabase);
    pageSize_ = PageSizeOf(oldHeader_);
    oldSize_ = held_.held.size;
    oldPages_ = oldSize_ / pageSize_;
    oldLength_ = oldPages_ * pageSize_;
    changed_.assign(oldPages_ + 1, false);
    RefuseLinkAt(safetyTarget);
    stage = ReplaceStage::Journal;
    StartJournal();
    stage = ReplaceStage::SafetyCopy;
    copying_ = std::thread([this, safetyTarget] {
        try {
            safety_ = std::make_unique<PendingCopy>(liveFd_, live_, held_.held, safetyTarget);
        } catch (...) {
            copyFailure_ = std::current_exception();
        }
    });
}

Replacement::~Replacement() {
    if (copying_.joinable()) copying_.join();
}

// The journal, created new (a journal that no longer counted was removed when the hold began: what
// stands at its name now, another user's link, is not ours to follow), with the database's access so
// that anyone who may write the database rolls it back; its header without the magic, so it does not
// count yet.
void Replacement::StartJournal() {
    journal_.path = held_.journal;
    Opened journal = OpenFile(journal_.path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (!journal) {
        const int err = errno;
        if (err == EEXIST) RefuseLinkAt(journal_.path);
        RaiseOsError(err, journal_.path, kDatabase, "create", journal.refusedLink);
    }
    journal_.fd = std::move(journal);
    struct stat st {};
    if (::fstat(liveFd_, &st) != 0 || ::fchmod(journal_.fd.get(), st.st_mode & 0777) != 0 ||
        (::geteuid() == 0 && ::fchown(journal_.fd.get(), st.st_uid, st.st_gid) != 0))
        RaiseOsError(errno, journal_.path, kDatabase, "create");
    unsigned char header[kJournalHeaderSize] = {};
    PutBigEndian32(header + 12, nonce_);
    PutBigEndian32(header + 16, static_cast<std::uint32_t>(oldPages_));
    PutBigEndian32(header + 20, kJournalHeaderSize);
    PutBigEndian32(header + 24, pageSize_);
    records_.emplace(journal_.fd.get(), journal_.path, kDatabase);
    records_->Append(header, sizeof header);
}

void Replacement::AddRecord(std::uint64_t page, const unsigned char *bytes) {
    changed_[page] = true;
    if (page == kSqlitePendingByte / pageSize_ + 1) return;  // never used, and a record of it ends a journal
    unsigned char *r = records_->Room(pageSize_ + 8);
    PutBigEndian32(r, static_cast<std::uint32_t>(page));
    std::memcpy(r + 4, bytes, pageSize_);
    PutBigEndian32(r + 4 + pageSize_, PageChecksum(nonce_, bytes, pageSize_));
    ++recordCount_;
}

// Page 1 always changes (its header), and so does every page that the copy does not hold alike.
void Replacement::JournalChangedPages(const CheckedCopy &copy) noexcept {
    try {
        const std::uint64_t common = std::min(oldLength_, copy.checked.size / pageSize_ * pageSize_);
        const CutWatch watch({{liveFd_, &live_, oldSize_}});
        try {
            WatchedMapping old(liveFd_, oldLength_, live_), now(copy.fd.get(), common, copy.path);
            for (std::uint64_t page = 1, at = 0; page <= oldPages_ && !watch.PagesGone(); ++page, at += pageSize_) {
                if (page == 1 || at + pageSize_ > common || std::memcmp(old.data() + at, now.data() + at, pageSize_) != 0)
                    AddRecord(page, old.data() + at);
                old.Done(at);
                now.Done(at);
            }
        } catch (const Error &) {
            watch.Check();
            throw;
        }
        watch.Check();
    } catch (...) {
        journalFailure_ = std::current_exception();
    }
}

void Replacement::CountJournal(const CheckedCopy &copy, ReplaceStage &stage) {
    newLength_ = copy.pages * copy.pageSize;
    if (!journalFailure_) {
        try {
            // The pages that the new size cuts off (the copy may be longer than its pages), then synced.
            std::vector<unsigned char> page(pageSize_);
            for (std::uint64_t p = newLength_ / pageSize_ + 1; p <= oldPages_; ++p) {
                if (changed_[p]) continue;
                ReadAt(liveFd_, page.data(), pageSize_, (p - 1) * pageSize_, live_, kDatabase);
                AddRecord(p, page.data());
            }
            records_->Finish();
            Sync(journal_.fd.get(), journal_.path, kDatabase);
        } catch (...) {
            journalFailure_ = std::current_exception();
        }
    }
    copying_.join();
    if (copyFailure_) std::rethrow_exception(copyFailure_);  // the safety copy's failure comes first
    stage = ReplaceStage::Journal;
    if (journalFailure_) std::rethrow_exception(journalFailure_);
    held_.held.RequireSame(liveFd_, live_);  // what the journal and the safety copy hold is the old content
    unsigned char header[12];
    std::memcpy(header, kSqliteJournalMagic, sizeof kSqliteJournalMagic);
    PutBigEndian32(header + 8, recordCount_);
    WriteAt(journal_.fd.get(), header, sizeof header, 0, journal_.path, kDatabase);
    Sync(journal_.fd.get(), journal_.path, kDatabase);
    SyncFolderOf(journal_.path, kDatabase);
    journal_.counts = true;
}

// The changed pages and whatever lies beyond the old end, from the chosen copy (in the kernel, each
// 64 MB sent on to the disk while the rest is copied, which shortens the sync after it); the
// new header over them: the chosen copy's, with the change counter and the schema cookie of the old
// moved on (as SQLite's own backup does), so that no other connection goes on with cached pages or a
// cached schema of the old content; the file cut to the new size.
void Replacement::WriteNewContent(const CheckedCopy &copy) {
    copy.checked.RequireSame(copy.fd.get(), copy.path);
    unsigned char *header = newHeader_;
    ReadAt(copy.fd.get(), header, sizeof newHeader_, 0, copy.path, kDatabase);
    const std::uint32_t counter = BigEndian32(oldHeader_ + 24) + 1;
    PutBigEndian32(header + 24, counter);
    PutBigEndian32(header + 92, counter);  // the page count at 28 is valid for this change
    PutBigEndian32(header + 28, static_cast<std::uint32_t>(copy.pages));
    PutBigEndian32(header + 40, BigEndian32(oldHeader_ + 40) + 1);
    auto toWrite = [&](std::uint64_t offset) { return offset >= oldLength_ || changed_[offset / pageSize_ + 1]; };
    std::uint64_t writtenOut = 0;  // what lies before has been sent on to the disk
    for (std::uint64_t at = 0; at < newLength_;) {
        if (!toWrite(at)) {
            at += pageSize_;
            continue;
        }
        std::uint64_t end = at;
        while (end < newLength_ && toWrite(end)) end += pageSize_;
        end = std::min(end, newLength_);
        while (at < end) {
            const std::uint64_t to = std::min(end, at + kStep);
            CopyRange(copy.fd.get(), liveFd_, to - at, static_cast<std::int64_t>(at), copy.path, live_, kDatabase);
            at = to;
            if (at - writtenOut >= kWriteOut) {
                StartWriteOut(liveFd_, writtenOut, at - writtenOut);
                writtenOut = at;
            }
        }
    }
    WriteAt(liveFd_, header, sizeof newHeader_, 0, live_, kDatabase);
    if (newLength_ != oldSize_ && ::ftruncate(liveFd_, static_cast<off_t>(newLength_)) != 0)
        RaiseOsError(errno, live_, kDatabase, "write");
}

// The content in place must be the chosen copy's, byte for byte but for the header written over it:
// then it is the content that the check passed. Another program that wrote or cut either file
// meanwhile, or a page that did not reach the file, fails it. Compared on the other core while the
// sync writes the file out, from the page cache.
void Replacement::CheckNewContent(const CheckedCopy &copy) {
    const FileState written = FileState::Of(liveFd_, live_);
    std::exception_ptr differs;
    std::jthread comparing([&] {
        try {
            CompareWithCopy(copy);
        } catch (...) {
            differs = std::current_exception();
        }
    });
    Sync(liveFd_, live_, kDatabase);
    comparing.join();
    if (differs) std::rethrow_exception(differs);
    copy.checked.RequireSame(copy.fd.get(), copy.path);
    written.RequireSame(liveFd_, live_);
}

void Replacement::CompareWithCopy(const CheckedCopy &copy) const {
    const CutWatch watch({{liveFd_, &live_, newLength_}, {copy.fd.get(), &copy.path, newLength_}});
    std::uint64_t at = 0;
    try {
        WatchedMapping now(liveFd_, newLength_, live_), chosen(copy.fd.get(), newLength_, copy.path);
        bool same = std::memcmp(now.data(), newHeader_, sizeof newHeader_) == 0;
        for (at = sizeof newHeader_; same && at < newLength_ && !watch.PagesGone(); at += kStep) {
            const std::uint64_t step = std::min<std::uint64_t>(kStep, newLength_ - at);
            same = std::memcmp(now.data() + at, chosen.data() + at, step) == 0;
            now.Done(at);
            chosen.Done(at);
        }
        watch.Check();
        if (!same)
            throw FileError(75, live_, "the content put in place is not the chosen copy's; another program "
                                       "changed one of them");
    } catch (const Error &) {
        watch.Check();
        throw;
    }
}

fs::path Replacement::Commit() {
    const fs::path named = safety_->Name();
    if (!RemoveFile(journal_.path)) RaiseOsError(errno, live_, kDatabase, "remove the journal of");
    try {
        SyncFolderOf(journal_.path, kDatabase);  // the commit and the safety copy's name last; without it a crash of the machine may undo them
    } catch (const Error &) {
    }
    // The journal's disk space is given back when its last descriptor closes, which takes a while for
    // a large one: on a thread of its own, so that the restore can report at once.
    std::thread([fd = std::move(journal_.fd)] {}).detach();
    return named;
}

// The safety copy holds the whole old content, also of pages that another program may have changed
// meanwhile and that the journal does not hold; then what the journal still holds goes back as the
// next open would (the lock let go of and the file read).
void Replacement::PutBack() noexcept {
    try {
        CopyRange(safety_->fd(), liveFd_, oldSize_, 0, live_, live_, kDatabase);
        if (::ftruncate(liveFd_, static_cast<off_t>(oldSize_)) != 0) RaiseOsError(errno, live_, kDatabase, "write");
        Sync(liveFd_, live_, kDatabase);
        if (!RemoveFile(journal_.path)) RaiseOsError(errno, live_, kDatabase, "remove the journal of");
    } catch (...) {
    }
    held_.EndTransaction();
    sqlite3_exec(held_.engine->db(), "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    safety_->Remove();
}

}  // namespace

fs::path ExclusiveHold::ReplaceContent(const fs::path &chosen, const fs::path &safetyTarget, ReplaceStage &stage) {
    if (!impl_->engine) return ReplaceWhole(*impl_, chosen, safetyTarget, stage);
    stage = ReplaceStage::SafetyCopy;
    Replacement replacement(*impl_, safetyTarget, stage);
    stage = ReplaceStage::Checking;
    const auto copy = CheckCopy(chosen, [&](const CheckedCopy &c) { replacement.JournalChangedPages(c); });
    stage = ReplaceStage::SafetyCopy;
    replacement.CountJournal(*copy, stage);
    stage = ReplaceStage::Replacing;
    try {
        replacement.WriteNewContent(*copy);
        replacement.CheckNewContent(*copy);
        return replacement.Commit();
    } catch (...) {
        replacement.PutBack();
        throw;
    }
}

}  // namespace platform::dao
