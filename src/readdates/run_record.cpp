// The record of read-date runs: FRDRUN and FRDCHG in the data database.
#include "readdates/run_record.h"

#include "platform/error.h"
#include "startup/audit.h"
#include "startup/shared.h"

namespace readdates {
namespace {

namespace dao = platform::dao;
using dao::Variant;

constexpr const char *kCreateRuns =
    "create table FRDRUN (run long primary key, [When] datetime, ByWhom text, billdate text, code text, "
    "fromdate text, todate text, records long, kept long, undoes long, undoneby long, firstchange long, "
    "lastchange long)";
constexpr const char *kCreateChanges =
    "create table FRDCHG (run long, reading long, lockey, code, accno text, olddate, newdate)";

// The runs with the times of the runs they undid.
constexpr const char *kRunsQuery =
    "select r.*, o.[When] as undoeswhen, o.undoes as undoesundo from FRDRUN r left join FRDRUN o on o.run = r.undoes";

using startup::TextOf;

std::optional<std::int64_t> LongOrNull(const Variant &v) {
    if (v.IsNull()) return std::nullopt;
    return v.ToLong();
}

// Another run's time as the row of this one names it: nullopt when Null or no date (that run is then
// listed as unreadable itself).
std::optional<platform::DateTime> DateOrNull(const Variant &v) {
    if (v.IsNull()) return std::nullopt;
    try {
        return v.ToDate();
    } catch (const platform::Error &) {
        return std::nullopt;
    }
}

// Whether the data database has this table (in any letter case, as the engine finds tables).
bool HasTable(dao::Database &db, const std::string &lowerName) {
    dao::Recordset rs = db.OpenRecordset(
        "select name from sqlite_master where type = 'table' and lower(name) = '" + lowerName + "'", dao::dbOpenSnapshot);
    const bool found = rs.RecordCount() > 0;
    rs.Close();
    return found;
}

std::int64_t Scalar(dao::Database &db, const std::string &sql) {
    dao::Recordset rs = db.OpenRecordset(sql, dao::dbOpenSnapshot);
    const Variant v = rs.Fields("n");
    rs.Close();
    return v.IsNull() ? 0 : v.ToLong();
}

RunSummary ReadSummary(dao::Recordset &rs) {
    RunSummary s;
    s.run = rs.Fields("run").Value().ToLong();
    s.when = rs.Fields("When").Value().ToDate();
    s.user = TextOf(rs.Fields("ByWhom"));
    s.entries = {TextOf(rs.Fields("billdate")), TextOf(rs.Fields("code")), TextOf(rs.Fields("fromdate")),
                 TextOf(rs.Fields("todate"))};
    s.undoes = LongOrNull(rs.Fields("undoes"));
    s.records = LongOrNull(rs.Fields("records")).value_or(0);
    s.kept = LongOrNull(rs.Fields("kept")).value_or(0);
    s.undoneBy = LongOrNull(rs.Fields("undoneby"));
    s.undoesWhen = DateOrNull(rs.Fields("undoeswhen"));
    s.undoesAnUndo = !rs.Fields("undoesundo").Value().IsNull();
    s.firstChange = LongOrNull(rs.Fields("firstchange")).value_or(0);
    s.lastChange = LongOrNull(rs.Fields("lastchange")).value_or(-1);
    return s;
}

// A run as listed: one whose row cannot be read is unreadable, its number kept when that can be read.
RunSummary SummaryOf(dao::Recordset &rs) {
    try {
        return ReadSummary(rs);
    } catch (const platform::Error &) {  // a value of the wrong kind: a row edited by hand
        RunSummary s;
        s.unreadable = true;
        try {
            s.run = rs.Fields("run").Value().ToLong();
        } catch (const platform::Error &) {
        }
        return s;
    }
}

std::vector<RunSummary> Summaries(dao::Database &db, const std::string &sql) {
    std::vector<RunSummary> runs;
    if (!HasTable(db, "frdrun")) return runs;
    dao::Recordset rs = db.OpenRecordset(sql, dao::dbOpenSnapshot);
    for (; !rs.Eof(); rs.MoveNext()) runs.push_back(SummaryOf(rs));
    rs.Close();
    return runs;
}

}  // namespace

RunRecorder::RunRecorder(dao::Database db, RunEntries entries, std::optional<std::int64_t> undoes)
    : db_(std::move(db)), entries_(std::move(entries)), undoes_(undoes), when_(platform::Now()) {}

void RunRecorder::Begin() {
    if (!HasTable(db_, "frdrun")) db_.Execute(kCreateRuns);
    if (!HasTable(db_, "frdchg")) db_.Execute(kCreateChanges);
    run_ = Scalar(db_, "select max(run) as n from FRDRUN") + 1;
    changes_ = dao::BatchInsert(db_, "FRDCHG", {"run", "reading", "lockey", "code", "accno", "olddate", "newdate"});
}

void RunRecorder::Changed(std::int64_t reading, const Variant &lockey, const Variant &code, const std::string &account,
                          const Variant &before, const Variant &after) {
    if (!run_) Begin();
    changes_.Set(0, run_);
    changes_.Set(1, reading);
    changes_.Set(2, lockey);
    changes_.Set(3, code);
    changes_.Set(4, account);
    changes_.Set(5, before);
    changes_.Set(6, after);
    changes_.AddRow();
}

void RunRecorder::Apply() {
    const std::int64_t due = Records() - applied_;
    if (due == 0) return;
    const auto [first, last] = changes_.RowidRange();  // the run's rows follow one another
    const std::string from = std::to_string(applied_ ? appliedThrough_ : first), run = std::to_string(run_);
    db_.Execute("update [tbl reading] set readdate = c.newdate from FRDCHG c where c.rowid " +
                std::string(applied_ ? "> " : ">= ") + from + " and c.rowid <= " + std::to_string(last) +
                " and c.run = " + run + " and [tbl reading].rowid = c.reading");
    if (db_.RecordsAffected() != due) platform::Raise(3167, "Record is deleted.");
    applied_ += due;
    appliedThrough_ = last;
}

std::int64_t RunRecorder::Finish(std::int64_t kept) {
    if (!run_ && !undoes_) return 0;  // a correction that changed nothing
    if (!run_) Begin();
    Apply();
    const auto [first, last] = changes_.RowidRange();  // the run's rows follow one another
    dao::Recordset runs = db_.OpenRecordset("FRDRUN", dao::dbOpenDynaset, dao::dbAppendOnly);
    runs.AddNew();
    runs.Fields("run") = run_;
    runs.Fields("When") = when_;
    runs.Fields("ByWhom") = startup::AuditUser();
    runs.Fields("billdate") = entries_.billDate;
    runs.Fields("code") = entries_.code;
    runs.Fields("fromdate") = entries_.fromDate;
    runs.Fields("todate") = entries_.toDate;
    runs.Fields("records") = Records();
    runs.Fields("kept") = kept;
    if (undoes_) runs.Fields("undoes") = *undoes_;
    runs.Fields("firstchange") = first;
    runs.Fields("lastchange") = last;
    runs.Update();
    runs.Close();
    if (undoes_) {
        db_.Execute("update FRDRUN set undoneby = " + std::to_string(run_) + " where run = " +
                    std::to_string(*undoes_) + " and undoneby is null");
        if (db_.RecordsAffected() != 1)
            platform::Raise(3197, "The correction was undone by another window meanwhile.");
    }
    return run_;
}

AuditedRun RunAudited(const std::function<void(dao::Database &, startup::AuditBatch &)> &work) {
    startup::AuditBatch audit;
    AuditedRun outcome{audit.Path(), {}};
    dao::Workspace &ws = dao::DBEngine().Workspaces(0);
    dao::Transaction run(ws);
    {
        // The run's handles are closed before a failure rolls the transaction back (the rollback wants
        // no statement still reading): they live in this scope and in `work`.
        dao::Database db = ws.OpenDatabase(startup::Shared().DataFilePath);
        audit.Use(db);
        work(db, audit);
        audit.Prepare();
        run.Commit();
        db.Close();
    }
    outcome.auditFailure = audit.CommitOrWhyNot();
    return outcome;
}

std::vector<RunSummary> RecordedRuns(dao::Database &db) {
    return Summaries(db, std::string(kRunsQuery) + " order by r.run desc");
}

std::optional<RunSummary> RecordedRun(dao::Database &db, std::int64_t run) {
    auto runs = Summaries(db, std::string(kRunsQuery) + " where r.run = " + std::to_string(run));
    if (runs.empty()) return std::nullopt;
    return runs.front();
}

std::string RunName(const RunSummary &run, const char *timeFormat) {
    const std::string when = platform::Format(run.when, timeFormat);
    if (!run.undoes) return "the read-date correction of " + when;
    if (!run.undoesWhen) return "the undo of " + when + " (which undid an earlier correction)";
    return "the undo of " + when + " (which undid the " + (run.undoesAnUndo ? "undo" : "correction") + " of " +
           platform::Format(*run.undoesWhen, timeFormat) + ")";
}

std::string ShownReadDate(const Variant &stored) {
    if (stored.IsNull()) return "Null";
    std::optional<platform::DateTime> when;
    if (stored.kind() == Variant::Kind::Date) when = stored.ToDate();
    if (stored.kind() == Variant::Kind::Text) {
        const std::string_view text = stored.TextView();
        when = platform::ParseStorageText(text);
        // A stored date of a four-digit year without a time is already in order: its digits are moved,
        // not formatted again (an undo shows two dates a reading).
        if (when && text[0] != '0' && !platform::HasTimeOfDay(*when))
            return {text[5], text[6], '/', text[8], text[9], '/', text[0], text[1], text[2], text[3]};
    }
    if (!when) return stored.ToText();
    return platform::Format(*when, platform::HasTimeOfDay(*when) ? kAuditTime : "mm/dd/yyyy");
}

}  // namespace readdates
