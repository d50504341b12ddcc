// The safety copy: a byte copy of a held database under a hidden name beside its target, named only
// when the replacement commits.
#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "platform/dao/dbfile_private.h"
#include "platform/error.h"

namespace platform::dao::dbfile_detail {
namespace {

fs::path WithSuffix(const fs::path &target, int n) {
    if (n < 2) return target;
    fs::path name = target.stem();
    name += "-" + std::to_string(n);
    name += target.extension();
    return target.parent_path() / name;
}

}  // namespace

PendingCopy::PendingCopy(int fromFd, const fs::path &database, const FileState &state, const fs::path &target) {
    RemoveStaleTemporaries(target.parent_path());
    RefuseLinkAt(target);
    try {
        file_.emplace(target, Access::Private, 0600);
    } catch (const std::system_error &e) {
        RaiseOsError(e.code().value(), target, kDatabase, "create");
    }
    DirectWriter out(file_->fd(), target, kDatabase);
    const std::uint64_t size = state.size;
    const CutWatch watch({{fromFd, &database, size}});
    try {
        WatchedMapping from(fromFd, size, database);
        for (std::uint64_t at = 0; at < size; at += DirectWriter::kChunk) {
            out.Append(from.data() + at, static_cast<std::size_t>(std::min<std::uint64_t>(DirectWriter::kChunk, size - at)));
            from.Done(at);
        }
        out.Finish();
    } catch (const Error &) {
        watch.Check();
        throw;
    }
    watch.Check();
    state.RequireSame(fromFd, database);
    struct stat st {};
    if (::fstat(fromFd, &st) != 0) RaiseOsError(errno, database, kDatabase, "read");
    if (::fchmod(file_->fd(), st.st_mode & 0777) != 0) RaiseOsError(errno, target, kDatabase, "set the permissions of");
    Sync(file_->fd(), target, kDatabase);
}

fs::path PendingCopy::Name() {
    const fs::path &target = file_->Target();
    for (int n = 1;; ++n) {
        const fs::path name = WithSuffix(target, n);
        try {
            if (file_->CommitAsNew(name.filename().native())) return named_ = name;
        } catch (const std::system_error &e) {
            RaiseOsError(e.code().value(), name, kDatabase, "rename");
        }
    }
}

void PendingCopy::Remove() {
    if (!named_.empty()) RemoveFile(named_);
    named_.clear();
}

}  // namespace platform::dao::dbfile_detail
