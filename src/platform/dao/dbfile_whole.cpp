// Putting a chosen copy in place of a held file that is no database (empty, cut short, not a database
// at all): SQLite cannot journal a change to it, so the file is replaced whole. The chosen copy is
// checked as for a replacement in place while the safety copy of the file's bytes is made beside it;
// the copy's pages are then written under a hidden name beside the file (AtomicFile), synced, and
// renamed over it: killed at any point, the name holds the old file or the whole new one. The safety
// copy takes its name only after that rename, so a restore that replaced nothing leaves none.
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <memory>
#include <optional>
#include <system_error>

#include "platform/dao/dbfile_private.h"
#include "platform/error.h"

namespace platform::dao::dbfile_detail {
namespace {

// The new file takes the old one's owner and group where this user may give them, and its mode.
void GiveOwnerAndMode(int fd, const ExclusiveHold::Impl &held) {
    struct stat st {};
    if (::fstat(held.fd.get(), &st) != 0) RaiseOsError(errno, held.path, kDatabase, "read");
    (void)!::fchown(fd, ::geteuid() == 0 ? st.st_uid : static_cast<uid_t>(-1), st.st_gid);
    if (::fchmod(fd, st.st_mode & 0777) != 0) RaiseOsError(errno, held.path, kDatabase, "set the permissions of");
}

}  // namespace

fs::path ReplaceWhole(ExclusiveHold::Impl &held, const fs::path &chosen, const fs::path &safetyTarget,
                      ReplaceStage &stage) {
    stage = ReplaceStage::Checking;
    std::unique_ptr<PendingCopy> safety;
    std::exception_ptr copyFailure;
    const auto copy = CheckCopy(chosen, [&](const CheckedCopy &) {
        try {
            safety = std::make_unique<PendingCopy>(held.fd.get(), held.path, held.held, safetyTarget);
        } catch (...) {
            copyFailure = std::current_exception();
        }
    });
    stage = ReplaceStage::SafetyCopy;
    if (copyFailure) std::rethrow_exception(copyFailure);

    stage = ReplaceStage::Replacing;
    std::optional<AtomicFile> next;
    try {
        next.emplace(held.path, Access::Private, 0600);
    } catch (const std::system_error &e) {
        RaiseOsError(e.code().value(), held.path, kDatabase, "create");
    }
    GiveOwnerAndMode(next->fd(), held);
    copy->checked.RequireSame(copy->fd.get(), copy->path);
    CopyRange(copy->fd.get(), next->fd(), copy->pages * copy->pageSize, 0, copy->path, held.path, kDatabase);
    Sync(next->fd(), held.path, kDatabase);
    copy->checked.RequireSame(copy->fd.get(), copy->path);  // what was copied is what was checked
    held.held.RequireSame(held.fd.get(), held.path);        // and the safety copy holds what is replaced
    try {
        next->CommitUnsynced();
    } catch (const std::system_error &e) {
        RaiseOsError(e.code().value(), held.path, kDatabase, "replace");
    }

    stage = ReplaceStage::Naming;
    const fs::path named = safety->Name();
    try {
        SyncFolderOf(held.path, kDatabase);  // the new file's and the safety copy's names last
    } catch (const Error &) {
    }
    return named;
}

}  // namespace platform::dao::dbfile_detail
