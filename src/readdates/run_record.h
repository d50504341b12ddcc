#pragma once
// The record of read-date runs, kept in the data database beside the readings so that it commits or
// rolls back with the changes it describes and travels with the data into copies and backups:
//
//   FRDRUN  one row a run: run (its number, counting up), When, ByWhom, the entries as the window held
//           them (billdate, code, fromdate, todate: texts as typed, code " ALL CODES" or one code; every
//           reading of a run has the run's bill date, as stored for the date typed),
//           records (readings changed), kept (an undo: readings left as they were), undoes (an undo:
//           the run it undid), undoneby (the run that undid this one), firstchange and lastchange
//           (the rowids of its first and last FRDCHG rows: the rows between them are its own).
//   FRDCHG  one row a changed reading: run, reading (the reading's rowid in `tbl reading`), its key
//           fields lockey and code, accno (the account as the audit line names it), olddate (the read
//           date it had) and newdate (the one it got). The reading's values are kept as stored: those
//           columns have no type, so no conversion touches them.
//
// The tables are created by the first run that records itself, inside its transaction.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/dao/dao.h"
#include "readdates/read_date_entries.h"
#include "startup/audit.h"

namespace readdates {

// One run as recorded.
struct RunSummary {
    std::int64_t run = 0;
    platform::DateTime when{};
    std::string user;
    RunEntries entries;  // what it was asked to do, as typed
    std::optional<std::int64_t> undoes;  // an undo: the run it undid
    std::int64_t records = 0;
    std::int64_t kept = 0;
    std::optional<std::int64_t> undoneBy;
    std::optional<platform::DateTime> undoesWhen;  // an undo: when the run it undid was made
    bool undoesAnUndo = false;  // an undo whose run was an undo itself
    std::int64_t firstChange = 0, lastChange = -1;  // rowids of its FRDCHG rows
    bool unreadable = false;  // its row holds what no run writes (a `When` that is no date): only `run` is known
};

// The select list of a dynaset of `tbl reading` for a run that records itself: what the run reads and
// changes, and the reading's rowid and read date as stored ("+" keeps a date column's value as it is).
inline constexpr const char *kRecordedColumns = "rowid as rowkey, readdate, +readdate as storedreaddate, lockey, code";

// Records one run inside the caller's transaction on `db`: with the first change, the tables are
// created when missing; the changes go into FRDCHG by a prepared insert of many rows at a time; Apply
// writes what they record into the readings; Finish adds the run's FRDRUN row (and marks the run that
// an undo undid). A correction that changed nothing is not recorded. Raises what the engine raises;
// the caller's rollback then takes everything back.
class RunRecorder {
public:
    RunRecorder(platform::dao::Database db, RunEntries entries, std::optional<std::int64_t> undoes = std::nullopt);
    // One reading to change: its rowid, its key fields and read dates as stored (`after` as it is to be
    // written).
    void Changed(std::int64_t reading, const platform::dao::Variant &lockey, const platform::dao::Variant &code,
                 const std::string &account, const platform::dao::Variant &before, const platform::dao::Variant &after);
    // Gives the readings recorded since the last Apply their `after`, by one statement over their FRDCHG
    // rows: the readings hold exactly what the record says they were given. Raises 3167 when one of
    // them is gone. A reading recorded twice between two Applies is not allowed.
    void Apply();
    // The run's row with its counts; `kept` counts the readings an undo left as they were. An undo
    // whose run was undone meanwhile raises. Returns the run's number (0 for a run not recorded).
    std::int64_t Finish(std::int64_t kept = 0);
    std::int64_t Records() const { return changes_ ? changes_.Rows() : 0; }

private:
    void Begin();
    platform::dao::Database db_;
    RunEntries entries_;
    std::optional<std::int64_t> undoes_;   // an undo: the run it undoes
    platform::DateTime when_{};
    std::int64_t run_ = 0;                 // 0 until begun
    platform::dao::BatchInsert changes_;   // FRDCHG
    std::int64_t applied_ = 0;             // the rows applied so far
    std::int64_t appliedThrough_ = 0;      // ... the rowid of the last of them
};

// What a read-date run (a correction, an undo) does around its work, written once: its audit batch
// opened before anything changes (a missing AUDIT folder fails first); one transaction on the data
// database; the batch's rows added through the run's own open of the database, the batch prepared
// before the commit and its lines written after it. `work(db, audit)` takes the write lock
// (LockForWriting) before it reads what it checks, so that nothing changes between its checks and its
// writes, then reads, changes, records and audits; a failure before the commit rolls everything back
// and is raised. After the commit only the audit file's lines can fail: `auditFailure` tells why
// (empty when they were written).
struct AuditedRun {
    std::string auditFile;  // the run's audit file (Windows path)
    std::string auditFailure;
};
AuditedRun RunAudited(const std::function<void(platform::dao::Database &db, startup::AuditBatch &audit)> &work);

// A run's date and time as the undo window names it, to the second.
inline constexpr const char *kRunTime = "mm/dd/yyyy hh:mm:ss";
// A time in an audit line: on the 12-hour clock of the line's own stamp.
inline constexpr const char *kAuditTime = "mm/dd/yyyy hh:mm:ss AMPM";

// A run as a sentence names it, its times in `timeFormat`: "the read-date correction of <when>", or for
// an undo "the undo of <when> (which undid the correction of <when>)".
std::string RunName(const RunSummary &run, const char *timeFormat);

// The runs recorded in the data database open in `db`, newest first; none when it has no record. A row
// that cannot be read as a run is listed as unreadable.
std::vector<RunSummary> RecordedRuns(platform::dao::Database &db);
// One run; nullopt when there is no such run.
std::optional<RunSummary> RecordedRun(platform::dao::Database &db, std::int64_t run);

// A read date as the audit lines write it: "mm/dd/yyyy", with " hh:mm:ss AM" when it has a time of day;
// Null as "Null", anything that is no date as its text.
std::string ShownReadDate(const platform::dao::Variant &stored);

}  // namespace readdates
