// The backup's work: the destination, the two copier passes, the databases at one moment each, the
// check, the replaced files kept and the oldest kept states removed.
#include "backup/backup_run.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

#include "backup/backup_status.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/copy_tree.h"
#include "platform/dao/snapshot.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "startup/shared.h"

namespace backup {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string &path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

// Text of /proc/self/mountinfo and /etc/fstab, which write a blank, tab, newline or backslash as \ooo.
std::string Unescaped(const std::string &text) {
    std::string plain;
    const auto octal = [&](std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '7'; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            plain += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

// The field `index` (from 0) of each line of `file` that has it, unescaped.
std::set<std::string> Fields(const char *file, int index) {
    std::set<std::string> found;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with('#')) continue;
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i <= index && fields >> field; ++i)
            if (i == index) found.insert(Unescaped(field));
    }
    return found;
}

// The folder at or above `folder` (Linux) that a disk is to be mounted on while none is: one that
// /etc/fstab names, or one right below /media or /mnt (or /run/media/<login>), where disks are
// mounted. Empty when the way up meets a mounted file system first, or when the mounts cannot be read.
// A backup there would go to the disk of the system instead of the backup disk.
fs::path UnmountedDiskFolder(const fs::path &folder) {
    const std::set<std::string> mounted = Fields("/proc/self/mountinfo", 4), disks = Fields("/etc/fstab", 1);
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(folder, ec);
    if (mounted.empty() || ec) return {};
    for (fs::path at = real; at.has_relative_path(); at = at.parent_path()) {
        if (mounted.count(at.string())) return {};
        const fs::path up = at.parent_path();
        if (disks.count(at.string()) || up == "/media" || up == "/mnt" || up.parent_path() == "/run/media") return at;
    }
    return {};
}

// Why the program folder cannot be copied to `target`; empty when it can. Makes the target folder.
std::string Refusal(const std::string &programFolder, const std::string &target) {
    if (const std::string c = platform::ForbiddenCharacter(target, true); !c.empty())
        return "Its name holds " + c + ", which Windows does not allow in names.";
    if (const std::string c = platform::ForbiddenCharacter(programFolder, true); !c.empty())
        return "The name of the program folder " + programFolder + " holds " + c +
               ", which Windows does not allow in names.";
    if (platform::LiesWithin(target, programFolder))
        return "It is the program folder " + programFolder +
               " or lies inside it: the folder would be copied into itself.";
    try {
        if (const fs::path disk = UnmountedDiskFolder(platform::MapPath(target)); !disk.empty())
            return platform::ShownPath(disk) + " is not mounted: no disk is mounted on the Linux folder " +
                   disk.string() + ".";
        platform::PrepareCopyDestination(target);
    } catch (const platform::Error &e) {
        // Refused to this login: which folder it may not write in, and why when its group is the cause.
        if (e.number == 70 && !e.file.empty() && !e.refusedLink)
            return platform::LoginMayNotWriteIn(e.file);
        return platform::WithFullStop(platform::Message(e, {target}));  // named in the refusal's sentence
    }
    return {};
}

class Run {
public:
    explicit Run(const BackupRequest &request) : r_(request) {}

    // Runs one copier pass and waits for it; empty when it succeeded, else why not.
    std::string Pass(const std::string &command, const std::vector<std::string> &options = {}) {
        platform::ShellOutcome pass;
        try {
            Busy([&] { pass = platform::ShellAndWait(command, options); });
        } catch (const platform::Error &e) {
            return "The copier could not be started: " + platform::WithFullStop(platform::Message(e));
        }
        if (pass.status == 0) return {};
        if (pass.reason.empty()) return "The copier ended with exit status " + std::to_string(pass.status) + ".";
        // -1: it did not end by itself; 1: it left out what links of another user name, and says so.
        if (pass.status < 0 || pass.status == 1) return platform::WithFullStop(pass.reason);
        return "The copier stopped: " + platform::WithFullStop(pass.reason);
    }

