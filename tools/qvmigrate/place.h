#pragma once
// Writing target files so that no half-written file ever carries a target's name, no link that another
// login planted in a target folder is followed, and the installation belongs to the office.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

namespace qvmigrate {

// SIGINT, SIGTERM and SIGHUP ask the run to stop; long work checks for it between rows and blocks.
void InstallStopHandlers();
struct Stopped : std::runtime_error {
    Stopped() : std::runtime_error("stopped") {}
};
void ThrowIfStopped();

// Runs `work` in a child process and returns what it returned: libmdb may crash on a damaged file, and
// that must end only the work on that file. `work` writes to the stream it is given, which goes to
// this process's standard error (`toOutput`: standard output);
// whatever else the child prints (libmdb's own lines) is kept apart and summed up in one line, put in
// `said` (empty when nothing was printed) and added to the message of a failure. A failure in the
// child is raised here as std::runtime_error (Stopped for a stop); a crash as std::runtime_error
// naming the signal. A stop asked of this process is passed on to the child.
std::string Isolated(const std::function<std::string(std::ostream &progress)> &work, std::string *said = nullptr,
                     bool toOutput = false);

// Runs `work` in a child process under the user and group `owner` (a run as root gives the tools'
// check to the office's login); as Isolated otherwise.
struct Owner {
    bool given = false;  // false: files and folders are the running user's, with the umask's modes
    uid_t uid = 0;
    gid_t gid = 0;
};
std::string IsolatedAs(const Owner &owner, const std::function<std::string()> &work);

// The owner, group and modes of what is created from now on: with an owner given, files are 0664 and
// folders 2775 (the office's group may write the data, and what it creates there stays the group's).
void SetOwner(const Owner &owner);

// Creates a target folder and the folders above it that are missing; the folders it creates take the
// owner and modes of SetOwner. Raises std::runtime_error naming the folder, or a link of another user.
void MakeTargetFolders(const std::filesystem::path &folder);

enum class Placed { Written, Kept };

// Writes `target` through a new hidden temporary file in its folder (made with MakeTargetFolders):
// `fill` writes the temporary file, open as `fd`, and checks it; it is then given `modified` as its
// time, the owner and mode of SetOwner, flushed to disk and renamed to the target name. An existing
// target is kept unless `replace`; a database is replaced only while nobody holds its .ldb lock. On
// any failure or stop the temporary file is removed and the target is left as it was; temporaries
// that killed runs left are removed first.
Placed PlaceFile(const std::filesystem::path &target, bool replace, bool database, std::filesystem::file_time_type modified,
                 const std::function<void(int fd)> &fill);

// A new folder that only this user may enter, under $TMPDIR (else /var/tmp), removed with what it
// holds when the object goes: where a library that opens files by name (SQLite) writes, apart from
// the folders that other logins may write.
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder &) = delete;
    PrivateFolder &operator=(const PrivateFolder &) = delete;
    const std::filesystem::path &Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Copies the bytes of `from` into the open file `to`, checking that all of them arrived.
void CopyBytes(const std::filesystem::path &from, int to);

}  // namespace qvmigrate
