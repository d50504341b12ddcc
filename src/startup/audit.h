#pragma once
// The audit trail: a line in the monthly audit file and a row in table LIDB for each change.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/dao/dao.h"

namespace platform { class SpooledAppender; }

namespace startup {

// The login name, written with each audit entry.
const std::string &AuditUser();
// <app folder>\AUDIT\<stem of the data file name, else QV32DATA><YYYYMM>.LOG for the current month.
std::string AuditFilePath();

// Audit entries of a run that commits as a whole, around the caller's transaction:
// - the batch starts before anything changes and opens the audit file, so that a missing AUDIT folder,
//   one that refuses writes or a link planted there fails first;
// - Add adds the entry's LIDB row inside the caller's transaction (many rows by one statement: the
//   last ones by Prepare at the latest) and keeps its file line (in an unnamed file, not in memory).
//   The row keeps the text exactly; in the file, control characters are written as <0D>, <0A>, ... so
//   that no text can make or break a line;
// - Prepare, just before the caller commits, makes the lines durable: a pending file in AUDIT names the
//   batch's LIDB rows;
// - Commit, after the caller's commit, appends the lines in order, all of them or none.
// Without Commit no line is written and the pending file goes. A process killed between its commit
// and the end of Commit leaves the pending file, and CompleteAuditFile writes the lines then.
class AuditBatch {
public:
    AuditBatch();
    ~AuditBatch();
    // The run's own open of the data database, in its transaction: the batch's rows go in through it
    // (without it, the batch opens the data database itself on its first entry).
    void Use(platform::dao::Database db);
    void Add(const std::string &description);
    void Prepare();
    // Raises when the file cannot be written (the caller's changes stand; the lines wait for
    // CompleteAuditFile).
    void Commit();
    // Commit after the run's commit: "" when the lines are written, else the description of why not
    // (the description names the file itself).
    std::string CommitOrWhyNot();
    // The audit file (Windows path) that the batch opened.
    const std::string &Path() const { return path_; }
private:
    const std::string &Timestamp();
    std::string path_;
    std::unique_ptr<platform::SpooledAppender> file_;
    platform::dao::Database db_;       // the data database: the run's (Use), else the batch's own, opened on first Add
    bool ownDb_ = false;               // ... the batch's own: closed by the batch
    platform::dao::BatchInsert lidb_;  // the batch's LIDB rows
    platform::DateTime stampMinute_{};  // the minute that stamp_ shows
    std::string stamp_;
    std::string line_;
};

// Writes the lines of audit batches on the data database whose process was killed after its commit
// (they are read again from their LIDB rows, so this needs the table switch on), and removes the pending
// files of batches that never committed. Called when a tool that audits opens, before it changes
// anything. Only the batches of this data database (its file, wherever its drive is mapped) go to its
// own month files, and of each only the lines whose rows in LIDB are as the run wrote them; the batches
// of every login of the AUDIT folder's group are completed alike (platform::PendingLines::Each). Returns
// a notice for each pending file of this login left or not written whole (another database's, one
// naming another file, lines changed since, a file that cannot be written yet), one for all the other
// logins' files left, and one for those left to the next opening: one such file holds back none of the
// others.
std::vector<std::string> CompleteAuditFile();
// CompleteAuditFile as a read-date window opens: its notices go to the system log and the window's
// standard error, and the window opens all the same.
void CompleteAuditFileOnOpen();
// The warning after a committed run whose audit lines could not be written (they wait in the AUDIT folder):
// `done` says what the run did ("The reading records were updated").
std::string AuditLinesNotWritten(const std::string &done, const std::string &file, const std::string &failure);

}  // namespace startup
