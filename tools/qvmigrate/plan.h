#pragma once
// What a migration converts and copies: the installation's Jet files found as the tools find them,
// and the folder trees whose other files are copied as they are.
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvmigrate {

struct Options {
    char drive = 'C';
    std::string program;            // the program folder as a Windows path; empty: look for it
    std::filesystem::path data;     // copy of the data folder when it lies on another drive
    std::filesystem::path config;
    std::string owner;              // --owner USER[:GROUP]
    bool replace = false;
    bool check = false;
    std::filesystem::path source, target;
};

// A folder tree: the copy of a Windows folder and where it goes.
struct Tree {
    std::filesystem::path source, target;
    std::string windows;  // the Windows path of its root ("C:\", "D:\QVData")
};

struct Database {
    std::filesystem::path source, target;
    std::string windows;
};

struct Plan {
    std::string programFolder;         // Windows path
    std::vector<Tree> trees;           // the drive first
    std::vector<Database> databases;   // the settings database first
    std::vector<std::string> problems;  // what keeps the migration from being complete
};

// Finds the program folder, reads the settings database's `current` record, and lists the Jet files
// to convert. Raises Failure (Usage) when SOURCE, TARGET or the program folder do not fit.
Plan MakePlan(const Options &options);

// Whether a database is one the tools open (the settings database, the data database, the temp data):
// a failure of another (an automatic copy) still leaves an installation that works.
bool Needed(const Plan &plan, const Database &db);

// The Windows path of a file below a tree's root.
std::string WindowsName(const Tree &tree, const std::filesystem::path &file);

}  // namespace qvmigrate
