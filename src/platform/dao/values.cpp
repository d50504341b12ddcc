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

void BindVariant(sqlite3_stmt *st, int index, const Variant &v, std::string &text) {
    switch (v.kind()) {
    case Variant::Kind::Text: {
        const std::string_view held = v.TextView();  // bound where it is held
        sqlite3_bind_text(st, index, held.data(), static_cast<int>(held.size()), SQLITE_STATIC);
        return;
    }
    case Variant::Kind::Date: StorageText(v.ToDate(), text); break;
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
        StorageText(v.ToDate(), text);
        sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    }
}

}  // namespace platform::dao
