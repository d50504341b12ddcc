// Packing and reading the cells of a snapshot's rows.
#include "platform/dao/row_store.h"

#include <cstring>
#include <vector>

namespace platform::dao {
namespace {

constexpr std::size_t kChunk = 1 << 20;

std::uint64_t ZigZag(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}
std::int64_t UnZigZag(std::uint64_t v) { return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1); }

std::size_t VarintSize(std::uint64_t v) {
    std::size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

char *PutVarint(char *p, std::uint64_t v) {
    while (v >= 0x80) {
        *p++ = static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<char>(v);
    return p;
}

const char *GetVarint(const char *p, std::uint64_t &v) {
    v = 0;
    for (int shift = 0;; shift += 7) {
        auto b = static_cast<unsigned char>(*p++);
        v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
        if (!(b & 0x80)) return p;
    }
}

}  // namespace

char *RowStore::Reserve(std::size_t bytes) {
    if (chunks_.empty() || used_ + bytes > capacity_) {
        capacity_ = bytes > kChunk ? bytes : kChunk;
        chunks_.push_back(std::make_unique<char[]>(capacity_));
        used_ = 0;
    }
    rows_.push_back((static_cast<std::uint64_t>(chunks_.size() - 1) << 32) | used_);
    char *p = chunks_.back().get() + used_;
    used_ += bytes;
    return p;
}

void RowStore::Append(sqlite3_stmt *st, int first, int count) {
    // Each cell is asked of the statement once (its type, then its number or its text and byte count),
    // then packed: every call to the statement for a column costs as much as packing the cell.
    thread_local std::vector<Cell> cells;
    cells.resize(static_cast<std::size_t>(count));
    std::size_t bytes = 0;
    for (int c = 0; c < count; ++c) {
        Cell &cell = cells[static_cast<std::size_t>(c)];
        cell.type = sqlite3_column_type(st, first + c);
        switch (cell.type) {
        case SQLITE_INTEGER:
            cell.i = sqlite3_column_int64(st, first + c);
            bytes += 1 + VarintSize(ZigZag(cell.i));
            break;
        case SQLITE_FLOAT:
            cell.d = sqlite3_column_double(st, first + c);
            bytes += 1 + sizeof(double);
            break;
        case SQLITE_NULL: bytes += 1; break;
        default: {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(st, first + c));
            const auto n = static_cast<std::size_t>(sqlite3_column_bytes(st, first + c));  // that of the text
            cell.s = std::string_view(n ? text : "", n);
            bytes += 1 + VarintSize(n) + n;
        }
        }
    }
    char *p = Reserve(bytes);
    for (const Cell &cell : cells) {
        *p++ = static_cast<char>(cell.type);
        if (cell.type == SQLITE_INTEGER) {
            p = PutVarint(p, ZigZag(cell.i));
        } else if (cell.type == SQLITE_FLOAT) {
            std::memcpy(p, &cell.d, sizeof cell.d);
            p += sizeof cell.d;
        } else if (cell.type != SQLITE_NULL) {
            p = PutVarint(p, cell.s.size());
            if (!cell.s.empty()) std::memcpy(p, cell.s.data(), cell.s.size());
            p += cell.s.size();
        }
    }
}

Cell RowStore::At(std::size_t row, int column) const {
    if (row != seenRow_) {
        const std::uint64_t ref = rows_[row];
        next_ = chunks_[ref >> 32].get() + (ref & 0xffffffffu);
        seen_.clear();
        seenRow_ = row;
    }
    while (static_cast<int>(seen_.size()) <= column) {
        const char *p = next_;
        Cell cell;
        cell.type = static_cast<unsigned char>(*p++);
        std::uint64_t v = 0;
        if (cell.type == SQLITE_INTEGER) {
            p = GetVarint(p, v);
            cell.i = UnZigZag(v);
        } else if (cell.type == SQLITE_FLOAT) {
            std::memcpy(&cell.d, p, sizeof cell.d);
            p += sizeof cell.d;
        } else if (cell.type != SQLITE_NULL) {
            p = GetVarint(p, v);
            cell.s = std::string_view(p, v);
            p += v;
        }
        seen_.push_back(cell);
        next_ = p;
    }
    return seen_[static_cast<std::size_t>(column)];
}

void RowStore::Clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    rows_.clear();
    rows_.shrink_to_fit();
    used_ = capacity_ = 0;
    seenRow_ = static_cast<std::size_t>(-1);
    seen_.clear();
}

}  // namespace platform::dao
