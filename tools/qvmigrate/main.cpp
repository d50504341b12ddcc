// qvmigrate: brings a Windows installation's folders over, converting its Jet databases to the storage
// format, and maps the drive in the configuration file. See qvmigrate(1).
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/safe_file.h"
#include "qvmigrate/config.h"
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
130 stopped. See qvmigrate(1).
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
            if (++i >= argc) throw UsageError(arg + " needs a value");
            value = argv[i];
        }
        if (arg == "--drive") {
            if (value.size() > 2 || value.empty() || !std::isalpha(static_cast<unsigned char>(value[0])) ||
                (value.size() == 2 && value[1] != ':'))
                throw UsageError("--drive takes a drive letter such as C");
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
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) throw UsageError("SOURCE and TARGET are needed");
    o.source = positional[0];
    o.target = positional[1];
    if (o.config.empty()) o.config = DefaultConfigFile();
    return o;
}

// Whose the installation is: --owner, else (as root) the owner of TARGET when that is not root. A
// migration as root must know it; a check takes root's own view without.
Owner ResolveOwner(const Options &o, bool required) {
    Owner owner;
    if (!o.owner.empty()) {
        const std::string user = o.owner.substr(0, o.owner.find(':'));
        const std::string group = o.owner.find(':') == std::string::npos ? "" : o.owner.substr(o.owner.find(':') + 1);
        const struct passwd *pw = ::getpwnam(user.c_str());
        if (!pw) throw UsageError("--owner: there is no login " + user);
        owner = {true, pw->pw_uid, pw->pw_gid};
        if (!group.empty()) {
            const struct group *gr = ::getgrnam(group.c_str());
            if (!gr) throw UsageError("--owner: there is no group " + group);
            owner.gid = gr->gr_gid;
        }
        if (::geteuid() != 0 && owner.uid != ::geteuid())
            throw UsageError("--owner: only root may give the files to another login");
        return owner;
    }
    if (::geteuid() != 0) return owner;
    struct stat st {};
    if (::stat(o.target.c_str(), &st) == 0 && st.st_uid != 0) return {true, st.st_uid, st.st_gid};
    if (!required) return owner;
    throw UsageError("run as root, qvmigrate gives the installation to the office: name its login and group with "
                     "--owner USER:GROUP, or make TARGET theirs first");
}

