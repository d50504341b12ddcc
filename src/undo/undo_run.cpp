// The undo of a recorded run: one transaction over the readings the run changed, audited and recorded.
// The record lies in the data database, which every clerk may write: the undo gives back only what the
// record, read against the run's own entries and range, shows the run to have done.
#include "undo/undo_run.h"

#include <algorithm>
#include <optional>
#include <unordered_set>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"
#include "readdates/read_date_entries.h"
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
// The readings left that the outcome names one by one; the audit file names all of them.
constexpr std::size_t kFewLeft = 10;
// A text of the record longer than this is cut in the lines that name it: no edited row makes them huge.
constexpr std::size_t kLongestText = 255;

using startup::TextOf;

std::string Clipped(const Variant &value, std::size_t longest = kLongestText) {
    std::string text = TextOf(value);
    if (text.size() > longest) text = text.substr(0, longest) + "...";
    return text;
}

// The rowid a change names; nullopt when it holds no whole number.
std::optional<std::int64_t> RowidOf(const Variant &v) {
    if (v.kind() != Variant::Kind::Long) return std::nullopt;
    return v.ToLong();
}

// What each FRDCHG row of a run must hold to be one the run wrote, read from the run's own entries:
// its code, the read date it gave (a correction gives every reading the same) and the one it found
// (on the day of the incorrect read date; any date, Null or empty under ALL).
class RunDates {
public:
    explicit RunDates(const readdates::RunSummary &run) {
        const readdates::RunEntries &e = run.entries;
        const bool fromAll = readdates::IsAllKeyword(e.fromDate), toAll = readdates::IsAllKeyword(e.toDate);
        if (!platform::IsDate(e.billDate) || !(fromAll || platform::IsDate(e.fromDate)) ||
            !(platform::IsDate(e.toDate) || (toAll && run.undoes)))
            NotAsWritten("its bill date or read dates are no dates");
        billDate = Variant(platform::StorageText(platform::DateValue(e.billDate)));
        if (e.code != readdates::kAllCodes) code_ = e.code;
        if (!fromAll) fromDay_ = platform::DateValue(e.fromDate);
        if (!toAll) toDay_ = platform::DateValue(e.toDate);
        if (!run.undoes) given_ = Variant(platform::StorageText(*toDay_));
    }
    bool Holds(const Variant &code, const Variant &newdate, const Variant &olddate) {
        return (!code_ || TextOf(code) == *code_) && (given_ ? newdate == *given_ : IsDateOn(newdate, toDay_, to_)) &&
               IsDateOn(olddate, fromDay_, from_);
    }
    // Raised when the record of the run as a whole is not as a run writes it.
    [[noreturn]] static void NotAsWritten(const std::string &why) {
        platform::Raise(3197, "The record of this correction in the data database was changed since it was made (" +
                                  why + "): nothing of it can be given back safely.");
    }
    Variant billDate;  // as the run's readings store it

private:
    // A read date the run found or gave: a date (on `day`, when the entry names one), or Null or empty
    // text under ALL. A date only in the form the data database stores dates in, "YYYY-MM-DD" or
    // "YYYY-MM-DD HH:MM:SS": an edited row's "1/1/99", "Jan 1 1999" or " 2026-04-28" would be written
    // back into a reading as it stands.
    // The rows of a run mostly repeat a few dates: the last text checked is answered again without parsing.
    struct LastChecked {
        std::string text;
        bool holds = false;
    };
    static bool IsDateOn(const Variant &v, const std::optional<platform::DateTime> &day, LastChecked &last) {
        if (v.IsNull() || (v.kind() == Variant::Kind::Text && v.TextView().empty())) return !day;
        if (v.kind() != Variant::Kind::Text) return false;
        const std::string_view text = v.TextView();
        if (!last.text.empty() && text == last.text) return last.holds;
        const auto when = text.size() == 10 || (text.size() == 19 && text[10] == ' ') ? platform::ParseStorageText(text)
                                                                                      : std::nullopt;
        last = {std::string(text), when && (!day || platform::DateOnly(*when) == *day)};
        return last.holds;
    }
    LastChecked from_, to_;
    std::optional<std::string> code_;
    std::optional<platform::DateTime> fromDay_, toDay_;
    std::optional<Variant> given_;
};

// The run's rows are the rows of its range, as many as it counts: a range of another length means the
// record was edited. (Rows in it that are not the run's are found by the walk, which counts the run's.)
void CheckRange(const readdates::RunSummary &run) {
    const auto span = static_cast<std::uint64_t>(run.lastChange) - static_cast<std::uint64_t>(run.firstChange) + 1;
    const bool empty = run.lastChange < run.firstChange;
    if (run.records < 0 || (empty ? run.records != 0 : span != static_cast<std::uint64_t>(run.records)))
        RunDates::NotAsWritten("its rows do not match the number of readings it changed");
}

