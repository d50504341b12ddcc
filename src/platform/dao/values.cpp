// Column values to Variants and back.
#include <string>

#include "platform/dao/impl.h"
#include "platform/error.h"

namespace platform::dao {

void RaiseNothing() { Raise(91, "Object variable or With block variable not set"); }
void RaiseClosed() { Raise(3420, "Object invalid or no longer set."); }

Variant ToVariant(const Cell &cell, bool isDate) {
    switch (cell.type) {
    case SQLITE_INTEGER: return cell.i;
    case SQLITE_FLOAT: return cell.d;
    case SQLITE_NULL: return {};
    default: break;
    }
    if (isDate)
        if (auto when = ParseStorageText(cell.s)) return *when;
    return std::string(cell.s);
}

Variant ColumnVariant(sqlite3_stmt *st, int column, bool isDate) {
    Cell cell;
    cell.type = sqlite3_column_type(st, column);
    if (cell.type == SQLITE_INTEGER) cell.i = sqlite3_column_int64(st, column);
    else if (cell.type == SQLITE_FLOAT) cell.d = sqlite3_column_double(st, column);
    else if (cell.type != SQLITE_NULL)
        cell.s = std::string_view(reinterpret_cast<const char *>(sqlite3_column_text(st, column)),
                                  static_cast<size_t>(sqlite3_column_bytes(st, column)));
    return ToVariant(cell, isDate);
}

namespace {

// The storage text of a date ("YYYY-MM-DD", with " HH:MM:SS" when there is a time of day), written
// directly: it is bound once per changed record.
void DateText(DateTime when, std::string &out) {
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day ymd{sys_days{day.time_since_epoch()}};
    const hh_mm_ss<seconds> t{when - day};
    auto put = [](char *p, long v, int width) {
        for (int i = width - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
    };
    const int y = static_cast<int>(ymd.year());
    if (y < 1 || y > 9999) {
        out = StorageText(when);
        return;
    }
    char buf[19] = {'0', '0', '0', '0', '-', '0', '0', '-', '0', '0', ' ', '0', '0', ':', '0', '0', ':', '0', '0'};
    put(buf, y, 4);
    put(buf + 5, static_cast<unsigned>(ymd.month()), 2);
    put(buf + 8, static_cast<unsigned>(ymd.day()), 2);
    if (t.to_duration().count() == 0) {
        out.assign(buf, 10);
        return;
    }
    put(buf + 11, t.hours().count(), 2);
    put(buf + 14, t.minutes().count(), 2);
    put(buf + 17, t.seconds().count(), 2);
    out.assign(buf, 19);
}

}  // namespace

void BindVariant(sqlite3_stmt *st, int index, const Variant &v, std::string &text) {
    switch (v.kind()) {
    case Variant::Kind::Text: text = v.ToText(); break;
    case Variant::Kind::Date: DateText(v.ToDate(), text); break;
    default: BindVariant(st, index, v); return;
    }
    sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void BindVariant(sqlite3_stmt *st, int index, const Variant &v) {
    switch (v.kind()) {
    case Variant::Kind::Null: sqlite3_bind_null(st, index); break;
    case Variant::Kind::Long: sqlite3_bind_int64(st, index, v.ToLong()); break;
    case Variant::Kind::Double: sqlite3_bind_double(st, index, v.ToDouble()); break;
    case Variant::Kind::Text: {
        const std::string text = v.ToText();
        sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    case Variant::Kind::Date: {
        std::string text;
        DateText(v.ToDate(), text);
        sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    }
}

}  // namespace platform::dao