// Holds TARGET (and the data folder's target) for the run: a second run into it is refused at once.
class TargetLock {
public:
    TargetLock(const std::vector<fs::path> &folders, bool shared) {
        for (const auto &folder : folders) {
            if (shared && !fs::exists(folder)) continue;
            if (!shared) MakeTargetFolders(folder);
            platform::Fd fd = platform::OpenFile(folder, O_RDONLY | O_DIRECTORY);
            if (!fd) throw std::runtime_error("cannot open " + folder.string() + ": " + std::strerror(errno));
            if (::flock(fd.get(), (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0)
                throw std::runtime_error("another qvmigrate run is writing " + folder.string() + "; nothing was done");
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
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    char head[16] = {};
    in.read(head, sizeof head);
    return in.gcount() < 16 || std::string(head, sizeof head) != std::string("SQLite format 3\0", 16);
}

struct Tally {
    int converted = 0, copied = 0, kept = 0, failed = 0;
    unsigned long long rows = 0;
    void Fail(const std::string &name, const std::string &why) {
        std::cout << "failed    " << name << ": " << why << "\n";
        ++failed;
    }
};

// What a conversion in a child process tells: its counts, then one line a note.
std::string Encode(const Converted &c) {
    std::string out = std::to_string(c.tables) + " " + std::to_string(c.indexes) + " " + std::to_string(c.rows) + " " +
                      (c.password ? "1" : "0");
    for (const auto &n : c.notes) out += "\n" + n;
    return out;
}

Converted Decode(const std::string &text) {
    Converted c;
    std::istringstream in(text);
    int password = 0;
    in >> c.tables >> c.indexes >> c.rows >> password;
    c.password = password != 0;
    in.ignore();
    for (std::string line; std::getline(in, line);) c.notes.push_back(line);
    return c;
}

void ConvertDatabases(const Plan &plan, const Options &o, Tally &tally) {
    for (const auto &db : plan.databases) {
        Converted done;
        std::string said;
        try {
            if (!o.replace && IsForeignFile(db.target))
                throw std::runtime_error("a file that is not a converted database has its name: move it away or run with --replace");
            const auto written = PlaceFile(db.target, o.replace, true, fs::last_write_time(db.source), [&](int fd) {
                // SQLite writes by name: into a folder of this user's alone, then copied in.
                const PrivateFolder stage;
                const fs::path built = stage.Path() / "converted.db";
                done = Decode(Isolated([&](std::ostream &progress) { return Encode(ConvertJet(db.source, built, db.windows, progress)); },
                                       &said));
                CopyBytes(built, fd);
            });
            if (written == Placed::Kept) {
                std::cout << "kept      " << db.windows << " (it exists; --replace writes it anew)\n";
                ++tally.kept;
                continue;
            }
        } catch (const Stopped &) {
            throw;
        } catch (const std::exception &e) {
            tally.Fail(db.windows, e.what());
            continue;
        }
        std::cout << "converted " << db.windows << ": " << Count(done.tables, "table", "tables") << ", "
                  << Count(done.rows, "row", "rows") << ", " << Count(done.indexes, "index", "indexes")
                  << (done.password ? ", database password carried over" : "")
                  << (said.empty() ? "" : " (libmdb said: " + said + ")") << "\n";
        for (const auto &note : done.notes) std::cout << "          note: " << note << "\n";
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
        if (ec) tally.Fail(tree.windows, ec.message());
        for (; it != end; it.increment(ec)) {
            if (ec) {
                tally.Fail(WindowsName(tree, it->path()), ec.message());
                break;
            }
            ThrowIfStopped();
            const fs::path &from = it->path();
            const fs::path to = tree.target / from.lexically_relative(tree.source);
            const std::string name = WindowsName(tree, from);
            const auto status = it->symlink_status(ec);
            try {
                if (fs::is_symlink(status)) {
                    tally.Fail(name, "not copied: it is a symbolic link");
                } else if (fs::is_directory(status)) {
                    MakeTargetFolders(to);
                } else if (!fs::is_regular_file(status)) {
                    tally.Fail(name, "not copied: it is not a regular file");
                } else if (!databases.count(from)) {
                    if (SameNoCase(from.extension().string(), ".ldb"))
                        std::cerr << "qvmigrate: warning: " << name
                                  << " is a Jet lock file: the database beside it may have been open when it was copied\n";
                    const auto written = PlaceFile(to, o.replace, false, fs::last_write_time(from), [&](int fd) { CopyBytes(from, fd); });
                    if (written == Placed::Kept) {
                        std::cout << "kept      " << name << " (it exists; --replace writes it anew)\n";
                        ++tally.kept;
                    } else {
                        std::cout << "copied    " << name << "\n";
                        ++tally.copied;
                    }
                }
            } catch (const Stopped &) {
                throw;
            } catch (const std::exception &e) {
                tally.Fail(name, e.what());
            }
            ec.clear();
        }
    }
}

// The tools open the converted installation as a clerk would (as the office's login when one is
// given): each refusal is a failure naming the file.
int ToolsRefusals(const Plan &plan, const Options &o, const Owner &owner) {
    std::vector<std::string> problems;
    try {
        const std::string found = IsolatedAs(owner, [&] { return ToolsWillRefuse(plan, o); });
        std::istringstream lines(found);
        for (std::string line; std::getline(lines, line);) problems.push_back(line);
    } catch (const std::exception &e) {
        problems.push_back("the tools' opening of the installation could not be tried: " + std::string(e.what()));
    }
    for (const auto &p : problems) std::cout << "failed    " << p << "\n";
    return static_cast<int>(problems.size());
}

int Migrate(const Plan &plan, const Options &o, const Owner &owner) {
    Tally tally;
    ConvertDatabases(plan, o, tally);
    CopyTrees(plan, o, tally);
    for (const auto &p : plan.problems) tally.Fail("installation", p);
    if (!tally.failed) tally.failed += ToolsRefusals(plan, o, owner);
    std::cout << "qvmigrate: " << Count(tally.converted, "database", "databases") << " converted ("
              << Count(tally.rows, "row", "rows") << "), " << Count(tally.copied, "file", "files") << " copied, " << tally.kept
              << " kept, " << tally.failed << " failed\n";
    if (tally.failed) {
        std::cout << "qvmigrate: " << o.config.string() << " not changed: mend the failures above and run again\n";
        return 1;
    }
    const std::string target = plan.trees.front().target.string();
    std::string before;
    try {
        before = UpdateConfig(o.config, o.drive, target, plan.programFolder);
    } catch (const std::exception &e) {
        std::cout << "qvmigrate: " << e.what() << "\n";
        return 1;
    }
    std::cout << "qvmigrate: " << o.config.string() << ": " << o.drive << "=" << target
              << (before.empty() || before == target ? "" : " (was " + before + ")") << ", ProgramFolder=" << plan.programFolder << "\n";
    std::cout << "qvmigrate: " << WhoReadsConfig(o.config) << "\n";
    if (const char *env = std::getenv("QUORVANT_DRIVES"); env && *env)
        std::cout << "qvmigrate: note: QUORVANT_DRIVES is set here and the tools prefer it to the configuration file\n";
    return 0;
}

int Check(const Plan &plan, const Options &o, const Owner &owner) {
    unsigned long differences = 0;
    int failed = 0;
    for (const auto &db : plan.databases) {
        try {
            differences += std::stoul(Isolated(
                [&](std::ostream &out) { return std::to_string(CompareJet(db.source, db.target, db.windows, out)); }, nullptr, true));
        } catch (const std::exception &e) {
            std::cout << db.windows << ": cannot be compared: " << e.what() << "\n";
            ++failed;
        }
    }
    for (const auto &p : plan.problems) {
        std::cout << "installation: " << p << "\n";
        ++failed;
    }
    if (!failed) failed += ToolsRefusals(plan, o, owner);
    std::cout << "qvmigrate: " << Count(plan.databases.size(), "database", "databases") << " compared, "
              << Count(differences, "difference", "differences") << (failed ? ", " + std::to_string(failed) + " failed" : "")
              << "\n";
    return differences || failed ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
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
        SetOwner(owner);
        InstallStopHandlers();
        const TargetLock lock(targets, false);
        return Migrate(plan, o, owner);
    } catch (const UsageError &e) {
        std::cerr << "qvmigrate: " << e.what() << "\n" << kUsage;
        return 2;
    } catch (const Stopped &) {
        std::cout << std::flush;
        std::cerr << "qvmigrate: stopped; the file being written was removed, the files listed above are complete\n";
        return 130;
    } catch (const std::exception &e) {
        std::cerr << "qvmigrate: " << e.what() << "\n";
        return 2;
    }
}
