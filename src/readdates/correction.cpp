// The correction run: one transaction over the readings of the bill date, audited and recorded.
#include "readdates/correction.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <span>
#include <vector>

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

// The readings are read in slices of at most this many, by their rowids, so that a run of any size
// keeps few of them in memory; the rowids of a slice lie within kSpan of each other, so that a slice
// reads at most that many readings of the bill date however those of the run lie among them.
constexpr std::size_t kSlice = 8192;
constexpr std::int64_t kSpan = 2 * kSlice;

// The readings of the entries' bill date within their code: the condition of the run.
std::string OfTheBill(const RunEntries &entries) {
    std::string where = " where billdate = " + DateLiteral(entries.billDate);
    if (entries.code != kAllCodes) where += " and (code = '" + startup::SqlQuote(entries.code) + "')";
    return where;
}

// ... and within FRDLK: the from clause of the run.
std::string InScope(const RunEntries &entries) {
    return " from [tbl reading]" + OfTheBill(entries) + " and (lockey in (select lockey from FRDLK))";
}

// The rowids of the readings of the run, in ascending order: the order in which it visits them.
std::vector<std::int64_t> RowidsInScope(dao::Database &db, const RunEntries &entries) {
    std::vector<std::int64_t> rowids;
    dao::Recordset rs = db.OpenRecordset("select rowid as rowkey" + InScope(entries), dao::dbOpenSnapshot);
    const dao::FieldRef rowkey = rs.Fields("rowkey");
    for (; !rs.Eof(); rs.MoveNext()) rowids.push_back(rowkey.Value().ToLong());
    rs.Close();
    rowids.shrink_to_fit();
    std::sort(rowids.begin(), rowids.end());
    return rowids;
}

// The end of the slice that begins at `from`.
std::size_t SliceEnd(const std::vector<std::int64_t> &rowids, std::size_t from) {
    const std::int64_t first = rowids[from];
    const std::int64_t last = first > std::numeric_limits<std::int64_t>::max() - kSpan ? first : first + kSpan - 1;
    const auto end = rowids.begin() + static_cast<std::ptrdiff_t>(std::min(rowids.size(), from + kSlice));
    return static_cast<std::size_t>(std::upper_bound(rowids.begin() + static_cast<std::ptrdiff_t>(from), end, last) -
                                    rowids.begin());
}

// The readings of the bill date whose rowids lie from the first to the last of `rowids`, with the
// fields that the run and its record need, in the order of their rowids (the index on the bill date
// gives them in that order). Those of them in `rowids` are the run's.
dao::Recordset ReadingsAmong(dao::Database &db, const RunEntries &entries, std::span<const std::int64_t> rowids) {
    return db.OpenRecordset(std::string("select ") + kRecordedColumns + " from [tbl reading]" + OfTheBill(entries) +
                                " and rowid between " + std::to_string(rowids.front()) + " and " +
                                std::to_string(rowids.back()) + " order by rowid",
                            dao::dbOpenSnapshot);
}

}  // namespace

CorrectionOutcome CorrectReadDates(const RunEntries &entries, const ReadingVisited &visited) {
    using platform::DateTime;
    const bool all = IsAllKeyword(entries.fromDate);
    const DateTime oldDate = all ? DateTime{} : platform::DateValue(entries.fromDate);  // unused under ALL
    // The new read date as the readings and the record of the run store it.
    const Variant newDate(platform::StorageText(platform::DateValue(entries.toDate)));
    const std::string changed = "Changed read date from " + entries.fromDate + " to " + entries.toDate +
                                " for bill date " + entries.billDate + " for account ";

    CorrectionOutcome outcome;
    const AuditedRun audited = RunAudited([&](dao::Database &db, startup::AuditBatch &audit) {
        // The window's own selection is read first, with the small cache of a connection that only
        // reads (the lock reads it out); the readings are read under the write lock.
        dao::Recordset rsLock = db.OpenRecordset("select * from frdlk order by lockey", dao::dbOpenSnapshot);
        db.LockForWriting();
        const std::vector<std::int64_t> rowids = RowidsInScope(db, entries);
        const auto count = static_cast<std::int64_t>(rowids.size());
        // Each change is recorded as it is found, and the record gives the readings of each slice their
        // new read date by one statement.
        RunRecorder recorder(db, entries);
        std::optional<dao::FieldRef> accno;  // looked up at the first account found
        std::string line;
        for (std::size_t from = 0, to = 0; from < rowids.size(); from = to) {
            to = SliceEnd(rowids, from);
            const auto slice = std::span(rowids).subspan(from, to - from);
            dao::Recordset rs = ReadingsAmong(db, entries, slice);
            // Each field looked up once a slice: a slice reads thousands of readings.
            const dao::FieldRef rowkey = rs.Fields("rowkey"), readdate = rs.Fields("readdate"),
                                lockeyField = rs.Fields("lockey"), codeField = rs.Fields("code"),
                                stored = rs.Fields("storedreaddate");
            for (std::size_t i = 0; i < slice.size(); ++i) {
                const auto position = static_cast<std::int64_t>(from + i);
                while (!rs.Eof() && rowkey.Value().ToLong() < slice[i]) rs.MoveNext();
                if (rs.Eof() || rowkey.Value().ToLong() != slice[i]) platform::Raise(3167, "Record is deleted.");
                if (!all) {
                    const Variant read = readdate;
                    if (read.IsNull() || platform::DateOnly(read.ToDate()) != oldDate) {
                        visited(position, count, false);
                        continue;
                    }
                }
                const Variant lockey = lockeyField, code = codeField;
                rsLock.FindFirst("lockey = " + startup::SqlLiteral(lockey));
                if (!rsLock.NoMatch() && !accno) accno = rsLock.Fields("accno");
                const std::string account = rsLock.NoMatch() ? "lockey " + lockey.ToText() : TextOf(*accno);
                recorder.Changed(slice[i], lockey, code, account, stored, newDate);
                line.assign(changed);
                line += account;
                line += " for code ";
                line += TextOf(code);
                audit.Add(line);
                ++outcome.changed;
                visited(position, count, true);
            }
            rs.Close();
            recorder.Apply();
        }
        rsLock.Close();
        recorder.Finish();
    });
    outcome.auditFile = audited.auditFile;
    outcome.auditFailure = audited.auditFailure;
    return outcome;
}

std::int64_t ReadingsToCorrect(const RunEntries &entries) {
    std::string sql = "select count(*) as n" + InScope(entries);
    if (!IsAllKeyword(entries.fromDate)) sql += " and " + OnDay("readdate", entries.fromDate);
    dao::Database db = dao::DBEngine().OpenDatabase(startup::Shared().DataFilePath);  // closed when it goes
    return db.OpenRecordset(sql, dao::dbOpenSnapshot).Fields("n").Value().ToLong();
}

}  // namespace readdates
