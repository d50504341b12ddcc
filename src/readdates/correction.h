#pragma once
// The correction run without its window: what Continue does to the data database and the audit trail.
#include <cstdint>
#include <functional>
#include <string>

#include "readdates/read_date_entries.h"

namespace readdates {

struct CorrectionOutcome {
    std::int64_t changed = 0;
    std::string auditFile;     // the run's audit file (Windows path)
    std::string auditFailure;  // why its lines could not be written after the commit; empty when they were
};

// Called after each reading of the bill date is visited: its 0-based position, the number of readings,
// and whether it was changed.
using ReadingVisited = std::function<void(std::int64_t position, std::int64_t count, bool changed)>;

// Gives every reading of the bill date within the code and FRDLK that carries the incorrect read date
// (any, under ALL) the new read date, each change with its audit entry and recorded (run_record.h), in
// one transaction; the entries were checked by the caller. A failure
// before the commit rolls everything back and is raised: then no reading was changed. After the commit
// only the audit file's lines can fail; that is told in the outcome.
CorrectionOutcome CorrectReadDates(const RunEntries &entries, const ReadingVisited &visited);

// How many readings CorrectReadDates would change now (those it compares by the whole day).
std::int64_t ReadingsToCorrect(const RunEntries &entries);

}  // namespace readdates
