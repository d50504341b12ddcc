// qvmigrate: brings a Windows installation's folders over, converting its Jet databases to the storage
// format, and maps the drive in the configuration file. See qvmigrate(1).
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/copy_tree.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/own_folders.h"
#include "platform/safe_file.h"
#include "qvmigrate/child.h"
#include "qvmigrate/config.h"
#include "qvmigrate/errors.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/migrate.h"
#include "qvmigrate/place.h"
#include "qvmigrate/plan.h"
#include "qvmigrate/storage.h"
#include "qvmigrate/tools_open.h"

namespace fs = std::filesystem;
using namespace qvmigrate;

namespace {

constexpr const char *kUsage = R"(Usage: qvmigrate [OPTION]... SOURCE TARGET
       qvmigrate --check [OPTION]... SOURCE TARGET
Brings a Quorvant 32 installation over from Windows: SOURCE is a copy of the Windows drive (the folder
that was C:\), TARGET the folder that becomes that drive for qvutil. The Jet databases the tools read
are converted, every other file is copied, and the drive is mapped in the configuration file.
  --drive C            the drive letter that SOURCE was and TARGET becomes (default C)
  --program 'C:\DIR'   the program folder (default: QVNWin32 or QVWin32 holding global.mdb)
  --data DIR           the copy of the data folder when it lies on another drive
  --config FILE        the configuration file to write (default: /etc/quorvant/qvutil.conf as root,
                       else ~/.config/quorvant/qvutil.conf)
  --owner USER[:GROUP] the office's login and group, who get the installation (run as root: default
                       the owner and group of TARGET)
  --replace            write target files that exist anew
  --check              convert nothing: compare the converted files with their sources
  --help               show this text and exit
  --version            show the version and exit
Exit status: 0 done (--check: no difference), 1 a file failed (--check: differences), 2 nothing done,
3 done, but a kept file is older than its source, 130 stopped. See qvmigrate(1).
)";

Options ParseArguments(int argc, char **argv) {
    if (platform::PrintHelpOrVersion(argc, argv, "qvmigrate", kUsage)) std::exit(0);
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        const bool takesValue = arg == "--drive" || arg == "--program" || arg == "--data" || arg == "--config" || arg == "--owner";
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        } else if (takesValue) {
            if (++i >= argc) throw Failure(Failure::Usage, arg + " needs a value");
            value = argv[i];
        }
        if (arg == "--drive") {
            if (value.size() > 2 || value.empty() || !std::isalpha(static_cast<unsigned char>(value[0])) ||
                (value.size() == 2 && value[1] != ':'))
                throw Failure(Failure::Usage, "--drive takes a drive letter such as C");
            o.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
        } else if (arg == "--program") {
            o.program = value;
        } else if (arg == "--data") {
            o.data = value;
        } else if (arg == "--config") {
            o.config = value;
        } else if (arg == "--owner") {
            o.owner = value;
        } else if (arg == "--replace") {
            o.replace = true;
        } else if (arg == "--check") {
            o.check = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw Failure(Failure::Usage, "unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) throw Failure(Failure::Usage, "SOURCE and TARGET are needed");
    o.source = positional[0];
    o.target = positional[1];
    if (o.config.empty()) o.config = DefaultConfigFile();
    return o;
}

// A user or group named by name or number; nullopt when there is none.
std::optional<uid_t> UserId(const std::string &name, gid_t *loginGroup) {
    const struct passwd *pw = ::getpwnam(name.c_str());
    if (!pw && !name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
        const auto id = static_cast<uid_t>(std::stoul(name));
        pw = ::getpwuid(id);
        if (!pw) return id;
    }
    if (!pw) return std::nullopt;
    *loginGroup = pw->pw_gid;
    return pw->pw_uid;
}
std::optional<gid_t> GroupId(const std::string &name) {
    if (const struct group *gr = ::getgrnam(name.c_str())) return gr->gr_gid;
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) return static_cast<gid_t>(std::stoul(name));
    return std::nullopt;
}