    // Copies the database `from` (Linux) as `name` into `folder` (Windows), keeping a copy it replaces in
    // `keep` (Windows), and counts it into `check`; a failure is the reason, else empty.
    std::string Database(const fs::path &from, const std::string &folder, const std::string &name,
                         const std::string &keep, const std::string &shownName, platform::TreeCheck &check) {
        ++check.files;
        platform::dao::SnapshotCopy copy;
        try {
            Busy([&] { copy = platform::dao::CopyDatabaseSnapshot(from, platform::MapPath(folder), name, true,
                                                                  platform::MapPath(keep)); });
        } catch (const platform::Error &e) {
            if (check.firstBad.size() < platform::kNamedBadFiles) check.firstBad.push_back(shownName + " (not copied)");
            return platform::ShownPath(from) + " could not be copied to " + folder + ": " +
                   platform::WithFullStop(platform::Message(e));
        }
        if (copy.good) {
            ++check.good;
        } else {
            if (copy.newer) ++check.newer;
            if (check.firstBad.size() < platform::kNamedBadFiles)
                check.firstBad.push_back(shownName + (copy.newer ? " (differs, newer in the copy)" : " (differs)"));
        }
        return {};
    }

    template <class Work>
    void Busy(const Work &work) {
        if (r_.busy)
            r_.busy(work);
        else
            work();
    }

private:
    const BackupRequest &r_;
};

// The files of a check that are missing or differ, the first few by name; empty when there are none.
std::string Differences(const platform::TreeCheck &check) {
    const long bad = check.files - check.good, named = static_cast<long>(check.firstBad.size());
    if (bad == 0) return {};
    std::string text = bad == 1 ? "1 file in the copy is missing or differs"
                                : std::to_string(bad) + " files in the copy are missing or differ";
    text += " from the program folder's:";
    for (const std::string &name : check.firstBad) text += "\n" + name;
    if (bad > named) text += "\n(and " + std::to_string(bad - named) + " more)";
    return text;
}

// What to do about copies that a backup keeps because they are newer than the program folder's files.
std::string NewerCopies(const platform::TreeCheck &check, const std::string &target) {
    if (check.newer == 0) return {};
    return std::string(check.newer == 1 ? "A file in the copy is newer than the program folder's, so the backup left "
                                          "it as it was"
                                        : std::to_string(check.newer) + " files in the copy are newer than the "
                                          "program folder's, so the backup left them as they were") +
           " (it replaces only older copies). To make a complete backup, remove the folder " + target +
           " or choose another folder, and make the backup again.";
}

// The replaced folders of `family` in the destination folder `at` (Linux), oldest first: their names
// end in a stamp that sorts as the time it tells.
std::vector<fs::path> ReplacedFolders(const fs::path &at, const std::string &family) {
    std::vector<fs::path> found;
    const std::string prefix = startup::ReplacedFolder(family, "");
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(at, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == prefix.size() + 19 && name.starts_with(prefix) && entry.is_directory(ec) &&
            !entry.is_symlink(ec))
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Removes all but the newest `keep` replaced folders of each family; what cannot be removed stays.
void RemoveOldStates(const fs::path &at, const std::vector<std::string> &families, int keep) {
    for (const std::string &family : families) {
        const std::vector<fs::path> folders = ReplacedFolders(at, family);
        std::error_code ec;
        for (std::size_t i = 0; i + static_cast<std::size_t>(keep) < folders.size(); ++i) fs::remove_all(folders[i], ec);
    }
}

bool FolderExists(const std::string &windowsPath) {
    std::error_code ec;
    try {
        return fs::is_directory(platform::MapPath(windowsPath), ec);
    } catch (const platform::Error &) {
        return false;
    }
}

}  // namespace

std::string CopyCommand(const std::string &programFolder, const std::string &target, const std::string &switches) {
    return "xcopy " + Quoted(programFolder + "\\*.*") + " " + Quoted(target) + " " + switches;
}

