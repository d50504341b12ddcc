// The trial opening of a converted installation as the tools will open it, and what they will refuse.
#include "qvmigrate/tools_open.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/config.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/paths.h"
#include "platform/safe_file.h"
#include "qvmigrate/errors.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace qvmigrate {

namespace fs = std::filesystem;
namespace dao = platform::dao;

namespace {

constexpr const char *kTempData = "C:\\users\\public\\qv32tempdata\\tempdataDTC.mdb";

bool SameFile(const fs::path &a, const fs::path &b) {
    return fs::absolute(a).lexically_normal() == fs::absolute(b).lexically_normal();
}

// The system denies this login reading `file` (a Windows path, or a Linux one), or a folder above it.
bool NoAccess(const std::string &file) {
    try {
        const fs::path path = file.size() > 1 && file[1] == ':' ? platform::MapPath(file) : fs::path(file);
        return ::access(path.c_str(), R_OK) != 0 && errno == EACCES;
    } catch (const std::exception &) {
        return false;
    }
}

// What the trial found.
class Findings {
public:
    // `file` (a Windows path) failed `e` in the tools' hands, so `loses` (what a clerk cannot do).
    // `denied`: the system's reason, which `e` gives in words, is EACCES; so it is for error 70 (other
    // than a refused link) and when this login may not read `file`.
    void Refused(const std::string &file, const std::exception &e, const std::string &loses, const std::string &passwordReason = {},
                 bool denied = false) {
        const auto *error = dynamic_cast<const platform::Error *>(&e);
        if (error && error->number == 3045) {  // in use by the tools now: that says nothing about them
            found_.push_back({false, false, {}, file + " is in use by the tools now, so the trial opening passed it over"});
            return;
        }
        std::string line = "the tools will refuse it, so " + loses + ": ";
        line += error ? "Run-time error '" + std::to_string(error->number) + "': " + platform::Message(*error)
                      : std::string(e.what());
        if (error && error->number == 3031) line += " (" + passwordReason + ")";
        denied |= (error && error->number == 70 && !error->refusedLink) || NoAccess(file);
        found_.push_back({true, denied, file, line});
    }
    void Problem(const std::string &subject, const std::string &text) { found_.push_back({true, false, subject, text}); }
    bool Any() const { return !found_.empty(); }
    const std::vector<Finding> &All() const { return found_; }

private:
    std::vector<Finding> found_;
};

// Removes, when the trial ends, the lock files that the engine made for it and leaves behind.
class LockFiles {
public:
    void Note(const std::string &windowsPath) {
        try {
            fs::path ldb = platform::MapPath(windowsPath);
            ldb.replace_extension(".ldb");
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(ldb, ec))) made_.push_back(ldb);
        } catch (const std::exception &) {
        }
    }
    ~LockFiles() {
        for (const auto &ldb : made_) platform::RemoveFile(ldb);
    }

private:
    std::vector<fs::path> made_;
};

// The AUDIT folder takes a new file and this month's audit file (when there is one) opens to append,
// as a correction run needs; raises std::system_error, or platform::Error for a link of another user.
void TryAuditFolder() {
    const fs::path folder = platform::MapPath(platform::AppPath() + "\\AUDIT");
    platform::AtomicFile probe(folder / "qvmigrate-trial", platform::Access::LikeFolder);  // removed unwritten
    const platform::Opened month = platform::OpenFile(platform::MapPath(startup::AuditFilePath()), O_WRONLY | O_APPEND | O_NONBLOCK);
    if (!month.refusedLink.empty()) throw platform::RefusedLinkError(month.refusedLink);
    if (!month && errno != ENOENT) throw std::system_error(errno, std::generic_category(), startup::AuditFilePath());
}

// The configuration the tools will read (the edited file in the system file's place when they would
// not read it) maps the drive onto TARGET.
void TryConfiguration(const Options &o, const fs::path &target, Findings &found) {
    const auto files = platform::ConfigurationFiles();
    if (!SameFile(files.front(), o.config) && (files.size() < 2 || !SameFile(files[1], o.config)))
        ::setenv("QUORVANT_SYSTEM_CONFIG", o.config.c_str(), 1);  // the tools would not read it: in the system file's place
    try {
        const platform::Configuration config = platform::ReadConfiguration(platform::ConfigurationFiles());
        for (const auto &drive : config.drives)
            if (drive.letter == o.drive && !SameFile(drive.folder, target)) {
                std::string read;
                for (const auto &f : config.files) read += (read.empty() ? "" : ", ") + f.string();
                found.Problem(std::string(1, o.drive), std::string("the tools will take drive ") + o.drive + ": for " + drive.folder.string() +
                              ", not " + target.string() + " (as " + read + " map it): they will not find the installation");
            }
    } catch (const std::exception &e) {
        found.Refused(o.config.string(), e, "they will not start");
    }
}

