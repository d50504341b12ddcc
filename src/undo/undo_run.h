#pragma once
// The undo of a recorded read-date run, without its window: what Undo does to the data database, the
// record of runs and the audit trail.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace undo {

struct UndoOutcome {
    std::int64_t run = 0;         // the undo's own run (it can be undone in turn)
    std::int64_t givenBack = 0;   // readings given back the read date they had
    std::int64_t left = 0;        // readings changed since the run, or deleted, or not as recorded: left as they are
    std::vector<std::string> leftReadings;  // the first few of them: "account A5, code W: <why>"
    std::string auditFile;        // the undo's audit file (Windows path)
    std::string auditFailure;     // why its lines could not be written after the commit; empty when they were
};

// Called after each reading of the run is visited: how many have been, of how many.
using ChangeVisited = std::function<void(std::int64_t visited, std::int64_t count)>;

// Gives each reading that the run changed the read date it had, where the reading still holds the
// date the run gave it and its FRDCHG row is one the run wrote (its code, a date given on the run's new
// read date, a date found on its incorrect one or, under ALL, Null or empty); the others are left,
// counted and audited. Each change is audited in the correction's words after "Undo of the read-date
// correction of <its date and time>: ", the undo is recorded as a run of its own and the run is marked undone, all in one transaction. A
// failure before the commit (the run unknown or undone already included) rolls everything back and is
// raised: then no reading was changed. After the commit only the audit file's lines can fail; that is
// told in the outcome.
UndoOutcome UndoRun(std::int64_t run, const ChangeVisited &visited);

}  // namespace undo
