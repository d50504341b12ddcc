// Finding the installation's Jet files as the tools find them: the program folder, the data file
// that global.mdb names and its backup copies, the temporary database.
#include "qvmigrate/plan.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "platform/paths.h"
#include "qvmigrate/child.h"
#include "qvmigrate/config.h"
#include "qvmigrate/errors.h"
#include "qvmigrate/jet.h"
#include "qvmigrate/jet_pages.h"
#include "qvmigrate/place.h"

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

std::string TrimSpaces(const std::string &s) {
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool IsInside(const fs::path &inner, const fs::path &outer) {
    const fs::path rel = inner.lexically_relative(outer);
    return !rel.empty() && *rel.begin() != "..";
}

bool HasControl(const std::string &text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; });
}

// The folder `file` maps `letter` to; a file the tools refuse is a problem of the plan (`refused`).
std::optional<fs::path> MappedIn(const fs::path &file, char letter, Plan &plan, bool &refused) {
    try {
        return ConfiguredDrive(file, letter);
    } catch (const std::exception &e) {
        plan.problems.push_back(std::string("the configuration file cannot be read as the tools read it: ") + e.what());
        refused = true;
        return std::nullopt;
    }
}

fs::path RealFolder(const fs::path &p) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(fs::absolute(p), ec);
    return ec ? fs::absolute(p).lexically_normal() : real;
}

// The databasepath and DatabaseFileName of the first `current` record, as stored, read from the
// file's pages (not through libmdb: --check makes no use of it).
std::pair<std::string, std::string> CurrentRecord(const fs::path &global) {
    const pages::File jet(global);
    for (const pages::Table &table : jet.Tables()) {
        if (!SameNoCase(table.name, "current")) continue;
        auto column = [&](std::string_view name) {
            for (std::size_t c = 0; c < table.columns.size(); ++c)
                if (SameNoCase(table.columns[c].name, name)) return c;
            throw Failure(Failure::Run, "its current table has no column " + std::string(name));
        };
        const std::size_t folder = column("databasepath"), file = column("DatabaseFileName");
        pages::File::Rows rows(jet, table);
        std::vector<pages::Cell> cells;
        if (!rows.Next(cells)) throw Failure(Failure::Run, "its current table is empty");
        auto text = [&](std::size_t c) {
            const Value v = pages::CellValue(jet, table.columns[c], cells[c]);
            return v.kind == Value::Kind::Text ? v.s : std::string();
        };
        return {text(folder), text(file)};
    }
    throw Failure(Failure::Run, "it has no current table");
}

}  // namespace

bool Needed(const Plan &plan, const Database &db) {
    return &db == &plan.databases.front() || db.windows == "C:\\users\\public\\qv32tempdata\\tempdataDTC.mdb" ||
           db.source.parent_path().filename() != "backup";
}

std::string WindowsName(const Tree &tree, const fs::path &file) {
    std::string out = tree.windows;
    for (const auto &part : file.lexically_relative(tree.source)) {
        if (part == ".") continue;
        if (out.back() != '\\') out += '\\';
        out += part.string();
    }
    return out;
}

