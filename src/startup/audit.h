#pragma once
// The audit trail: a line in the monthly audit file and a row in table LIDB for each change.
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/dao/dao.h"

namespace platform { class SpooledAppender; }

namespace startup {

// Audit settings: base name = the data file name (fallback "QV32DATA.mdb"); user = the login name;
// table switch on.
std::string AuditBaseName();
const std::string &AuditUser();
bool AuditTableSwitch();
// <app folder>\AUDIT\<stem><YYYYMM>.LOG for the current month.
std::string AuditFilePath();
// "yyyymmdd hh:mm AMPM " of the current time.
std::string AuditTimestamp();

// Audit entries of a run that commits as a whole: the audit file is opened when the batch starts
// (so a missing AUDIT folder fails before anything changes), each Add inserts its LIDB row at once
// (inside the caller's transaction) and keeps the file line (spooled to a temporary file, not held
// in memory), and Commit writes the kept lines in order once the caller's transaction has committed,
// all of them or none. Without Commit no line is written.
class AuditBatch {
public:
    AuditBatch();
    ~AuditBatch();
    void Add(const std::string &description);
    // Writes the kept lines; raises when the file cannot be written (the caller's changes stand).
    void Commit();
    // The audit file (Windows path) that the batch opened.
    const std::string &Path() const { return path_; }
private:
    const std::string &Timestamp();
    std::string path_;
    std::unique_ptr<platform::SpooledAppender> file_;
    platform::dao::Database db_;       // the batch's own open of the data database, opened on first Add
    platform::dao::Recordset lidb_;    // LIDB, for adding rows only
    platform::DateTime stampMinute_{};  // the minute that stamp_ shows
    std::string stamp_;
    std::string line_;
};

}  // namespace startup
