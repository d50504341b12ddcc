#pragma once
// Converting one Jet file to the storage format, and comparing a converted file with its source.
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "qvmigrate/child.h"

namespace qvmigrate {

struct Converted {
    std::size_t tables = 0, indexes = 0;
    unsigned long long rows = 0;
    bool password = false;
    std::vector<std::string> notes;
};

// Writes the tables, rows, indexes and password of `jetFile` into the new, empty SQLite file open as
// `out` (to become `target`), and checks it. Progress per table goes to `progress`, headed by `name`.
// Raises Failure (Jet, Value, Storage or Stopped).
Converted ConvertJet(const std::filesystem::path &jetFile, int out, const std::filesystem::path &target, const std::string &name,
                     std::ostream &progress);

// What a conversion done in a child process reports to its parent.
Record EncodeConverted(const Converted &converted);
Converted DecodeConverted(Record record);

// Compares every table of a converted file with its Jet source, cell by cell (rows matched by their
// number, the rowid), and prints one line per difference: changed, added and missing rows, missing
// tables and columns, a different password. Returns the number of differences.
unsigned long CompareJet(const std::filesystem::path &jetFile, const std::filesystem::path &converted,
                         const std::string &name, std::ostream &out);

}  // namespace qvmigrate
