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

// The readings of the entries' bill date within their code and FRDLK: the from clause of the run.
std::string InScope(const RunEntries &entries) {
    std::string from = " from [tbl reading] where billdate = " + DateLiteral(entries.billDate);
    if (entries.code != kAllCodes) from += " and (code = '" + startup::SqlQuote(entries.code) + "')";
    return from + " and (lockey in (select lockey from FRDLK))";
}

}  // namespace

CorrectionOutcome CorrectReadDates(const RunEntries &entries, const ReadingVisited &visited) {
    using platform::DateTime;
    auto &shared = startup::Shared();
    const bool all = IsAllKeyword(entries.fromDate);
    const DateTime oldDate = all ? DateTime{} : platform::DateValue(entries.fromDate);  // unused under ALL
    // The new read date as the readings and the record of the run store it.
    const Variant newDate(platform::StorageText(platform::DateValue(entries.toDate)));

    // The audit file is made sure of before anything changes; its lines are written after the commit.
    startup::AuditBatch audit;
    CorrectionOutcome outcome;
    outcome.auditFile = audit.Path();
    dao::Workspace &ws = dao::DBEngine().Workspaces(0);
    dao::Transaction run(ws);
    // Declared after the transaction, the handles are closed before a failure rolls it back: the
    // rollback wants no statement still reading.
    dao::Database db = ws.OpenDatabase(shared.DataFilePath);
    dao::Recordset rsLock = db.OpenRecordset("select * from frdlk order by lockey", dao::dbOpenSnapshot);
    const std::string from = InScope(entries);
    // The same readings, with the fields that the run and its record need.
    dao::Recordset rs = db.OpenRecordset(std::string("select ") + kRecordedColumns + from, dao::dbOpenDynaset);
    RunRecorder recorder(db, entries);
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
            const std::string account = rsLock.NoMatch() ? "lockey " + lockey.ToText() : TextOf(rsLock.Fields("accno"));
            recorder.Changed(rs.Fields("rowkey").Value().ToLong(), lockey, code, account, rs.Fields("storedreaddate"),
                             newDate);
            rs.Edit();
            rs.Fields("readdate") = newDate;
            rs.Update();
            audit.Add("Changed read date from " + entries.fromDate + " to " + entries.toDate + " for bill date " +
                      entries.billDate + " for account " + account + " for code " + TextOf(code));
            ++outcome.changed;
            visited(position, count, true);
        }
    }
    rs.Close();
    rsLock.Close();
    recorder.Finish();
    audit.Prepare();
    run.Commit();
    db.Close();
    outcome.auditFailure = audit.CommitOrWhyNot();
    return outcome;
}

std::int64_t ReadingsToCorrect(const RunEntries &entries) {
    std::string sql = "select count(*) as n" + InScope(entries);
    if (!IsAllKeyword(entries.fromDate)) sql += " and " + OnDay("readdate", entries.fromDate);
    dao::Database db = dao::DBEngine().OpenDatabase(startup::Shared().DataFilePath);  // closed when it goes
    return db.OpenRecordset(sql, dao::dbOpenSnapshot).Fields("n").Value().ToLong();
}

}  // namespace readdates
