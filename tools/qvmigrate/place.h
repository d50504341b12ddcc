#pragma once
// Writing target files so that no half-written file ever carries a target's name, no link that another
// login planted is followed, and the installation belongs to the office; qvmigrate's output lines.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "qvmigrate/errors.h"

namespace qvmigrate {

// SIGINT, SIGTERM and SIGHUP ask the run to stop (platform::StopCopiesOnSignals); long work checks for
// it between rows and blocks.
void ThrowIfStopped();  // Failure (Stopped)

// Text as a line of the output shows it: control characters (C0, DEL, C1) and bytes that are no UTF-8
// as <XX> (<U+XXXX> for C1), so that no file name or text read from a file makes a line or reaches the
// terminal as an escape sequence.
std::string Shown(std::string_view text);
// Writes `line`, shown so, and a line break.
void Say(std::ostream &out, std::string_view line);

// Whose the installation is: with `given`, every file and folder under the trees' roots that a run
// writes, copies, keeps or passes through is given to `uid`:`gid`, files with mode 0664 and folders
// with 2775 (the office's group may write the data, and what it creates there stays the group's);
// folders that a run creates above the roots keep the running user's own access.
struct Owner {
    bool given = false;  // false: files and folders are the running user's, with the umask's modes
    uid_t uid = 0;
    gid_t gid = 0;
};
void SetOwner(const Owner &owner, const std::vector<std::filesystem::path> &roots);
// The files that runs given to an owner made or copied are known by identity (device, inode, time of
// birth) in a record of the running user's own ($XDG_STATE_HOME/qvmigrate/made), read by SetOwner: a
// kept file is given to the office only when it is one of them or the office's login owns it already.
// Writes the record again when this run made files (a line on standard output when it cannot).
void SaveMadeFiles();

// Creates a target folder and the folders above it that are missing, no link of another login followed;
// the roots and the folders below them on the way take the owner of SetOwner (those that existed too).
// Raises Failure (Run) naming the folder, or a link of another user.
void MakeTargetFolders(const std::filesystem::path &folder);

enum class Placed {
    Written,
    Kept,       // it exists, and the run does not replace it
    KeptOlder,  // kept, though its source was changed after it was written
};

// Writes `target` through a new hidden temporary file in its folder (made with MakeTargetFolders):
// `fill` writes the temporary file, open as `fd`, and checks it; it is then given `modified` as its
// time, the owner and mode of SetOwner, flushed to disk and renamed to the target name. An existing
// target is kept (and given to the owner when a run made it or the owner owns it, unless it has another
// name or lies on another file system: Failure otherwise, the file left as it is) unless `replace`; a database is replaced only while no tool
// holds its .ldb lock or the read-date window's .frd lock. On any failure or stop the temporary file
// is removed and the target is left as it was; temporaries that stopped runs left in the folder are
// removed first (and said so on standard output).
Placed PlaceFile(const std::filesystem::path &target, bool replace, bool database, std::filesystem::file_time_type modified,
                 const std::function<void(int fd)> &fill);

// Copies the bytes of `from` (reached under the link rule) into the open file `to`, checking that all
// of them arrived; a failure to write names `target` (and its disk when that is full).
void CopyBytes(const std::filesystem::path &from, int to, const std::filesystem::path &target);

// "the disk that holds <folder> is full (<reason>)" for ENOSPC and EDQUOT, else the system's reason.
std::string WriteFailure(int err, const std::filesystem::path &folder);

}  // namespace qvmigrate
