#pragma once
// The objects behind the DAO handles.
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dao/connection.h"
#include "platform/dao/dao.h"
#include "platform/dao/row_store.h"

namespace platform::dao {

// Raises 91 for an empty handle, 3420 for a closed object.
[[noreturn]] void RaiseNothing();
[[noreturn]] void RaiseClosed();

// A column value as the engine reads it: DATETIME columns as dates, the rest by storage class.
Variant ToVariant(const Cell &cell, bool isDate);
Variant ColumnVariant(sqlite3_stmt *st, int column, bool isDate);
void BindVariant(sqlite3_stmt *st, int index, const Variant &v);
// The same without copying a text: a Text value is bound where `v` holds it, a date's storage text from
// `text`; both must outlive the binding.
void BindVariant(sqlite3_stmt *st, int index, const Variant &v, std::string &text);

struct WorkspaceImpl;
struct RecordsetImpl;

// The rows of a recordset by a 32-bit hash of their match key for a set of fields (see MatchKey), for
// equality look-ups: entries sorted by hash and then position, and a directory of the first entry
// for each value of the hash's top `bits` bits. About 12 bytes a row; rows whose key only shares
// the hash are told apart by their key.
struct EqualityIndex {
    struct Entry {
        std::uint32_t hash;
        std::uint32_t row;
        bool operator<(const Entry &o) const { return hash != o.hash ? hash < o.hash : row < o.row; }
    };
    std::vector<Entry> entries;
    std::vector<std::uint32_t> directory;
    int bits = 0;
};

struct DatabaseImpl {
    std::shared_ptr<Connection> conn;  // empty once closed
    bool readOnly = false;
    std::int64_t affected = 0;
    std::vector<std::weak_ptr<RecordsetImpl>> recordsets;

    Connection &Conn() const {
        if (!conn) RaiseClosed();
        return *conn;
    }
    void Close();
    ~DatabaseImpl() { Close(); }
};

struct WorkspaceImpl {
    std::vector<std::weak_ptr<DatabaseImpl>> databases;  // in the order they were opened
    int level = 0;                                        // transaction nesting
    std::vector<std::shared_ptr<Connection>> inTransaction;

    std::vector<std::shared_ptr<DatabaseImpl>> Open();  // the databases still open
};

struct Column {
    std::string lower;  // the name the recordset gives the field, in lower case
    bool isDate = false;
    bool updatable = false;  // names a column of the dynaset's table
    std::string tableColumn;
};

// The statement of a snapshot whose rows have not all been read yet. It holds its read transaction
// open, so the rows read later are those of the moment the snapshot opened; a snapshot counted before
// its rows are asked for is counted by a count(*) of the same statement under that transaction.
struct PendingRows {
    Stmt stmt;
    std::string jetText;
    std::string sql;
    int columnCount = 0;
    std::int64_t counted = -1;  // the count(*), once taken
};

struct RecordsetImpl {
    std::shared_ptr<DatabaseImpl> db;  // empty once closed
    RecordsetType type = dbOpenSnapshot;
    bool updatable = false;
    bool appendOnly = false;  // adds records, holds none
    std::vector<Column> columns;
    std::string table;     // dynaset: the table its rows come from
    std::string fetchSql;  // dynaset: one row by rowid
    mutable RowStore rows;             // snapshot: the rows (read so far)
    std::vector<std::int64_t> rowids;  // dynaset: the rows' keys
    mutable std::unique_ptr<PendingRows> pending;  // snapshot: the rest of its rows not read yet

    std::int64_t pos = 0;  // -1: before the first record; Size(): after the last
    std::vector<Variant> current;  // dynaset: the values of the record at `currentPos`
    std::int64_t currentPos = -1;

    enum class Mode { None, Edit, Add } mode = Mode::None;
    std::vector<std::optional<Variant>> buffer;  // assigned values while editing

    std::unordered_map<std::string, std::string> updateSql;  // dynaset: by the set of assigned columns

    bool noMatch = false;
    // FindFirst equality indexes by field-set signature, and the last criterion's parsed shape.
    std::unordered_map<std::string, EqualityIndex> indexes;
    std::shared_ptr<struct FindPlan> findPlan;

    // An updatable dynaset keeps rowids; every other recordset keeps its rows, all read by the time
    // Size answers.
    std::int64_t Size() const {
        if (updatable) return static_cast<std::int64_t>(rowids.size());
        if (pending) ReadRest();
        return static_cast<std::int64_t>(rows.Size());
    }
    // The number of records without reading the rest of a snapshot's rows (RecordCount).
    std::int64_t Count();
    void ReadRest() const;
    Connection &Conn() const {
        if (!db) RaiseClosed();
        return db->Conn();
    }
    bool HasCurrent() const { return pos >= 0 && pos < Size(); }
    void RequireCurrent() const;
    int ColumnIndex(std::string_view name) const;  // -1 when there is no such field
    Variant ValueAt(std::int64_t row, int column);
    Variant Get(int column);
    void Leave();  // leaving the current record: an unfinished edit is dropped
    void Close();
};

// The recordset behind a handle; 91 for an empty handle, 3420 for a closed recordset.
RecordsetImpl &Live(const std::shared_ptr<RecordsetImpl> &impl);

}  // namespace platform::dao
