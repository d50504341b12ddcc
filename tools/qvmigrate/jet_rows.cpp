// The rows of a table: the data pages its usage map owns, each row cracked into its cells by the
// table definition (null mask, fixed columns at their offsets, variable ones through the table of
// offsets at the row's end), long values gathered from the rows their pointers name.
#include "qvmigrate/jet_pages.h"

#include <algorithm>
#include <unordered_set>

#include "qvmigrate/errors.h"
#include "qvmigrate/jet.h"

namespace qvmigrate::pages {

namespace {

constexpr unsigned kDeleted = 0x8000, kMoved = 0x4000;
constexpr int kMaxMoves = 8;

}  // namespace

void File::Crack(const Table &t, unsigned long number, const unsigned char *row, std::size_t size,
                 std::vector<Cell> &cells) const {
    auto damaged = [&] { return Failure(Failure::Jet, "[" + t.name + "] row " + std::to_string(number) + " is damaged"); };
    const std::size_t countSize = jet4_ ? 2 : 1;
    if (size < countSize + 1) throw damaged();
    const std::size_t columns = jet4_ ? U16(row) : row[0], mask = (columns + 7) / 8;
    if (mask + countSize + 1 > size) throw damaged();
    const unsigned char *nulls = row + size - mask;
    std::vector<std::size_t> offsets;  // of the variable-length columns, then their end
    const bool anyVariable = std::any_of(t.columns.begin(), t.columns.end(), [](const Column &c) { return !c.fixed; });
    if (anyVariable) {
        if (jet4_) {
            if (mask + 4 > size) throw damaged();
            const std::size_t count = U16(row + size - mask - 2);
            if (mask + 4 + 2 * count > size) throw damaged();
            for (std::size_t i = 0; i <= count; ++i) offsets.push_back(U16(row + size - mask - 4 - 2 * i));
        } else {
            // One-byte offsets, with a table of the entries from which 256, 512, ... are added.
            const std::size_t count = row[size - 1 - mask];
            std::size_t jumps = (size - 1) / 256;
            const std::size_t last = size - 1 - mask - jumps - 1;  // the first offset entry, counted back
            if (mask + jumps + 2 > size || last < count) throw damaged();
            if ((last - count) / 256 < jumps) --jumps;  // the last entry of the jump table is unused
            std::size_t used = 0;
            for (std::size_t i = 0; i <= count; ++i) {
                while (used < jumps && i == row[size - 1 - mask - 1 - used]) ++used;
                offsets.push_back(row[last - i] + 256 * used);
            }
        }
    }
    const std::size_t variable = offsets.empty() ? 0 : offsets.size() - 1;
    const std::size_t fixedInRow = columns >= variable ? columns - variable : 0;
    std::size_t fixedSeen = 0;
    std::vector<Cell> out(t.columns.size());
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
        const Column &col = t.columns[c];
        Cell &cell = out[c];
        const std::size_t bit = static_cast<std::size_t>(col.number);
        cell.null = bit >= mask * 8 || !(nulls[bit / 8] & (1u << (bit % 8)));
        std::size_t from = 0, length = 0;
        bool present = false;
        if (col.fixed && fixedSeen < fixedInRow) {
            ++fixedSeen;
            from = countSize + static_cast<std::size_t>(col.fixedOffset);
            length = static_cast<std::size_t>(col.size);
            present = col.type != kBool;
        } else if (!col.fixed && static_cast<std::size_t>(col.varIndex) < variable) {
            from = offsets[static_cast<std::size_t>(col.varIndex)];
            const std::size_t to = offsets[static_cast<std::size_t>(col.varIndex) + 1];
            if (to < from) throw damaged();
            length = to - from;
            present = true;
        } else if (col.type != kBool) {
            cell.null = true;
        }
        if (cell.null || !present) continue;
        if (from + length > size) throw damaged();
        if (col.type == kMemo || col.type == kOle) {
            try {
                cell.bytes = LongValue(row + from, length);
            } catch (const Failure &e) {  // the page reader raises Jet alone
                throw Failure(Failure::Jet, "[" + t.name + "] row " + std::to_string(number) + " column '" + col.name + "': " + e.what());
            }
        } else
            cell.bytes.assign(reinterpret_cast<const char *>(row + from), length);
    }
    cells = std::move(out);
}

