// The undo of a recorded run: one transaction over the readings the run changed, audited and recorded.
#include "undo/undo_run.h"

#include <algorithm>
#include <optional>

#include "platform/clock.h"
#include "platform/error.h"
#include "readdates/run_record.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace undo {
namespace {

namespace dao = platform::dao;
using dao::Variant;
using readdates::ShownReadDate;

// The run's changed readings are taken in slices of this many FRDCHG rows, so that a run of any size
// is undone in bounded memory.
constexpr std::int64_t kSlice = 8192;

using startup::TextOf;

// The readings of one slice, visited in the order of their rows: each change is matched with its
// reading, and given back when the reading still is as the run left it.
class Slice {
public:
    Slice(dao::Database &db, std::int64_t run, std::int64_t from, std::int64_t to, Variant billdate)
        : billdate_(std::move(billdate)) {
        const std::string rows = "FRDCHG where rowid between " + std::to_string(from) + " and " + std::to_string(to) +
                                 " and run = " + std::to_string(run);
        changes = db.OpenRecordset("select * from " + rows + " order by reading", dao::dbOpenSnapshot);
        readings = db.OpenRecordset(std::string("select +billdate as storedbilldate, ") + readdates::kRecordedColumns +
                                        " from [tbl reading] where rowid in (select reading from " + rows +
                                        ") order by rowid",
                                    dao::dbOpenDynaset);
    }
    // Moves `readings` to the change's reading; false when it is gone or no longer the same reading
    // (another bill date, account or code), or holds another read date than the run gave it.
    bool AsTheRunLeftIt(std::int64_t reading) {
        while (!readings.Eof() && readings.Fields("rowkey").Value().ToLong() < reading) readings.MoveNext();
        return !readings.Eof() && readings.Fields("rowkey").Value().ToLong() == reading &&
               readings.Fields("storedbilldate").Value() == billdate_ &&
               readings.Fields("lockey").Value() == changes.Fields("lockey").Value() &&
               readings.Fields("code").Value() == changes.Fields("code").Value() &&
               readings.Fields("storedreaddate").Value() == changes.Fields("newdate").Value();
    }
    void Close() {
        changes.Close();
        readings.Close();
    }
    dao::Recordset changes, readings;

private:
    Variant billdate_;  // the run's bill date, as its readings store it
};

// The newest later run still in effect (a correction not undone, or the redo of one: an undo of an
// undo) that changed a reading of `done`. Undoing `done` first would leave those readings as they are
// and use the undo up; undoing that run first gives them back to what `done` left them.
std::optional<readdates::RunSummary> LaterRunInTheWay(dao::Database &db, const readdates::RunSummary &done) {
    const std::string run = std::to_string(done.run);
    dao::Recordset rs = db.OpenRecordset(
        "select r.run from FRDRUN r where r.run > " + run +
            " and r.undoneby is null and (r.undoes is null or r.undoes in (select run from FRDRUN where undoes is "
            "not null)) and exists (select 1 from FRDCHG c where c.rowid between r.firstchange and r.lastchange and "
            "c.run = r.run and c.reading in (select reading from FRDCHG where rowid between " +
            std::to_string(done.firstChange) + " and " + std::to_string(done.lastChange) + " and run = " + run +
            ")) order by r.run desc",
        dao::dbOpenSnapshot);
    const std::optional<std::int64_t> later =
        rs.Eof() ? std::nullopt : std::optional<std::int64_t>(rs.Fields("run").Value().ToLong());
    rs.Close();
    return later ? readdates::RecordedRun(db, *later) : std::nullopt;
}

// A correction's entries as the list shows them, told apart from others of the same minute.
std::string WhatItDid(const readdates::RunSummary &run) {
    if (run.undoesWhen) return " (undo of " + platform::Format(*run.undoesWhen, "mm/dd/yyyy hh:mm") + ")";
    return " (" + run.entries.fromDate + " \u2192 " + run.entries.toDate + ")";
}

}  // namespace

UndoOutcome UndoRun(std::int64_t run, const ChangeVisited &visited) {
    auto &shared = startup::Shared();
    // The audit file is made sure of before anything changes; its lines are written after the commit.
    startup::AuditBatch audit;
    UndoOutcome outcome;
    outcome.auditFile = audit.Path();
    dao::Workspace &ws = dao::DBEngine().Workspaces(0);
    dao::Transaction undo(ws);
    dao::Database db;
    try {
        db = ws.OpenDatabase(shared.DataFilePath);
        const auto done = readdates::RecordedRun(db, run);
        if (!done) platform::Raise(3021, "The correction is no longer recorded in the data database.");
        if (done->undoneBy) platform::Raise(3197, "The correction was undone already.");
        if (const auto later = LaterRunInTheWay(db, *done))
            platform::Raise(3197, "Some of its readings were changed since by the read-date correction of " +
                                      platform::Format(later->when, "mm/dd/yyyy hh:mm") + WhatItDid(*later) +
                                      ", which is not undone: undo that one first.");
        const readdates::RunEntries &e = done->entries;
        readdates::RunRecorder recorder(db, {e.billDate, e.code, e.toDate, e.fromDate, run});
        std::int64_t seen = 0;
        for (std::int64_t from = done->firstChange; from <= done->lastChange; from += kSlice) {
            Slice slice(db, run, from, std::min(from + kSlice - 1, done->lastChange),
                        Variant(platform::StorageText(platform::DateValue(e.billDate))));
            for (dao::Recordset &c = slice.changes; !c.Eof(); c.MoveNext()) {
                const std::int64_t reading = c.Fields("reading").Value().ToLong();
                if (slice.AsTheRunLeftIt(reading)) {
                    const Variant had = c.Fields("olddate"), has = c.Fields("newdate"), code = c.Fields("code");
                    const std::string account = TextOf(c.Fields("accno"));
                    slice.readings.Edit();
                    slice.readings.Fields("readdate") = had;
                    slice.readings.Update();
                    recorder.Changed(reading, c.Fields("lockey"), code, account, has, had);
                    audit.Add("Changed read date from " + ShownReadDate(has) + " to " + ShownReadDate(had) +
                              " for bill date " + e.billDate + " for account " + account + " for code " + TextOf(code));
                } else {
                    ++outcome.left;
                }
                visited(++seen, done->records);
            }
            slice.Close();
        }
        outcome.givenBack = recorder.Records();
        outcome.run = recorder.Finish(outcome.left);
        audit.Prepare();
        undo.Commit();
    } catch (...) {
        try {
            if (db) db.Close();  // before the rollback, which wants no statement still reading
        } catch (...) {
        }
        throw;
    }
    db.Close();
    outcome.auditFailure = audit.CommitOrWhyNot();
    return outcome;
}

}  // namespace undo
