#pragma once
// Writing target files so that no half-written file ever carries a target's name.
#include <filesystem>
#include <functional>
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
// that must end only the work on that file. A failure in the child is raised here as
// std::runtime_error (Stopped for a stop); a crash as std::runtime_error naming the signal. A stop
// asked of this process is passed on to the child.
std::string Isolated(const std::function<std::string()> &work);

enum class Placed { Written, Kept };

// Writes `target` through a new hidden temporary file in its folder (created with its parents when
// missing): `fill` writes and checks the temporary file; it is then flushed to disk, given `modified`
// as its time, and renamed to the target name. An existing target is kept unless `replace`; a
// database is replaced only while nobody holds its .ldb lock. On any failure or stop the temporary
// file is removed and the target is left as it was; one that a killed run left is removed first.
Placed PlaceFile(const std::filesystem::path &target, bool replace, bool database,
                 std::filesystem::file_time_type modified, const std::function<void(const std::filesystem::path &)> &fill);

// Copies the bytes of `from` into the existing file `to`, checking that all of them arrived.
void CopyBytes(const std::filesystem::path &from, const std::filesystem::path &to);

}  // namespace qvmigrate