std::string File::LongValue(const unsigned char *field, std::size_t size) const {
    if (size == 0) return {};
    if (size < 12) throw Failure(Failure::Jet, "a long value is cut short");
    const std::uint32_t head = U32(field), length = head & 0x3fffffff;
    if (head & 0x80000000u) return std::string(reinterpret_cast<const char *>(field) + 12, size - 12);
    std::uint32_t next = U32(field + 4);
    // Its pieces lie in the file: a length beyond the file's own size is no length (nor worth memory).
    if (length > pages_ * pageSize_) throw Failure(Failure::Jet, "a long value is longer than its file");
    std::string out;
    if (head & 0x40000000u) {
        const Span s = RowAt(next);
        if (s.size < length) throw Failure(Failure::Jet, "a long value is shorter than its header says");
        return std::string(reinterpret_cast<const char *>(s.page.data() + s.start), length);
    }
    if (head & 0xc0000000u) throw Failure(Failure::Jet, "a long value has unknown flags");
    std::unordered_set<std::uint32_t> read;
    while (out.size() < length) {
        if (next == 0) throw Failure(Failure::Jet, "a long value's pages are missing");
        if (!read.insert(next).second) throw Failure(Failure::Jet, "a long value names a piece of itself as its next");
        const Span s = RowAt(next);
        if (s.size < 4) throw Failure(Failure::Jet, "a long value's page is damaged");
        next = U32(s.page.data() + s.start);
        out.append(reinterpret_cast<const char *>(s.page.data() + s.start + 4), s.size - 4);
    }
    if (out.size() != length) throw Failure(Failure::Jet, "a long value is not as long as its header says");
    return out;
}

File::Rows::Rows(const File &file, const Table &table) : file_(file), table_(table) {
    try {
        pages_ = file.OwnedPages(table);
    } catch (const Failure &e) {
        throw Failure(Failure::Jet, "the page map of [" + table.name + "] cannot be read: " + e.what());
    }
}

bool File::Rows::Next(std::vector<Cell> &cells) {
    while (true) {
        if (page_.empty() || nextRow_ >= rowsOnPage_) {
            page_.clear();
            while (page_.empty() && nextPage_ < pages_.size()) {
                std::vector<unsigned char> p = file_.Page(pages_[nextPage_++]);
                // A page of the map that no longer holds this table's rows is passed over.
                if (p[0] == 1 && U32(p.data() + 4) == table_.definitionPage) page_ = std::move(p);
            }
            if (page_.empty()) break;
            rowsOnPage_ = U16(page_.data() + (file_.jet4_ ? 0x0c : 0x08));
            nextRow_ = 0;
        }
        std::size_t start = 0, size = 0;
        unsigned flags = 0;
        if (!file_.RowOf(page_, nextRow_++, start, size, flags) || size == 0 || (flags & kDeleted)) continue;
        ++count_;
        // A moved row holds where it now stands; the row there is marked deleted, which is no matter.
        Span moved;
        const unsigned char *row = page_.data() + start;
        for (int hops = 0; flags & kMoved; ++hops) {
            if (hops == kMaxMoves || size < 4)
                throw Failure(Failure::Jet, "[" + table_.name + "] row " + std::to_string(count_) + ": its moved row cannot be found");
            try {
                moved = file_.RowAt(U32(row));
            } catch (const Failure &e) {
                throw Failure(Failure::Jet, "[" + table_.name + "] row " + std::to_string(count_) + " has moved to a place that cannot be read: " + e.what());
            }
            row = moved.page.data() + moved.start;
            size = moved.size;
            flags = moved.flags;
        }
        file_.Crack(table_, count_, row, size, cells);
        return true;
    }
    if (count_ != table_.rows)
        throw Failure(Failure::Jet, "[" + table_.name + "]: " + std::to_string(count_) + " rows read, but the table says it holds " +
                       std::to_string(table_.rows));
    return false;
}


}  // namespace qvmigrate::pages