// Whose the installation is: --owner, else (as root) the owner of TARGET when that is not root. A
// migration as root must know it; a check takes root's own view without.
Owner ResolveOwner(const Options &o, bool required) {
    Owner owner;
    if (!o.owner.empty()) {
        const auto colon = o.owner.find(':');
        const std::string user = o.owner.substr(0, colon), group = colon == std::string::npos ? "" : o.owner.substr(colon + 1);
        gid_t loginGroup = static_cast<gid_t>(-1);
        const auto uid = UserId(user, &loginGroup);
        if (!uid) throw Failure(Failure::Usage, "--owner: there is no login " + user);
        const auto gid = group.empty() ? std::optional<gid_t>(loginGroup) : GroupId(group);
        if (!gid) throw Failure(Failure::Usage, "--owner: there is no group " + group);
        if (*gid == static_cast<gid_t>(-1)) throw Failure(Failure::Usage, "--owner: uid " + user + " has no login: name its group too (USER:GROUP)");
        owner = {true, *uid, *gid};
        if (::geteuid() != 0 && owner.uid != ::geteuid())
            throw Failure(Failure::Usage, "--owner: only root may give the files to another login");
        return owner;
    }
    if (::geteuid() != 0) return owner;
    struct stat st {};
    if (::stat(o.target.c_str(), &st) == 0 && st.st_uid != 0) return {true, st.st_uid, st.st_gid};
    if (!required) return owner;
    throw Failure(Failure::Usage, "run as root, qvmigrate gives the installation to the office: name its login and group with "
                     "--owner USER:GROUP, or make TARGET theirs first");
}

// Holds TARGET (and the data folder's target) for the run: a second run into it is refused at once.
class TargetLock {
public:
    TargetLock(const std::vector<fs::path> &folders, bool shared) {
        for (const auto &folder : folders) {
            if (shared && !fs::exists(folder)) continue;
            if (!shared) MakeTargetFolders(folder);
            platform::Opened fd = platform::TryLockFolder(folder, shared);
            if (!fd && errno == EWOULDBLOCK)
                throw Failure(Failure::Run, "another qvmigrate run is writing " + folder.string() + "; nothing was done");
            if (!fd.refusedLink.empty())
                throw Failure(Failure::Run, platform::LinkOfAnotherUser(fd.refusedLink.string(), "written"));
            if (!fd) throw Failure(Failure::Run, "cannot open " + folder.string() + ": " + std::strerror(errno));
            held_.push_back(std::move(fd));
        }
    }

private:
    std::vector<platform::Fd> held_;
};

