#pragma once
// The database engine: the DAO object model on SQLite files.
//
// Objects are handles: copying one shares the object; a default-constructed handle is "Nothing".
// Closing a database closes its recordsets. A database or recordset whose last handle goes away
// is closed.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dao/variant.h"

namespace platform::dao {

enum RecordsetType { dbOpenDynaset = 2, dbOpenSnapshot = 4 };
// OpenRecordset options. dbAppendOnly: a dynaset of one table that only adds records; it reads none
// of the table's records and keeps none of those it adds (RecordCount stays 0).
enum RecordsetOption { dbAppendOnly = 8 };

class Recordset;
class Database;
class Workspace;
class QueryDef;

// Fields("name") of a recordset: read as a Variant, assigned between Edit and Update.
class FieldRef {
public:
    Variant Value() const;
    operator Variant() const { return Value(); }
    // Value() == value, without a copy of the field's value (a snapshot's text stays where it is held).
    bool Is(const Variant &value) const;
    FieldRef &operator=(const Variant &value);

private:
    friend class Recordset;
    FieldRef(std::shared_ptr<struct RecordsetImpl> rs, int column) : rs_(std::move(rs)), column_(column) {}
    std::shared_ptr<struct RecordsetImpl> rs_;
    int column_;  // the field's column: a recordset's fields stay as they were when it opened
};

class Recordset {
public:
    Recordset() = default;
    explicit operator bool() const { return static_cast<bool>(impl_); }

    // Above 0 exactly when there is a record; the full count once the recordset has stood on its last record.
    std::int64_t RecordCount() const;
    bool Eof() const;
    void MoveNext();
    void MoveFirst();
    void MoveLast();
    void SetAbsolutePosition(std::int64_t position);  // 0-based; 3021 outside the records

    FieldRef Fields(std::string_view name);  // 3265 when no such field

    void Edit();    // dynaset only (3027 "Cannot update. Database or object is read-only." otherwise)
    void AddNew();
    void Update();  // saves the current record at once

    // Jet criteria: "field = value" joined by "and"; numbers, 'text', #dates#. Equality criteria use an
    // index built on first use, so repeated calls do not scan the recordset.
    void FindFirst(std::string_view criterion);
    bool NoMatch() const;

    void Close();

private:
    friend class Database;
    std::shared_ptr<struct RecordsetImpl> impl_;
};

class Database {
public:
    Database() = default;
    explicit operator bool() const { return static_cast<bool>(impl_); }

    // Runs one Jet SQL statement (no options); raises on failure.
    void Execute(std::string_view sql);
    // Inside a workspace transaction: takes the file's write lock now rather than at the first write,
    // so that what the transaction reads from here on stays as read until it ends (no other program
    // writes meanwhile). Raises what the first write would (3027 for a read-only open, a locked file).
    void LockForWriting();
    // Number of rows the last Execute changed.
    std::int64_t RecordsAffected() const;
    // A table name or a select statement; dbOpenSnapshot (read-only, stable) or dbOpenDynaset;
    // options 0 or dbAppendOnly (a dynaset only; 3001 otherwise).
    Recordset OpenRecordset(std::string_view source, RecordsetType type = dbOpenDynaset, int options = 0);
    // A statement to run many times with other values (a temporary QueryDef): Jet SQL with a "?" for
    // each parameter, and no literal values in an insert's values list. Prepared once; each Execute
    // binds the parameters' values as they stand.
    QueryDef CreateQueryDef(std::string_view sql);
    void Close();

private:
    friend class Workspace;
    std::shared_ptr<struct DatabaseImpl> impl_;
};

class QueryDef {
public:
    QueryDef() = default;
    explicit operator bool() const { return static_cast<bool>(impl_); }
    // The value of the index-th "?" (from 0); it keeps its value through later Executes.
    void SetParameter(int index, Variant value);
    // Runs the statement on its database (which must still be open); raises as Database::Execute does.
    void Execute();

private:
    friend class Database;
    std::shared_ptr<struct QueryDefImpl> impl_;
};

// Rows added to one table by a prepared insert of many rows at a time (a QueryDef of `perStatement` rows;
// the last few by one of a row), which costs far less than a statement a row. A row is in the table
// once a statement took it, at the latest after Flush; failures are raised there. The rows added follow
// one another in the table (the caller's transaction keeps other writers out): RowidRange names them.
class BatchInsert {
public:
    BatchInsert() = default;
    BatchInsert(Database db, std::string_view table, const std::vector<std::string> &columns, int perStatement = 64);
    explicit operator bool() const { return static_cast<bool>(impl_); }
    // The value of a column (its index in `columns`) of the row being added; AddRow adds that row.
    void Set(int column, Variant value);
    void AddRow();
    void Flush();
    // From now on a row that the table refuses for its values (a type, size or constraint it breaks) is
    // left out alone and the others go in; any other failure is still raised.
    void LeaveOutRefusedRows();
    std::int64_t Rows() const;  // the rows in the table, those left out not counted
    // The rowids of the first and the last row added (after a Flush); {0, -1} when none was.
    std::pair<std::int64_t, std::int64_t> RowidRange();

private:
    std::shared_ptr<struct BatchInsertImpl> impl_;
};

class Workspace {
public:
    // Opens a database file (a Windows path). exclusive: no other open of the file may coexist;
    // readOnly: nothing is written; connect: ";pwd=<password>" for a protected database.
    Database OpenDatabase(std::string_view name, bool exclusive = false, bool readOnly = false,
                          std::string_view connect = {});

    // The databases this workspace holds open, in the order they were opened.
    int DatabasesCount() const;
    Database Databases(int index) const;

    // While a transaction is open, every database opened in this workspace on the same file shares it.
    void BeginTrans();
    void CommitTrans();
    void Rollback();
    bool InTransaction() const;

private:
    friend class DBEngineObject;
    std::shared_ptr<struct WorkspaceImpl> impl_;
};

// A transaction of a workspace for the length of a scope: begun when made, rolled back when the scope
// is left without Commit (an error on its way out), so that no path of a run leaves changes half-made.
// The rollback of an unwinding scope swallows its own failure: the error that ends the run is the one
// reported. A rollback wants no statement still reading: the handles of a run are declared after its
// transaction, so that leaving the scope closes them first.
class Transaction {
public:
    explicit Transaction(Workspace &ws);
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    ~Transaction();
    void Commit();    // a failed commit is still rolled back when the scope is left
    void Rollback();  // at once, raising what the rollback meets

private:
    Workspace &ws_;
    bool open_ = true;
};

class DBEngineObject {
public:
    Workspace &Workspaces(int index);  // only 0 exists
    Database OpenDatabase(std::string_view name, bool exclusive = false, bool readOnly = false,
                          std::string_view connect = {}) {
        return Workspaces(0).OpenDatabase(name, exclusive, readOnly, connect);
    }
    DBEngineObject();
private:
    Workspace ws0_;
};

// The engine, created on first use and kept until the process ends.
DBEngineObject &DBEngine();

}  // namespace platform::dao