namespace {

BackupOutcome Backup(const BackupRequest &request) {
    const std::string &programFolder = request.programFolder, &destination = request.destination;
    // Named after the program folder, letter case exact.
    const std::string folderName = programFolder.find("QVNWin32") != std::string::npos ? "QVNWin32" : "QVWin32";
    const std::string dataName = startup::BackupDataFolder(folderName);
    const std::string target = destination + "\\" + folderName;  // joined as text: "E:\\QVNWin32" on a root
    const std::string shown = platform::JoinedPath(destination, folderName);  // messages: one backslash

    // The clerk picks another folder in the window; the nightly run's is named by its administrator.
    const std::string another = request.unattended ? "Name another destination on the command line or in the "
                                                     "BackupDestination= line of /etc/quorvant/qvutil.conf."
                                                   : "Choose another destination.";
    if (const std::string why = Refusal(programFolder, target); !why.empty())
        return {BackupOutcome::Refused, "The backup cannot be made in " + shown + ".\n\n" + why +
                                            "\n\nNothing was copied. " + another,
                "backup not started: " + why, why};
    // Held until the backup ends; the copier does not inherit it.
    const platform::Fd alone = platform::TryLockFolder(platform::MapPath(target), false);
    if (!alone) {
        const std::string why = errno == EWOULDBLOCK ? "Another backup into " + shown + " is under way."
                                                     : "The folder " + shown + " cannot be locked for the backup.";
        return {BackupOutcome::Refused, "The backup cannot be made in " + shown + " now.\n\n" + why +
                                            "\n\nNothing was copied. Make the backup again when that one has ended.",
                "backup not started: " + why, why};
    }

    // Until the backup ends, the record says that it did not: one that is killed, or cut off by the
    // computer going off, is then shown as such, not as the backup before it.
    RecordLastBackup(programFolder, {platform::Now(), false, request.unattended, destination,
                                     "it did not end; it is under way, or it was stopped before it was done.", {}});

    // A data database inside the program folder is in the program folder's copy.
    bool withData = !request.dataFile.empty();
    try {
        withData = withData && !platform::LiesWithin(request.dataFile, programFolder);
    } catch (const platform::Error &) {
        // on no mapped drive: its copy fails and says why
    }
    const std::string dataCopy = platform::JoinedPath(destination, dataName);
    // What this backup replaces goes to folders named with the time it began; a second backup within
    // the same second takes the next second's name.
    platform::DateTime began = platform::Now();
    std::string keepProgram, keepData;
    for (;; began += std::chrono::seconds(1)) {
        const std::string stamp = platform::Format(began, "yyyy-mm-dd hh.nn.ss");
        keepProgram = platform::JoinedPath(destination, startup::ReplacedFolder(folderName, stamp));
        keepData = platform::JoinedPath(destination, startup::ReplacedFolder(dataName, stamp));
        if (!FolderExists(keepProgram) && !FolderExists(keepData)) break;
    }

    Run run(request);
    const std::string structure = CopyCommand(programFolder, target, "/T/Y");
    const std::string files = CopyCommand(programFolder, target, "/s/d/y");
    std::string failure = run.Pass(structure);
    if (failure.empty()) {
        if (request.betweenPasses && !request.betweenPasses()) return {BackupOutcome::Stopped, {}, {}, {}};
        failure = run.Pass(files, {platform::kCopierKeepReplaced + platform::MapPath(keepProgram).string(),
                                   platform::kCopierDatabasesApart});
    }

    // Checked after a failed pass too, to tell how much of the copy is good; the databases are copied
    // after the pass, each at one moment of its own.
    platform::TreeCheck check;
    std::string checked;
    try {
        const fs::path from = platform::MapPath(programFolder);
        std::vector<fs::path> databases;
        if (failure.empty())
            platform::WalkCopySource(from, "*.*", true, platform::MapPath(target),
                                     {[](const fs::path &) {}, {}, {}, [&](const fs::path &relative) {
                                          databases.push_back(relative);
                                      }});
        for (const fs::path &relative : databases) {
            std::string folder = relative.parent_path().string(), shownName = relative.string();
            std::replace(folder.begin(), folder.end(), '/', '\\');
            std::replace(shownName.begin(), shownName.end(), '/', '\\');
            const std::string error =
                run.Database(from / relative, platform::JoinedPath(target, folder), relative.filename().string(),
                             platform::JoinedPath(keepProgram, folder), shownName, check);
            if (failure.empty()) failure = error;
        }
        if (withData && failure.empty()) {
            const fs::path live = platform::MapPath(request.dataFile);
            const std::string error = run.Database(live, dataCopy, live.filename().string(), keepData,
                                                   platform::JoinedPath(dataName, live.filename().string()), check);
            if (failure.empty()) failure = error;
        }
        platform::TreeCheck tree;
        run.Busy([&] { tree = platform::CheckCopiedTree(programFolder, "*.*", target, true); });
        check.files += tree.files;
        check.good += tree.good;
        check.newer += tree.newer;
        for (const std::string &bad : tree.firstBad)
            if (check.firstBad.size() < platform::kNamedBadFiles) check.firstBad.push_back(bad);
        checked = std::to_string(check.good) + " of " + std::to_string(check.files) +
                  " files of the program folder" + (withData ? " and the data database" : "") +
                  " were checked good there.";
        if (failure.empty()) failure = Differences(check);
    } catch (const platform::Error &e) {
        checked = "The copy could not be checked: " + platform::WithFullStop(platform::Message(e));
    } catch (const fs::filesystem_error &e) {
        checked = "The copy could not be checked: " +
                  platform::WithFullStop(e.code().message() + ": " + platform::ShownPath(e.path1()));
    }

    std::string kept;
    for (const std::string &folder : {keepProgram, keepData})
        if (FolderExists(folder)) kept += (kept.empty() ? "" : " and ") + folder;
    const std::string keptNote = kept.empty() ? "" : "\n\nThe files this backup replaced were kept in " + kept + ".";

    if (!failure.empty() || check.good < check.files) {
        std::string why = failure.empty() ? checked : failure + "\n\n" + checked;
        if (const std::string advice = NewerCopies(check, shown); !advice.empty()) why += "\n\n" + advice;
        return {BackupOutcome::Failed, "The backup in " + shown + " is not complete.\n\n" + why + keptNote,
                "backup not complete: " + why, why.substr(0, why.find("\n\n"))};
    }
    // Only a backup checked good makes room: the oldest kept states go.
    try {
        RemoveOldStates(platform::MapPath(destination), {folderName, dataName}, platform::BackupGenerations());
    } catch (const platform::Error &) {
    }
    std::string message = "All files have been copied to " + shown;
    if (withData)
        message += "\n\nThe data database " + request.dataFile + " was copied to " +
                   platform::JoinedPath(dataCopy, platform::MapPath(request.dataFile).filename().string()) + ".";
    message += keptNote;
    return {BackupOutcome::Finished, message,
            "backup finished: " + std::to_string(check.files) + " files checked good in " + shown +
                (withData ? " and " + dataCopy : "") + (kept.empty() ? "" : "; replaced files kept in " + kept),
            {}};
}

}  // namespace

BackupOutcome RunBackup(const BackupRequest &request) {
    const BackupOutcome outcome = Backup(request);
    // A destination refused while a clerk chooses one is no backup that ended; a refused nightly run is.
    if (outcome.kind == BackupOutcome::Finished || outcome.kind == BackupOutcome::Failed ||
        (outcome.kind == BackupOutcome::Refused && request.unattended))
        RecordLastBackup(request.programFolder, {platform::Now(), outcome.kind == BackupOutcome::Finished,
                                                 request.unattended, request.destination, outcome.reason, {}});
    return outcome;
}

}  // namespace backup