std::string Count(unsigned long long n, const std::string &one, const std::string &many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A file at a database's place that is not one this format wrote: most likely a Jet file copied
// as it was by an earlier run that could not convert it.
bool IsForeignFile(const fs::path &p) {
    const platform::Fd fd = platform::OpenFile(p, O_RDONLY | O_NONBLOCK);
    char head[16] = {};
    if (!fd) return false;  // missing, or a link the writing refuses with its own message
    return ::pread(fd.get(), head, sizeof head, 0) < 16 || std::memcmp(head, "SQLite format 3", 16) != 0;
}

struct Tally {
    int converted = 0, copied = 0, kept = 0, older = 0, failed = 0;
    unsigned long long rows = 0;
    bool essential = false;  // a file failed that the tools need (not only old automatic copies and plain files)
    void Fail(const std::string &name, const std::string &why, bool needed = false) {
        Say(std::cout, "failed    " + name + ": " + why);
        ++failed;
        essential |= needed;
    }
    // A target that exists and is kept; one older than its source is said to be so.
    void Kept(const std::string &name, Placed placed, bool database) {
        Say(std::cout, "kept      " + name +
                           (placed == Placed::KeptOlder ? std::string(" (the source is newer; use --replace to ") +
                                                              (database ? "convert" : "copy") + " it again)"
                                                        : " (it exists; --replace writes it anew)"));
        ++kept;
        older += placed == Placed::KeptOlder;
    }
};

void ConvertDatabases(const Plan &plan, const Options &o, Tally &tally) {
    for (const auto &db : plan.databases) {
        Converted done;
        std::string said;
        try {
            if (!o.replace && IsForeignFile(db.target))
                throw Failure(Failure::Run, "a file that is not a converted database has its name: move it away or run with --replace");
            const auto written = PlaceFile(db.target, o.replace, true, fs::last_write_time(db.source), [&](int fd) {
                done = DecodeConverted(Isolated(
                    [&](std::ostream &progress) { return EncodeConverted(ConvertJet(db.source, fd, db.target, db.windows, progress)); }, &said));
            });
            if (written != Placed::Written) {
                tally.Kept(db.windows, written, true);
                continue;
            }
        } catch (const std::exception &e) {
            if (Is(e, Failure::Stopped)) throw;
            tally.Fail(db.windows, e.what(), Needed(plan, db));
            continue;
        }
        Say(std::cout, "converted " + db.windows + ": " + Count(done.tables, "table", "tables") + ", " + Count(done.rows, "row", "rows") +
                           ", " + Count(done.indexes, "index", "indexes") + (done.password ? ", database password carried over" : "") +
                           (said.empty() ? "" : " (libmdb said: " + said + ")"));
        for (const auto &note : done.notes) Say(std::cout, "          note: " + note);
        ++tally.converted;
        tally.rows += done.rows;
    }
}

// Every other file of the trees, copied as it is; folders are made even when empty.
void CopyTrees(const Plan &plan, const Options &o, Tally &tally) {
    std::set<fs::path> databases;
    for (const auto &db : plan.databases) databases.insert(db.source);
    for (const auto &tree : plan.trees) {
        std::error_code ec;
        fs::recursive_directory_iterator it(tree.source, ec), end;
        if (ec) tally.Fail(tree.windows, ec.message(), true);
        for (; it != end; it.increment(ec)) {
            if (ec) {
                tally.Fail(WindowsName(tree, it->path()), ec.message(), true);
                break;
            }
            ThrowIfStopped();
            const fs::path &from = it->path();
            const fs::path to = tree.target / from.lexically_relative(tree.source);
            const std::string name = WindowsName(tree, from);
            const auto status = it->symlink_status(ec);
            try {
                if (fs::is_symlink(status)) {
                    tally.Fail(name, "not copied: it is a symbolic link (to " + fs::read_symlink(from, ec).string() +
                                         "): put a copy of what it names in its place in SOURCE (cp -a --dereference), or remove it, "
                                         "and run again", true);
                } else if (fs::is_directory(status)) {
                    MakeTargetFolders(to);
                } else if (!fs::is_regular_file(status)) {
                    tally.Fail(name, "not copied: it is not a regular file: remove it from SOURCE and run again");
                } else if (!databases.count(from)) {
                    const auto written = PlaceFile(to, o.replace, false, fs::last_write_time(from), [&](int fd) { CopyBytes(from, fd, to); });
                    if (written != Placed::Written) {
                        tally.Kept(name, written, false);
                    } else {
                        Say(std::cout, "copied    " + name);
                        ++tally.copied;
                    }
                    if (SameNoCase(from.extension().string(), ".ldb")) {
                        fs::path mdb = from;
                        mdb.replace_extension(".mdb");
                        Say(std::cout, "          note: a Jet lock file: " + WindowsName(tree, mdb) +
                                           " may have been open when the drive was copied, and then misses what was not yet written. "
                                           "Copy the drive again with every program closed on Windows, or check the data with the "
                                           "office; the lock file itself is of no use here and may be removed");
                    }
                }
            } catch (const std::exception &e) {
                if (Is(e, Failure::Stopped)) throw;
                tally.Fail(name, e.what());
            }
            ec.clear();
        }
    }
}

// The logins the installation is tried as: the office's owner (or this login), and, when --owner names
// the office's group, a clerk of it who is not its owner.
std::vector<Login> TrialLogins(const Options &o, const Owner &owner) {
    if (!owner.given || ::geteuid() != 0) return {OwnLogin()};
    std::vector<Login> logins{LoginOf(owner.uid, owner.gid)};
    if (o.owner.find(':') != std::string::npos) logins.push_back(GroupMember(owner.gid, owner.uid));
    return logins;
}

// The tools open the installation as the office's logins would: each refusal a failure line naming
// the file, once for all the logins it holds for. Returns how many.
int TryTools(const Plan &plan, const Options &o, const Owner &owner) {
    const auto logins = TrialLogins(o, owner);
    std::vector<std::pair<Finding, std::vector<std::string>>> found;  // a finding, the logins it holds for
    for (const auto &login : logins) {
        std::vector<Finding> findings;
        try {
            findings = DecodeFindings(IsolatedAs(login, [&] { return EncodeFindings(ToolsWillRefuse(plan, o)); }));
        } catch (const std::exception &e) {
            findings = {{true, false, "the tools' opening of the installation could not be tried", e.what()}};
        }
        for (const Finding &finding : findings) {
            auto at = std::find_if(found.begin(), found.end(), [&](const auto &f) { return f.first == finding; });
            if (at == found.end()) at = found.insert(found.end(), {finding, {}});
            const struct group *gr = ::getgrgid(owner.gid);
            at->second.push_back(login.name + (&login == &logins.front() ? " (the owner)"
                                                                          : " (of group " + (gr ? gr->gr_name : std::to_string(owner.gid)) + ")"));
        }
    }
    int failed = 0;
    for (const auto &[finding, who] : found) {
        const std::string text = (finding.subject.empty() ? "" : finding.subject + ": ") +
                                 (who.size() < logins.size() ? "for " + who.front() + ", " : "") + finding.text;
        Say(std::cout, (finding.refused ? "failed    " : "          note: ") + text);
        failed += finding.refused;
    }
    const bool denied = std::any_of(found.begin(), found.end(), [](const auto &f) { return f.first.denied; });
    if (denied && owner.given)
        Say(std::cout, "qvmigrate: where a login may not read or write: every file and folder below " + plan.trees.front().target.string() +
                           " that qvmigrate wrote or kept is the office's (files 0664, folders 2775); the office's group must also "
                           "be able to enter each folder above it (chmod o+x, or g+x with the folder's group)");
    return failed;
}

int Migrate(const Plan &plan, const Options &o, const Owner &owner, bool variablesSet) {
    Tally tally;
    ConvertDatabases(plan, o, tally);
    CopyTrees(plan, o, tally);
    SaveMadeFiles();
    for (const auto &p : plan.problems) tally.Fail("installation", p, true);
    Say(std::cout, "qvmigrate: " + Count(tally.converted, "database", "databases") + " converted (" + Count(tally.rows, "row", "rows") +
                       "), " + Count(tally.copied, "file", "files") + " copied, " + std::to_string(tally.kept) + " kept" +
                       (tally.older ? " (" + std::to_string(tally.older) + " older than their source)" : "") + ", " +
                       std::to_string(tally.failed) + " failed");
    const std::string target = plan.trees.front().target.string();
    const std::string lines = std::string(1, o.drive) + "=" + target + " and ProgramFolder=" + plan.programFolder;
    if (tally.failed) {
        Say(std::cout, "qvmigrate: " + o.config.string() + " not changed: mend each failure above and run again (what was written is kept)" +
                           (tally.essential ? ""
                                            : "; or, as only automatic copies and plain files failed, remove those from SOURCE first, "
                                              "or map the drive by hand: " + lines + " in " + o.config.string()));
        return 1;
    }
    ConfigBefore before;
    std::string was;
    try {
        if (auto mapped = ConfiguredDrive(o.config, o.drive)) was = mapped->string();
    } catch (const std::exception &) {
    }
    try {
        before = UpdateConfig(o.config, o.drive, target, plan.programFolder);
    } catch (const std::exception &e) {
        Say(std::cout, std::string("qvmigrate: ") + e.what());
        return 1;
    }
    if (TryTools(plan, o, owner)) {
        std::string undone = "put back as it was";
        try {
            RestoreConfig(o.config, before);
        } catch (const std::exception &e) {
            undone = std::string("left with the new lines, as putting it back failed: ") + e.what();
        }
        Say(std::cout, "qvmigrate: " + o.config.string() + " " + undone + ": the tools would refuse the installation as the lines above "
                           "say; mend them and run again");
        return 1;
    }
    Say(std::cout, "qvmigrate: " + o.config.string() + ": " + std::string(1, o.drive) + "=" + target +
                       (was.empty() || was == target ? "" : " (was " + was + ")") + ", ProgramFolder=" + plan.programFolder);
    Say(std::cout, "qvmigrate: " + WhoReadsConfig(o.config));
    if (variablesSet) Say(std::cout, "qvmigrate: note: QUORVANT_DRIVES is set here and the tools prefer it to the configuration file");
    if (tally.older) {
        Say(std::cout, "qvmigrate: " + Count(tally.older, "file was", "files were") +
                           " kept though the source is newer: the installation holds the older data; run again with --replace to bring "
                           "the newer over");
        return 3;
    }
    return 0;
}

int Check(const Plan &plan, const Options &o, const Owner &owner) {
    unsigned long differences = 0;
    int failed = 0;
    for (const auto &db : plan.databases) {
        try {
            differences += Isolated(
                               [&](std::ostream &out) {
                                   Record count;
                                   count.Put(CompareJet(db.source, db.target, db.windows, out));
                                   return count;
                               },
                               nullptr, true)
                               .Number();
        } catch (const std::exception &e) {
            Say(std::cout, db.windows + ": cannot be compared: " + e.what());
            ++failed;
        }
    }
    for (const auto &p : plan.problems) {
        Say(std::cout, "installation: " + p);
        ++failed;
    }
    if (!failed) failed += TryTools(plan, o, owner);
    Say(std::cout, "qvmigrate: " + Count(plan.databases.size(), "database", "databases") + " compared, " +
                       Count(differences, "difference", "differences") + (failed ? ", " + std::to_string(failed) + " failed" : ""));
    return differences || failed ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
    platform::KeepRootToItsOwnFolders();
    // The tools of the office's logins see none of this process's drive variables: neither does the run.
    bool variablesSet = false;
    for (const char *v : {"QUORVANT_DRIVES", "QUORVANT_PROGRAM_FOLDER"}) {
        const char *value = std::getenv(v);
        variablesSet |= value && *value;
        ::unsetenv(v);
    }
    try {
        const Options o = ParseArguments(argc, argv);
        const Plan plan = MakePlan(o);
        std::vector<fs::path> targets;
        for (const auto &tree : plan.trees) targets.push_back(tree.target);
        if (o.check) {
            const Owner owner = ResolveOwner(o, false);
            const TargetLock lock(targets, true);
            return Check(plan, o, owner);
        }
        const Owner owner = ResolveOwner(o, true);
        SetOwner(owner, targets);
        platform::StopCopiesOnSignals();
        const TargetLock lock(targets, false);
        return Migrate(plan, o, owner, variablesSet);
    } catch (const std::exception &e) {
        if (Is(e, Failure::Stopped)) {
            SaveMadeFiles();
            std::cout << std::flush;
            std::cerr << "qvmigrate: stopped; the file being written was removed, the files listed above are complete\n";
            return 130;
        }
        Say(std::cerr, std::string("qvmigrate: ") + e.what());
        if (Is(e, Failure::Usage)) std::cerr << "Try 'qvmigrate --help' for more information.\n";
        return 2;
    }
}
