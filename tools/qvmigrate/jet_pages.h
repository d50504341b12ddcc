#pragma once
// A second reading of Jet 3 and Jet 4 files, straight from their pages (decoded when the file is
// encoded), sharing nothing with libmdb or with the conversion of cells: the catalog, each user table's
// definition (its columns, and every index with its key columns as the definition pages hold them) and
// the rows, each cell as its stored bytes, and each cell decoded anew into a value of the storage
// format. --check compares converted files through it and reads the settings database's `current`
// record with it; the conversion takes the index definitions from it (libmdb loses those whose logical
// number differs from their physical one).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/safe_file.h"
#include "qvmigrate/value.h"

namespace qvmigrate::pages {

// Little-endian fields.
inline std::uint16_t U16(const unsigned char *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t U32(const unsigned char *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}

// The stored type codes of Jet columns.
enum Type : int {
    kBool = 1, kByte = 2, kInt = 3, kLong = 4, kMoney = 5, kFloat = 6, kDouble = 7, kDateTime = 8,
    kBinary = 9, kText = 10, kOle = 11, kMemo = 12, kGuid = 15, kNumeric = 16
};

struct Column {
    std::string name;
    int type = 0;
    int number = 0;       // its number in the row: the bit of the null mask
    int varIndex = 0;     // a variable-length column: its entry in the row's table of offsets
    int fixedOffset = 0;  // a fixed-length column: where it starts after the row's column count
    int size = 0;
    bool fixed = false;
    int precision = 0, scale = 0;  // Decimal
};

struct Index {
    std::string name;
    std::vector<std::size_t> columns;  // positions in Table::columns
    std::vector<bool> descending;
    bool unique = false, primary = false;
    std::string unreadable;  // why its key columns cannot be told; empty when they can
};

struct Table {
    std::string name;
    std::uint32_t definitionPage = 0;
    std::uint32_t rows = 0;  // the count the definition holds
    std::vector<Column> columns;  // in column-number order, as libmdb lists them
    std::vector<Index> indexes;   // every index but the hidden ones of relationships
};

// One cell as stored: NULL (for Yes/No: No), or its bytes, a long value gathered from its pages.
struct Cell {
    bool null = true;
    std::string bytes;
};

class File {
public:
    // Opens the file read-only (no link of another user followed) and reads its header, catalog and
    // table definitions. Raises Failure (Jet).
    explicit File(const std::filesystem::path &path);
    // The same for the file open as `fd` (which stays the caller's).
    explicit File(int fd);
    ~File();
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    bool Jet4() const { return jet4_; }
    // The first 0x98 bytes of the file (the header page's fixed part).
    const std::string &Header() const { return header_; }
    int CodePage() const { return codePage_; }  // the database's code page (the texts of Jet 3)
    const std::vector<Table> &Tables() const { return tables_; }
    // UTF-8 of text bytes as the file stores them (Jet 4: UTF-16LE or its compressed form; Jet 3: the
    // file's code page).
    std::string Text(const std::string &bytes) const;

    // The rows of a table in the file's order: the pages its usage map owns, each page's rows in
    // their order, deleted rows passed over and moved rows read where they now stand.
    class Rows {
    public:
        Rows(const File &file, const Table &table);
        // Fills `cells` (one per column); false after the last row. Raises Failure (Jet) for a damaged
        // row, a broken long value, or a row count that differs from the definition's.
        bool Next(std::vector<Cell> &cells);
        unsigned long Count() const { return count_; }

    private:
        const File &file_;
        const Table &table_;
        std::vector<std::uint32_t> pages_;
        std::size_t nextPage_ = 0;
        std::vector<unsigned char> page_;
        int rowsOnPage_ = 0, nextRow_ = 0;
        unsigned long count_ = 0;
    };

private:
    friend class Rows;
    void Read();
    struct Span {
        std::vector<unsigned char> page;
        std::size_t start = 0, size = 0;
        unsigned flags = 0;
    };
    std::vector<unsigned char> Page(std::uint32_t number) const;
    // Row `row` of a page read by Page(); false when the page has no such row.
    bool RowOf(const std::vector<unsigned char> &page, int row, std::size_t &start, std::size_t &size,
               unsigned &flags) const;
    Span RowAt(std::uint32_t pageRow) const;  // a row named by (page << 8) | row
    std::vector<unsigned char> Definition(std::uint32_t page) const;
    Table ReadTable(std::uint32_t page, const std::string &name) const;
    std::vector<std::uint32_t> OwnedPages(const Table &table) const;
    void Crack(const Table &table, unsigned long number, const unsigned char *row, std::size_t size,
               std::vector<Cell> &cells) const;
    std::string LongValue(const unsigned char *field, std::size_t size) const;

    platform::Fd fd_;
    std::string header_;
    bool jet4_ = false;
    std::size_t pageSize_ = 0;
    std::uint64_t pages_ = 0;
    int codePage_ = 0;
    std::uint32_t key_ = 0;  // an encoded file's key; 0: not encoded
    std::vector<Table> tables_;
};

// A Jet file opened read-only under the link rule (another user's link refused); Failure (Jet) with the
// system's reason.
platform::Fd OpenForReading(const std::filesystem::path &path);

// UTF-16 code units of Jet 4 text bytes: plain UTF-16LE, or the compressed form (FF FE, then one byte
// a character, a 0 byte switching to and from two-byte characters).
std::u16string Jet4Units(const std::string &bytes);

// The column type of the storage format for a Jet column type (DATETIME, INTEGER, REAL, TEXT, BLOB);
// empty for a type that is not converted.
std::string StorageType(int type);

// What the storage format holds for a stored cell of `column`, decoded here anew: a date from its day
// number, a Decimal from its bytes, a GUID from its 16 bytes, Jet 3 text through iconv alone (PlainCodePageText). A fixed
// size cell of another size comes out as a text saying so.
Value CellValue(const File &file, const Column &column, const Cell &cell);

}  // namespace qvmigrate::pages