// Rows of the range that are not the run's: the walk met `rows` of the run's.
void CheckRowsMet(const readdates::RunSummary &run, std::int64_t rows) {
    if (rows != run.records)
        RunDates::NotAsWritten(std::to_string(rows) + " of the " + std::to_string(run.records) +
                               " readings it changed are recorded");
}

// The changes of one slice, each with its reading as it stands now, in the order of their rows: one
// statement over the run's rows joined with the readings by rowid.
class Slice {
public:
    Slice(dao::Database &db, std::int64_t run, std::int64_t from, std::int64_t to)
        : changes(db.OpenRecordset(
              "select c.reading as reading, c.lockey as lockey, c.code as code, c.accno as accno, c.olddate as "
              "olddate, c.newdate as newdate, +r.billdate as storedbilldate, r.lockey as readinglockey, r.code as "
              "readingcode, +r.readdate as storedreaddate from FRDCHG c left join [tbl reading] r on r.rowid = "
              "c.reading where c.rowid between " + std::to_string(from) + " and " + std::to_string(to) +
                  " and c.run = " + std::to_string(run) + " order by c.rowid",
              dao::dbOpenSnapshot)),
          reading(changes.Fields("reading")), lockey(changes.Fields("lockey")), code(changes.Fields("code")),
          accno(changes.Fields("accno")), olddate(changes.Fields("olddate")), newdate(changes.Fields("newdate")),
          billdate_(changes.Fields("storedbilldate")), readingLockey_(changes.Fields("readinglockey")),
          readingCode_(changes.Fields("readingcode")), readdate_(changes.Fields("storedreaddate")) {}
    // Whether the reading of the change it stands on (a change naming its reading by a whole number) is
    // there and as the run left it: the same reading (its bill date, account and code), holding the read
    // date the run gave it (`has`). A reading that is gone has no bill date, and `billdate` is a date.
    bool AsTheRunLeftIt(const Variant &billdate, const Variant &itsLockey, const Variant &itsCode,
                        const Variant &has) const {
        return billdate_.Is(billdate) && readingLockey_.Is(itsLockey) && readingCode_.Is(itsCode) && readdate_.Is(has);
    }
    dao::Recordset changes;
    // The fields of the change it stands on (each looked up once: a slice reads thousands of rows).
    dao::FieldRef reading, lockey, code, accno, olddate, newdate;

private:
    dao::FieldRef billdate_, readingLockey_, readingCode_, readdate_;
};

// The readings named by the changes of a slice so far. A run writes its changes in the order of their
// readings, so a reading above every one before is new without a look-up; the set is made only when
// that order breaks (a record edited since).
class Named {
public:
    // False when the reading was named before.
    bool Add(std::int64_t reading) {
        if (!unordered_) {
            if (rising_.empty() || reading > rising_.back()) {
                rising_.push_back(reading);
                return true;
            }
            unordered_ = true;
            set_.insert(rising_.begin(), rising_.end());
        }
        return set_.insert(reading).second;
    }

private:
    bool unordered_ = false;
    std::vector<std::int64_t> rising_;
    std::unordered_set<std::int64_t> set_;
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
    if (run.undoesWhen) return " (undo of " + platform::Format(*run.undoesWhen, readdates::kRunTime) + ")";
    return " (" + run.entries.fromDate + " \u2192 " + run.entries.toDate + ")";
}

// The run to undo, refused when it cannot be.
readdates::RunSummary RunToUndo(dao::Database &db, std::int64_t run) {
    const auto done = readdates::RecordedRun(db, run);
    if (!done) platform::Raise(3021, "The correction is no longer recorded in the data database.");
    if (done->unreadable) RunDates::NotAsWritten("its date and time or its counts cannot be read");
    if (done->undoneBy) platform::Raise(3197, "The correction was undone already.");
    CheckRange(*done);
    if (const auto later = LaterRunInTheWay(db, *done))
        platform::Raise(3197, "Some of its readings were changed since by the read-date correction of " +
                                  platform::Format(later->when, readdates::kRunTime) + WhatItDid(*later) +
                                  ", which is not undone: undo that one first.");
    return *done;
}

// What each line of an undo begins with: the run it undoes by its time, and, when that run was itself
// an undo, the run that one undid (its lines give that run's dates back); on the clock of the line's stamp.
std::string UndoingText(const readdates::RunSummary &done) {
    return "Undo of " + readdates::RunName(done, readdates::kAuditTime) + ": ";
}

