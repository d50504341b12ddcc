// Undo: asked first, then the chosen run's readings get back the read dates they had, audited, with the
// progress bar.
#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "readdates/far_off.h"
#include "startup/audit.h"
#include "startup/shared.h"
#include "undo/frmUndoFixRdgs.h"
#include "undo/undo_run.h"

namespace undo {
namespace {

namespace dao = platform::dao;

// The read dates listed one by one in the question; more are summed up.
constexpr std::size_t kDatesNamed = 8;

// One read date an undo gives back, by day: a date, no read date (Null or empty), or a text that is
// no date; how many readings get it, and how far it lies from the bill date when more than a year.
struct DateBack {
    std::optional<platform::DateTime> day;
    std::string shown;
    std::int64_t readings = 0;
    std::optional<std::string> farOff;
};

DateBack DateOf(const dao::Variant &v) {
    using platform::DateTime;
    if (v.IsNull() || (v.kind() == dao::Variant::Kind::Text && v.TextView().empty())) return {{}, "no read date", 0, {}};
    std::optional<DateTime> when;
    if (v.kind() == dao::Variant::Kind::Text && v.TextView().size() <= 40) {
        when = platform::ParseStorageText(v.TextView());
        if (!when) when = platform::RecognizeDate(v.TextView());
    }
    if (!when) return {{}, "\"" + readdates::ShownReadDate(v).substr(0, 40) + "\"", 0, {}};
    return {platform::DateOnly(*when), "the read date " + platform::Format(*when, "mm/dd/yyyy"), 0, {}};
}

// What the undo of `run` would give back now: the read dates of its readings that still hold the date
// the run gave them (the undo leaves the others), by day, far-off ones first, then by date. The changes
// are joined with their readings by rowid (one at most, which costs less than a subquery a change) and
// counted here by the value stored: a GROUP BY in the statement would sort every change first.
std::vector<DateBack> DatesGivenBack(const readdates::RunSummary &run) {
    if (run.lastChange < run.firstChange) return {};
    dao::Database db = dao::DBEngine().OpenDatabase(startup::Shared().DataFilePath);
    std::map<std::string, DateBack> byDay;
    try {
        dao::Recordset rs = db.OpenRecordset(
            "select c.olddate as olddate from FRDCHG c inner join [tbl reading] r on r.rowid = c.reading and "
            "+r.readdate = c.newdate where c.rowid between " + std::to_string(run.firstChange) + " and " +
                std::to_string(run.lastChange) + " and c.run = " + std::to_string(run.run),
            dao::dbOpenSnapshot);
        const dao::FieldRef olddate = rs.Fields("olddate");
        std::unordered_map<std::string, DateBack *> dayOf;  // a value as stored (its kind, its text): its day
        dao::Variant last;
        DateBack *lastDay = nullptr;  // the day of `last`, the value of the change before
        for (std::string key; !rs.Eof(); rs.MoveNext()) {
            if (!lastDay || !olddate.Is(last)) {
                last = olddate.Value();
                key.assign(1, static_cast<char>('0' + static_cast<int>(last.kind())));
                if (last.kind() == dao::Variant::Kind::Text) key += last.TextView();
                else if (!last.IsNull()) key += last.ToText();
                DateBack *&day = dayOf[key];
                if (!day) {
                    DateBack date = DateOf(last);
                    day = &byDay.try_emplace(date.shown, date).first->second;
                }
                lastDay = day;
            }
            ++lastDay->readings;
        }
        rs.Close();
    } catch (...) {
        db.Close();
        throw;
    }
    db.Close();
    std::vector<DateBack> dates;
    const bool billIsDate = platform::IsDate(run.entries.billDate);
    for (auto &[shown, date] : byDay) {
        if (date.day && billIsDate) date.farOff = readdates::FarOffDistance(*date.day, platform::DateValue(run.entries.billDate));
        dates.push_back(date);
    }
    std::stable_sort(dates.begin(), dates.end(), [](const DateBack &a, const DateBack &b) {
        return std::tuple{!a.farOff, !a.day, a.day.value_or(platform::DateTime{})} <
               std::tuple{!b.farOff, !b.day, b.day.value_or(platform::DateTime{})};
    });
    return dates;
}

std::string Readings(std::int64_t n) { return readdates::Grouped(n) + (n == 1 ? " reading record" : " reading records"); }

std::string WithDistance(const DateBack &date, std::int64_t readings) {
    return date.shown + (date.farOff ? ", " + *date.farOff + (readings == 1 ? " its" : " their") + " bill date" : "");
}

// The question before an undo, in the words of the correction's far-off question: how many readings of
// which bill date get back which read date (and how far from the bill date, when more than a year), how
// many stay as they are, and which run is undone.
std::string UndoQuestion(const readdates::RunSummary &run) {
    const std::vector<DateBack> dates = DatesGivenBack(run);
    std::int64_t total = 0;
    for (const DateBack &date : dates) total += date.readings;
    const std::string bill = platform::IsDate(run.entries.billDate)
                                 ? platform::Format(platform::DateValue(run.entries.billDate), "mm/dd/yyyy")
                                 : run.entries.billDate;
    std::string text;
    if (dates.empty())
        text = "No reading record of bill date " + bill + " will get back a read date.";
    else if (dates.size() == 1)
        text = Readings(total) + " of bill date " + bill + " will get back " + WithDistance(dates[0], total) + ".";
    else {
        text = Readings(total) + " of bill date " + bill + " will get back the read dates they had:";
        std::int64_t others = 0, farOthers = 0;
        for (std::size_t i = 0; i < dates.size(); ++i) {
            if (i < kDatesNamed) {
                text += "\n" + Readings(dates[i].readings) + ": " + WithDistance(dates[i], dates[i].readings);
                continue;
            }
            others += dates[i].readings;
            farOthers += dates[i].farOff ? dates[i].readings : 0;
        }
        if (others)
            text += "\n" + Readings(others) + ": " + readdates::Grouped(static_cast<std::int64_t>(dates.size() - kDatesNamed)) +
                    " other read dates" + (farOthers ? ", " + readdates::Grouped(farOthers) + " of them more than a year from their bill date" : "");
    }
    if (const std::int64_t left = run.records - total; left > 0)
        text += "\n\n" + Readings(left) + (left == 1 ? " changed again or deleted since stays as it is."
                                                      : " changed again or deleted since stay as they are.");
    return text + "\n\nUndo " + readdates::RunName(run, readdates::kRunTime) + "?";
}

std::string FinishedMessage(const UndoOutcome &outcome) {
    const std::int64_t n = outcome.givenBack, left = outcome.left;
    std::string text = std::to_string(n) + (n == 1 ? " reading record was given back its earlier read date."
                                                   : " reading records were given back their earlier read date.");
    if (left == 0) return text;
    text += "\n\n" + std::to_string(left) +
            (left == 1 ? " reading record was left as it is" : " reading records were left as they are");
    if (left > static_cast<std::int64_t>(outcome.leftReadings.size()))
        return text + ": changed again or deleted since, or not as the correction recorded them. The audit file " +
               outcome.auditFile + " names each of them.";
    text += ":";
    for (const std::string &reading : outcome.leftReadings) text += "\n" + reading;
    return text;
}

// Why a run cannot be undone again: undone now, or in force again because its undo was undone.
std::string UndoneAlready(const readdates::RunSummary &run, const RunState &state) {
    std::string name = readdates::RunName(run, readdates::kRunTime);
    name[0] = 'T';
    const std::string since = state.since ? platform::Format(*state.since, readdates::kRunTime) : "";
    const std::string once = run.undoes ? ". An undo is undone only once; " : ". A correction is undone only once; ";
    if (state.known && state.undos % 2 == 0)
        return name + " was undone, and that undo undone on " + since + ": it is in force again" + once +
               "to undo it again, undo the run of " + since + ".";
    return name + " was undone on " + since + once + "to make it again, undo its undo.";
}

}  // namespace

void frmUndoFixRdgs::NotUndone(const platform::Error &e, std::int64_t chosen) {
    using namespace platform;
    pb1->SetValue(0);
    pb1->SetVisible(false);
    ui::MsgBox("The read-date correction could not be undone:\n\n" + WithFullStop(Message(e)) +
                   "\n\nNo reading record was changed.",
               ui::vbCritical, "Quorvant 32");
    ListRuns(chosen);
    lstRuns->SetFocus();
}

void frmUndoFixRdgs::cmdUndo_Click() {
    using namespace platform;
    const int chosen = lstRuns->ListIndex();
    if (chosen < 0 || chosen >= static_cast<int>(runs_.size())) {
        ui::MsgBox("Choose a read-date correction in the list first.", ui::vbInformation, "Quorvant 32");
        lstRuns->SetFocus();
        return;
    }
    const readdates::RunSummary run = runs_[static_cast<std::size_t>(chosen)];
    if (run.unreadable || run.undoneBy) {
        ui::MsgBox(run.unreadable ? "This row of the record of read-date corrections cannot be read: it cannot be undone."
                                  : UndoneAlready(run, StateOf(run, runs_)),
                   ui::vbExclamation, "Quorvant 32");
        lstRuns->SetFocus();
        return;
    }

    // An undo changes as many readings as a correction: asked first, No by default, so that Enter pressed
    // by habit changes nothing.
    std::string question;
    try {
        question = UndoQuestion(run);
    } catch (const Error &e) {
        NotUndone(e, run.run);
        return;
    }
    if (ui::MsgBox(question, ui::vbYesNo + ui::vbQuestion + ui::vbDefaultButton2, "Quorvant 32") != ui::vbYes) {
        lstRuns->SetFocus();
        return;
    }
    pb1->SetValue(0);
    pb1->SetMax(static_cast<double>(std::max<std::int64_t>(run.records, 1)));
    pb1->SetVisible(true);
    UndoOutcome outcome;
    try {
        // From the start of the run until the final message the window takes no input.
        ui::BusyScope busy;
        outcome = UndoRun(run.run, [&](std::int64_t visited, std::int64_t) {
            pb1->SetValue(static_cast<double>(visited));
            busy.Pump();
        });
    } catch (const Error &e) {
        // Everything the run did was rolled back: the window stays as it was, ready for another try.
        NotUndone(e, run.run);
        return;
    }

    if (!outcome.auditFailure.empty())
        ui::MsgBox(startup::AuditLinesNotWritten("The read dates were given back", outcome.auditFile,
                                                 outcome.auditFailure),
                   ui::vbExclamation, "Quorvant 32");
    ui::MsgBox(FinishedMessage(outcome), ui::vbInformation, "FINISHED");
    pb1->SetValue(0);
    pb1->SetVisible(false);
    ListRuns(run.run);
    lstRuns->SetFocus();
}

}  // namespace undo
