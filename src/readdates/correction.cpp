// The correction run: one transaction over the readings of the bill date, audited and recorded.
#include "readdates/correction.h"

#include "platform/clock.h"
#include "platform/error.h"
#include "readdates/read_date_entries.h"
#include "readdates/run_record.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace readdates {
namespace {

namespace dao = platform::dao;
using dao::Variant;

// A Null field joins a text as nothing.
using startup::TextOf;

// Closes the shared recordset and database handles, whatever state they are in.
void CloseShared() noexcept {
    auto &shared = startup::Shared();
    try {
        if (shared.rs) shared.rs.Close();
    } catch (...) {
    }
    shared.rs = {};
    try {
        if (shared.db) shared.db.Close();
    } catch (...) {
    }
    shared.db = {};
}

// The readings of the entries' bill date within their code and FRDLK: the from clause of the run.
std::string InScope(const Correction &entries) {
    std::string from = " from [tbl reading] where billdate = " + DateLiteral(entries.billDate);
    if (entries.code != kAllCodes) from += " and (code = '" + startup::SqlQuote(entries.code) + "')";
    return from + " and (lockey in (select lockey from FRDLK))";
}

}  // namespace

CorrectionOutcome CorrectReadDates(const Correction &entries, const ReadingVisited &visited) {
    using platform::DateTime;
    auto &shared = startup::Shared();
    const bool all = IsAllKeyword(entries.oldDate);
    const DateTime oldDate = all ? DateTime{} : platform::DateValue(entries.oldDate);  // unused under ALL
    // The new read date as the readings and the record of the run store it.
    const Variant newDate(platform::StorageText(platform::DateValue(entries.newDate)));

    // The audit file is made sure of before anything changes; its lines are written after the commit.
    startup::AuditBatch audit;
    CorrectionOutcome outcome;
    outcome.auditFile = audit.Path();
    dao::Workspace &ws = dao::DBEngine().Workspaces(0);
    dao::Transaction run(ws);
    try {
        shared.db = ws.OpenDatabase(shared.DataFilePath);
        dao::Recordset rsLock = shared.db.OpenRecordset("select * from frdlk order by lockey", dao::dbOpenSnapshot);
        const std::string from = InScope(entries);
        shared.QueryText = "select *" + from;
        // The same readings, with the fields that the run and its record need.
        shared.rs = shared.db.OpenRecordset(std::string("select ") + kRecordedColumns + from, dao::dbOpenDynaset);
        RunRecorder recorder(shared.db, {entries.billDate, entries.code, entries.oldDate, entries.newDate, std::nullopt});
        dao::Recordset &rs = shared.rs;
        if (rs.RecordCount() != 0) {
            rs.MoveLast();
            rs.MoveFirst();
            const std::int64_t count = rs.RecordCount();
            for (std::int64_t position = 0; position < count; ++position) {
                rs.SetAbsolutePosition(position);
                if (!all) {
                    const Variant readdate = rs.Fields("readdate");
                    if (readdate.IsNull() || platform::DateOnly(readdate.ToDate()) != oldDate) {
                        visited(position, count, false);
                        continue;
                    }
                }
                // What the record and the audit line need of the reading is read before it is saved.
                const Variant lockey = rs.Fields("lockey"), code = rs.Fields("code");
                rsLock.FindFirst("lockey = " + startup::SqlLiteral(lockey));
                const std::string account =
                    rsLock.NoMatch() ? "lockey " + lockey.ToText() : TextOf(rsLock.Fields("accno"));
                recorder.Changed(rs.Fields("rowkey").Value().ToLong(), lockey, code, account,
                                 rs.Fields("storedreaddate"), newDate);
                rs.Edit();
                rs.Fields("readdate") = newDate;
                rs.Update();
                audit.Add("Changed read date from " + entries.oldDate + " to " + entries.newDate + " for bill date " +
                          entries.billDate + " for account " + account + " for code " + TextOf(code));
                ++outcome.changed;
                visited(position, count, true);
            }
        }
        rs.Close();
        shared.rs = {};
        recorder.Finish();
        audit.Prepare();
        run.Commit();
    } catch (...) {
        CloseShared();  // before the rollback, which wants no statement still reading
        throw;
    }
    CloseShared();
    outcome.auditFailure = audit.CommitOrWhyNot();
    return outcome;
}

std::int64_t ReadingsToCorrect(const Correction &entries) {
    std::string sql = "select count(*) as n" + InScope(entries);
    if (!IsAllKeyword(entries.oldDate)) sql += " and " + OnDay("readdate", entries.oldDate);
    dao::Database db = dao::DBEngine().OpenDatabase(startup::Shared().DataFilePath);
    std::int64_t n = 0;
    try {
        dao::Recordset rs = db.OpenRecordset(sql, dao::dbOpenSnapshot);
        n = rs.Fields("n").Value().ToLong();
        rs.Close();
    } catch (...) {
        db.Close();
        throw;
    }
    db.Close();
    return n;
}

}  // namespace readdates
