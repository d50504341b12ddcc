#pragma once
// Private to platform_dao: the rows of a snapshot, packed: each cell a type byte and its bytes (whole
// numbers as varints), rows in 1 MB chunks, one 8-byte reference per row.
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace platform::dao {

struct Cell {
    int type = SQLITE_NULL;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL
    std::int64_t i = 0;
    double d = 0;
    std::string_view s;
};

class RowStore {
public:
    // Appends the current row of `st`, columns first..first+count-1.
    void Append(sqlite3_stmt *st, int first, int count);
    std::size_t Size() const { return rows_.size(); }
    Cell At(std::size_t row, int column) const;
    void Clear();

private:
    char *Reserve(std::size_t bytes);
    std::vector<std::unique_ptr<char[]>> chunks_;
    std::size_t used_ = 0;      // bytes used in the last chunk
    std::size_t capacity_ = 0;  // size of the last chunk
    std::vector<std::uint64_t> rows_;  // chunk index << 32 | offset
    // The cells of the row read last, unpacked as far as asked: a caller reads a row's fields one by
    // one, and each would otherwise unpack the cells before its own again.
    mutable std::size_t seenRow_ = static_cast<std::size_t>(-1);
    mutable std::vector<Cell> seen_;
    mutable const char *next_ = nullptr;  // the packed cell after the last of seen_
};

}  // namespace platform::dao