// The read-date lock can be taken and the AUDIT folder written, as a correction run needs.
void TryCorrectionFiles(const std::string &programFolder, const std::string &dataFile, Findings &found) {
    const std::string window = "the read-date window will not open";
    const std::string frd = startup::ReadDateLockOf(dataFile);
    try {
        if (!platform::FileLock::TryTake(platform::MapPath(frd)))
            found.Refused(frd, platform::Error(3045, "held"), window);
    } catch (const std::exception &e) {
        found.Refused(frd, e, window);
    }
    const std::string audit = programFolder + "\\AUDIT";
    const std::string lost = "no read date can be corrected (the audit lines cannot be written)";
    try {
        TryAuditFolder();
    } catch (const std::system_error &e) {
        const int err = e.code().value();
        found.Refused(audit, Failure(Failure::Run, std::strerror(err)), lost, {}, err == EACCES);
    } catch (const platform::Error &e) {  // a link of another user, named as the tools name it
        if (e.refusedLink) found.Refused(audit, Failure(Failure::Run, platform::Message(e)), lost);
        else found.Refused(audit, e, lost);
    } catch (const std::exception &e) {
        found.Refused(audit, e, lost);
    }
}

}  // namespace

std::vector<Finding> ToolsWillRefuse(const Plan &plan, const Options &o) {
    Findings found;
    TryConfiguration(o, plan.trees.front().target, found);
    if (found.Any()) return found.All();

    LockFiles locks;
    const std::string global = plan.programFolder + "\\global.mdb";
    locks.Note(global);
    try {
        startup::ReadSettings();
    } catch (const std::exception &e) {
        found.Refused(global, e, "they will not start", "its database password is not the one the tools open it with");
        return found.All();
    }
    const startup::SharedState &st = startup::Shared();
    if (st.DataFolder.empty() || st.DataFileName.empty()) {
        found.Problem(global, "the tools will refuse it, so they will not start: the first record of its current table names no data database");
        return found.All();
    }
    const std::string window = "the read-date window will not open";
    auto &engine = dao::DBEngine();
    try {
        engine.OpenDatabase(global, false, false, startup::kGlobalConnect).Close();
    } catch (const std::exception &e) {
        found.Refused(global, e, window, "its database password is not the one the tools open it with");
    }
    const std::string withoutPassword = "it has a database password, and the tools open it without one";
    locks.Note(st.DataFilePath);
    try {
        // Written as a correction writes it, and rolled back: the file, its .ldb and its journal.
        dao::Database db = engine.OpenDatabase(st.DataFilePath);
        dao::Transaction trial(engine.Workspaces(0));
        db.Execute("create table [qvmigrate trial] (x long)");
        trial.Rollback();
        db.Close();
    } catch (const std::exception &e) {
        found.Refused(st.DataFilePath, e, "no read date can be corrected", withoutPassword);
    }
    TryCorrectionFiles(plan.programFolder, st.DataFilePath, found);
    for (const auto &db : plan.databases) {
        if (db.windows != kTempData) continue;
        locks.Note(kTempData);
        try {
            engine.OpenDatabase(kTempData).Close();
        } catch (const std::exception &e) {
            found.Refused(kTempData, e, window, withoutPassword);
        }
    }
    return found.All();
}

Record EncodeFindings(const std::vector<Finding> &findings) {
    Record out;
    out.Put(findings.size());
    for (const auto &f : findings) {
        out.Put(f.refused);
        out.Put(f.denied);
        out.Put(f.subject);
        out.Put(f.text);
    }
    return out;
}

std::vector<Finding> DecodeFindings(Record record) {
    std::vector<Finding> out;
    for (auto n = record.Number(); n > 0; --n) {
        Finding &f = out.emplace_back();
        f.refused = record.Number() != 0;
        f.denied = record.Number() != 0;
        f.subject = record.Text();
        f.text = record.Text();
    }
    return out;
}

}  // namespace qvmigrate