// An undo's walk over the rows of the run it undoes: each change given back, or left and told; each
// audited and recorded.
class Walk {
public:
    Walk(dao::Database &db, const readdates::RunSummary &done, startup::AuditBatch &audit, UndoOutcome &outcome)
        : db_(db), done_(done), dates_(done), audit_(audit), outcome_(outcome),
          undoing_(UndoingText(done)),
          scope_(" for bill date " + done.entries.billDate + " for account "),
          // An undo goes from the date the run gave to the one it found.
          recorder_(db,
                    {.billDate = done.entries.billDate, .code = done.entries.code, .fromDate = done.entries.toDate,
                     .toDate = done.entries.fromDate},
                    done.run) {}

    // The range in slices, its last row perhaps the largest rowid there is: no step goes past it (the
    // range was checked to span `records` rows, so lastChange - from cannot overflow).
    void Slices(const ChangeVisited &visited) {
        std::int64_t seen = 0, from = done_.firstChange;
        for (bool more = done_.records > 0; more; from = more ? from + kSlice : from) {
            const std::int64_t to = done_.lastChange - from < kSlice ? done_.lastChange : from + kSlice - 1;
            more = to != done_.lastChange;
            Slice slice(db_, done_.run, from, to);
            Named named;
            for (; !slice.changes.Eof(); slice.changes.MoveNext()) {
                Change(slice, named);
                visited(++seen, done_.records);
            }
            slice.changes.Close();
            // The readings of this slice given back, before the next slice reads its readings.
            recorder_.Apply();
        }
        // Before the commit: a record with rows of other runs in its range gives nothing back.
        CheckRowsMet(done_, seen);
    }
    void Finish() {
        outcome_.givenBack = recorder_.Records();
        outcome_.run = recorder_.Finish(outcome_.left);
    }

private:
    // The change `slice.changes` stands on; `named` holds the readings of the slice's changes before it:
    // a reading named twice is given back once at most (the next slice reads what this one gave back).
    void Change(Slice &slice, Named &named) {
        const Variant had = slice.olddate, has = slice.newdate, code = slice.code, lockey = slice.lockey;
        const std::optional<std::int64_t> reading = RowidOf(slice.reading);
        const bool recorded = reading && named.Add(*reading) && dates_.Holds(code, has, had);
        if (!recorded || !slice.AsTheRunLeftIt(dates_.billDate, lockey, code, has))
            return Left(slice, recorded ? "changed again or deleted since" : "not as the correction recorded it");
        const std::string account = Clipped(slice.accno);
        recorder_.Changed(*reading, lockey, code, account, has, had);
        line_.assign(undoing_);
        line_ += "Changed read date from ";
        line_ += Shown(has, shownHas_);
        line_ += " to ";
        line_ += Shown(had, shownHad_);
        line_ += scope_;
        line_ += account;
        line_ += " for code ";
        line_ += TextOf(code);
        audit_.Add(line_);
    }
    void Left(Slice &slice, const std::string &why) {
        const Variant accno = slice.accno, code = slice.code;
        audit_.Add(undoing_ + "Left the read date as it is" + scope_ + Clipped(accno) + " for code " + Clipped(code) +
                   ": " + why);
        if (++outcome_.left <= static_cast<std::int64_t>(kFewLeft))
            outcome_.leftReadings.push_back("account " + Clipped(accno, 40) + ", code " + Clipped(code, 40) + ": " + why);
    }
    // A read date as the lines show it; the rows of a run mostly repeat a few, so the last one is kept.
    struct LastShown {
        Variant stored;
        std::string shown;
        bool known = false;
    };
    static const std::string &Shown(const Variant &stored, LastShown &last) {
        if (!last.known || !(stored == last.stored)) last = {stored, ShownReadDate(stored), true};
        return last.shown;
    }

    dao::Database &db_;
    const readdates::RunSummary &done_;
    RunDates dates_;
    startup::AuditBatch &audit_;
    UndoOutcome &outcome_;
    const std::string undoing_, scope_;
    readdates::RunRecorder recorder_;
    LastShown shownHas_, shownHad_;
    std::string line_;
};

}  // namespace

UndoOutcome UndoRun(std::int64_t run, const ChangeVisited &visited) {
    UndoOutcome outcome;
    const readdates::AuditedRun audited = readdates::RunAudited([&](dao::Database &db, startup::AuditBatch &audit) {
        db.LockForWriting();  // the record and the readings stay as checked until the commit
        const readdates::RunSummary done = RunToUndo(db, run);
        Walk walk(db, done, audit, outcome);
        walk.Slices(visited);
        walk.Finish();
    });
    outcome.auditFile = audited.auditFile;
    outcome.auditFailure = audited.auditFailure;
    return outcome;
}

}  // namespace undo
