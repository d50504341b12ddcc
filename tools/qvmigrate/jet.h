#pragma once
// Reading a Jet 3 or Jet 4 database (.mdb) through libmdb: its tables, columns, password and rows,
// each cell already converted to the storage format's value; the indexes as the table definitions
// hold them (jet_pages.h), checked against libmdb's where libmdb reads them whole.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "qvmigrate/errors.h"
#include "qvmigrate/value.h"

namespace qvmigrate {

struct JetColumn {
    std::string name;
    int type = 0;        // libmdb's MDB_* type
    int scale = 0;       // Numeric only
    int precision = 0;   // Numeric only
    std::string storageType;  // the column type in the storage format: DATETIME, INTEGER, REAL, TEXT, BLOB
};

struct JetIndex {
    std::string name;
    std::vector<int> columns;     // positions in the table's columns
    std::vector<bool> descending;
    bool unique = false, primary = false;
};

struct JetTable {
    std::string name;
    std::vector<JetColumn> columns;
    std::vector<JetIndex> indexes;
    unsigned long rows = 0;  // the row count the table definition holds
};

class JetFile {
public:
    // Opens the file read-only and reads its catalog and table definitions; raises Failure (Jet) when the
    // file cannot be read (naming the system's reason), when libmdb cannot read it, and for an index
    // whose key columns cannot be told (naming the table and the index).
    explicit JetFile(const std::filesystem::path &file);
    ~JetFile();
    JetFile(const JetFile &) = delete;
    JetFile &operator=(const JetFile &) = delete;

    const std::vector<JetTable> &Tables() const { return tables_; }
    // The database password decoded from the header; empty when the file has none.
    const std::string &Password() const { return password_; }

    class Rows;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<JetTable> tables_;
    std::string password_;
};

// Walks the rows of one table in the file's order; Next fills `row` and returns false at the end. Next
// raises Failure: Value for a cell the storage cannot hold (a date outside years 100-9999, an exact
// number a REAL would change), Jet when the rows read differ from the
// table's own row count or a long value is broken.
class JetFile::Rows {
public:
    Rows(JetFile &file, std::size_t table);
    ~Rows();
    bool Next(Row &row);
    unsigned long Count() const { return count_; }
    // The cells of minus zero read so far: SQLite keeps them as 0.
    unsigned long MinusZeros() const;

private:
    struct State;
    std::unique_ptr<State> st_;
    unsigned long count_ = 0;
};

// Jet's date (days since 1899-12-30, the fraction the time of day) as storage text, to the nearest
// second; false when it lies outside the storage range (years 100-9999).
bool JetDateText(double days, std::string &out);

// UTF-8 of Jet 4 text bytes: UTF-16LE, or the compressed form that starts with FF FE.
std::string Jet4Text(const unsigned char *bytes, std::size_t size);

// A Replication ID's 16 bytes as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: the first three groups are
// stored little-endian, the last two byte by byte.
std::string GuidText(const unsigned char *bytes);

}  // namespace qvmigrate