namespace {

// The program folder: the one given, else QVNWin32 or QVWin32 holding global.mdb.
fs::path ProgramFolder(const Options &o, const fs::path &source, char drive) {
    if (!o.program.empty()) {
        if (o.program.size() < 2 || o.program[1] != ':' || std::toupper(static_cast<unsigned char>(o.program[0])) != drive)
            throw Failure(Failure::Usage, "--program must be a path on drive " + std::string(1, drive) + ": such as " + drive + ":\\QVNWin32");
        return platform::MapBelow(source, o.program.substr(2));
    }
    for (const char *name : {"QVNWin32", "QVWin32"}) {
        const fs::path p = platform::MapBelow(source, name);
        if (fs::is_regular_file(platform::MapBelow(p, "global.mdb"))) return p;
    }
    throw Failure(Failure::Usage, "no program folder: neither QVNWin32 nor QVWin32 under SOURCE holds global.mdb (name it with --program)");
}

// The data folder and file name as the tools read them from global.mdb: trimmed; empty when unknown
// (a problem of the plan).
std::pair<std::string, std::string> DataFileOf(const fs::path &global, const Tree &drivetree, Plan &plan) {
    try {
        // Read in a child process, as every Jet file is read: a damaged one ends no more than that.
        Record record = Isolated([&](std::ostream &) {
            auto [folder, file] = CurrentRecord(global);
            Record out;
            out.Put(folder);
            out.Put(file);
            return out;
        });
        std::string folder = TrimSpaces(record.Text());
        return {folder, TrimSpaces(record.Text())};
    } catch (const std::exception &e) {
        plan.problems.push_back(WindowsName(drivetree, global) + ": the data database is not known: " + e.what());
        return {};
    }
}

// The tree that holds the data folder `folderText` (as global.mdb names it, on a drive): on SOURCE's
// drive, or on another drive given by --data and mapped in the configuration (then added to the
// plan's trees). None, with a problem of the plan, when it cannot be reached.
std::optional<Tree> DataTree(const Options &o, const std::string &folderText, const Tree &drivetree, Plan &plan) {
    const bool onDrive = folderText.size() >= 2 && folderText[1] == ':' && std::isalpha(static_cast<unsigned char>(folderText[0]));
    if (!onDrive) {
        plan.problems.push_back("the data folder " + folderText + " in global.mdb is not on a drive letter, which the tools need");
        return std::nullopt;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(folderText[0])));
    const std::string below = "\\" + folderText.substr(2);
    if (letter == drivetree.windows[0]) {
        const fs::path folder = platform::MapBelow(drivetree.source, below);
        return Tree{folder, drivetree.target / folder.lexically_relative(drivetree.source), WindowsName(drivetree, folder)};
    }
    if (o.data.empty()) {
        plan.problems.push_back("the data folder " + folderText + " lies on drive " + letter + ": give its copy with --data DIR");
        return std::nullopt;
    }
    bool refused = false;
    const auto mapped = MappedIn(o.config, letter, plan, refused);
    if (!mapped) {
        if (!refused)
            plan.problems.push_back("the data folder " + folderText + " lies on drive " + letter + ", which " + o.config.string() +
                                    " does not map: add " + letter + "=<folder> to it and run again");
        return std::nullopt;
    }
    const fs::path folderTarget = platform::MapBelow(*mapped, below);
    std::string windows = std::string(1, letter) + ":";
    for (const auto &part : folderTarget.lexically_relative(*mapped)) windows += "\\" + part.string();
    Tree tree{RealFolder(o.data), folderTarget, windows};
    if (IsInside(tree.target, tree.source) || IsInside(tree.source, tree.target) || tree.source == tree.target)
        throw Failure(Failure::Usage, "--data and the folder drive " + std::string(1, letter) + " maps it to must be separate folders");
    plan.trees.push_back(tree);
    return tree;
}

}  // namespace

Plan MakePlan(const Options &o) {
    Plan plan;
    const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(o.drive)));
    if (!fs::is_directory(o.source)) throw Failure(Failure::Usage, "SOURCE " + o.source.string() + " is not a folder");
    // TARGET as it is named: what it is reached through is written under the link rule, never resolved here.
    const fs::path source = RealFolder(o.source), target = fs::absolute(o.target).lexically_normal();
    if (HasControl(target.string()))
        throw Failure(Failure::Usage, "TARGET holds a line break or another control character, which the configuration file cannot hold");
    const fs::path realTarget = RealFolder(o.target);
    if (source == realTarget || IsInside(realTarget, source) || IsInside(source, realTarget))
        throw Failure(Failure::Usage, "SOURCE and TARGET must be separate folders, neither inside the other");
    const Tree drivetree{source, target, std::string(1, drive) + ":\\"};
    plan.trees.push_back(drivetree);

    const fs::path program = ProgramFolder(o, source, drive);
    const fs::path global = platform::MapBelow(program, "global.mdb");
    if (!fs::is_regular_file(global)) throw Failure(Failure::Usage, "the program folder " + program.string() + " holds no global.mdb");
    plan.programFolder = WindowsName(drivetree, program);
    if (HasControl(plan.programFolder))
        throw Failure(Failure::Usage, "the program folder's name holds a control character, which the configuration file cannot hold");
    std::set<fs::path> listed;
    auto add = [&](const Tree &tree, const fs::path &file) {
        if (listed.insert(file).second)
            plan.databases.push_back({file, tree.target / file.lexically_relative(tree.source), WindowsName(tree, file)});
    };
    add(drivetree, global);

    const auto [folderText, fileName] = DataFileOf(global, drivetree, plan);
    if (!folderText.empty() && !fileName.empty()) {
        if (const std::optional<Tree> dataTree = DataTree(o, folderText, drivetree, plan)) {
            const fs::path data = platform::MapBelow(dataTree->source, fileName);
            if (fs::is_regular_file(data))
                add(*dataTree, data);
            else
                plan.problems.push_back("the data database " + folderText + "\\" + fileName + " named in global.mdb is missing");
            const fs::path backup = platform::MapBelow(dataTree->source, "backup");
            std::vector<fs::path> copies;
            std::error_code ec;
            for (const auto &e : fs::directory_iterator(backup, ec))
                if (e.is_regular_file() && SameNoCase(e.path().extension().string(), ".mdb")) copies.push_back(e.path());
            std::sort(copies.begin(), copies.end());
            for (const auto &c : copies) add(*dataTree, c);
        }
    }
    if (drive == 'C') {
        const fs::path temp = platform::MapBelow(source, "users\\public\\qv32tempdata\\tempdataDTC.mdb");
        if (fs::is_regular_file(temp)) add(drivetree, temp);
    }
    return plan;
}

}  // namespace qvmigrate
