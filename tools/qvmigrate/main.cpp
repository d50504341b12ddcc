// qvmigrate: brings a Windows installation's folders over, converting its Jet databases to the storage
// format, and maps the drive in the configuration file. See qvmigrate(1).
#include <cctype>
#include <fstream>
#include <cstdlib>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qvmigrate/config.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/migrate.h"
#include "qvmigrate/place.h"
#include "qvmigrate/plan.h"
#include "qvmigrate/storage.h"

namespace fs = std::filesystem;
using namespace qvmigrate;

namespace {

constexpr const char *kUsage =
    "usage: qvmigrate [--drive C] [--program 'C:\\QVNWin32'] [--data DIR] [--config FILE] [--replace] SOURCE TARGET\n"
    "       qvmigrate --check [--drive C] [--program ...] [--data DIR] [--config FILE] SOURCE TARGET\n";

Options ParseArguments(int argc, char **argv) {
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        const bool takesValue = arg == "--drive" || arg == "--program" || arg == "--data" || arg == "--config";
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
        } else if (arg == "--replace") {
            o.replace = true;
        } else if (arg == "--check") {
            o.check = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) throw UsageError("SOURCE and TARGET are needed");
    o.source = positional[0];
    o.target = positional[1];
    if (o.config.empty()) o.config = UserConfigFile();
    return o;
}

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
        try {
            if (!o.replace && IsForeignFile(db.target))
                throw std::runtime_error("a file that is not a converted database has its name: move it away or run with --replace");
            const auto written = PlaceFile(db.target, o.replace, true, fs::last_write_time(db.source),
                                           [&](const fs::path &temp) {
                done = Decode(Isolated([&] { return Encode(ConvertJet(db.source, temp, db.windows, std::cerr)); }));
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
                  << (done.password ? ", database password carried over" : "") << "\n";
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
        fs::create_directories(tree.target, ec);
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
            if (fs::is_symlink(status)) {
                tally.Fail(name, "not copied: it is a symbolic link");
            } else if (fs::is_directory(status)) {
                fs::create_directories(to, ec);
                if (ec) tally.Fail(name, ec.message());
            } else if (!fs::is_regular_file(status)) {
                tally.Fail(name, "not copied: it is not a regular file");
            } else if (!databases.count(from)) {
                if (SameNoCase(from.extension().string(), ".ldb"))
                    std::cerr << "qvmigrate: warning: " << name
                              << " is a Jet lock file: the database beside it may have been open when it was copied\n";
                try {
                    const auto written = PlaceFile(to, o.replace, false, fs::last_write_time(from),
                                                   [&](const fs::path &temp) { CopyBytes(from, temp); });
                    if (written == Placed::Kept) {
                        std::cout << "kept      " << name << " (it exists; --replace writes it anew)\n";
                        ++tally.kept;
                    } else {
                        std::cout << "copied    " << name << "\n";
                        ++tally.copied;
                    }
                } catch (const Stopped &) {
                    throw;
                } catch (const std::exception &e) {
                    tally.Fail(name, e.what());
                }
            }
            ec.clear();
        }
    }
}

int Migrate(const Plan &plan, const Options &o) {
    Tally tally;
    ConvertDatabases(plan, o, tally);
    CopyTrees(plan, o, tally);
    for (const auto &p : plan.problems) tally.Fail("installation", p);
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
    if (const char *env = std::getenv("QUORVANT_DRIVES"); env && *env)
        std::cout << "qvmigrate: note: QUORVANT_DRIVES is set here and the tools prefer it to the configuration file\n";
    return 0;
}

int Check(const Plan &plan) {
    unsigned long differences = 0;
    int failed = 0;
    for (const auto &db : plan.databases) {
        try {
            differences += std::stoul(Isolated([&] { return std::to_string(CompareJet(db.source, db.target, db.windows, std::cout)); }));
        } catch (const std::exception &e) {
            std::cout << db.windows << ": cannot be compared: " << e.what() << "\n";
            ++failed;
        }
    }
    for (const auto &p : plan.problems) {
        std::cout << "installation: " << p << "\n";
        ++failed;
    }
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
        if (o.check) return Check(plan);
        InstallStopHandlers();
        return Migrate(plan, o);
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
