// The audit batch of a run (its LIDB rows in the run's transaction, its file lines spooled, prepared
// before the commit and appended after it) and the completion of the batches a kill left.
#include "startup/audit.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string_view>

#include "platform/clock.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "startup/shared.h"

namespace startup {
namespace {

namespace dao = platform::dao;

constexpr const char *kFallbackBaseName = "QV32DATA.mdb";
constexpr const char *kTimestampPattern = "yyyymmdd hh:mm AMPM ";

// The data file name, or "QV32DATA.mdb" when there is none.
std::string AuditBaseName() {
    const std::string &name = Shared().DataFileName;
    return name.empty() ? kFallbackBaseName : name;
}

// The base name without its four-character extension; a shorter name is kept whole.
std::string Stem(const std::string &baseName) {
    return baseName.size() < 4 ? baseName : baseName.substr(0, baseName.size() - 4);
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }

// Text as the audit file shows it: a control character (C0 or DEL) as <XX>, so that none makes or
// breaks a line.
void AppendVisible(std::string &out, std::string_view text) {
    for (auto at = text.begin(); at != text.end();) {
        const auto control = std::find_if(at, text.end(), IsControl);
        out.append(at, control);
        if (control == text.end()) break;
        static constexpr char digits[] = "0123456789ABCDEF";
        const auto c = static_cast<unsigned char>(*control);
        out += {'<', digits[c >> 4], digits[c & 15], '>'};
        at = control + 1;
    }
}

// The file line of an entry, into `out`.
const std::string &FileLine(std::string &out, std::string_view timestamp, std::string_view user,
                            std::string_view description) {
    out.clear();
    AppendVisible(out, timestamp);
    AppendVisible(out, user);
    out += ' ';
    AppendVisible(out, description);
    return out;
}


}  // namespace

const std::string &AuditUser() {
    // The login name of the process does not change while it runs; a run asks for it once per record.
    static const std::string user = platform::UserName();
    return user;
}

bool AuditTableSwitch() { return true; }

std::string AuditFilePath() {
    return platform::AppPath() + "\\AUDIT\\" + Stem(AuditBaseName()) + platform::Format(platform::Now(), "YYYYMM") +
           ".LOG";
}

AuditBatch::AuditBatch()
    : path_(AuditFilePath()), file_(std::make_unique<platform::SpooledAppender>(path_, Shared().DataFilePath)) {}

AuditBatch::~AuditBatch() {
    // Runs while a failed run unwinds: it must not throw. Lines never committed are dropped with the
    // spool.
    try {
        if (db_) db_.Close();
    } catch (...) {
    }
}

// The time stamp changes once a minute: it is formatted again only then.
const std::string &AuditBatch::Timestamp() {
    const auto minute =
        std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::floor<std::chrono::minutes>(platform::Now()));
    if (stamp_.empty() || minute != stampMinute_) {
        stamp_ = platform::Format(minute, kTimestampPattern);
        stampMinute_ = minute;
    }
    return stamp_;
}

void AuditBatch::Add(const std::string &description) {
    if (description.empty() || AuditBaseName().empty()) return;
    const std::string &timestamp = Timestamp();
    const std::string &user = AuditUser();
    if (AuditTableSwitch()) {
        if (!db_) {
            db_ = dao::DBEngine().OpenDatabase(Shared().DataFilePath);
            lidb_ = dao::BatchInsert(db_, "LIDB", {"When", "ByWhom", "What"});
        }
        lidb_.Set(0, timestamp);
        lidb_.Set(1, user);
        lidb_.Set(2, description);
        lidb_.AddRow();
    }
    file_->WriteLine(FileLine(line_, timestamp, user, description));
}

void AuditBatch::Prepare() {
    // The batch's rows follow one another: the first and the last name them all.
    const auto [first, last] = lidb_ ? lidb_.RowidRange() : std::pair<std::int64_t, std::int64_t>{0, -1};
    file_->Prepare(last < first ? std::string() : std::to_string(first) + " " + std::to_string(last));
}

void AuditBatch::Commit() {
    if (db_) {
        db_.Close();
        db_ = {};
        lidb_ = {};
    }
    file_->Commit();
}

std::string AuditBatch::CommitOrWhyNot() {
    try {
        Commit();
        return {};
    } catch (const platform::Error &e) {
        return platform::ErrorDescription(e.number);
    }
}

void CompleteAuditFile() {
    const std::string &data = Shared().DataFilePath;
    for (auto &batch : platform::PendingLines::In(platform::AppPath() + "\\AUDIT")) {
        if (batch.Note() != data) continue;  // another data database's: its own tools complete it
        // The mark is "<first rowid> <last rowid>" of the batch's rows, or empty: no rows, no lines.
        std::int64_t first = 0, last = -1;
        const std::string &mark = batch.Mark();
        const char *end = mark.data() + mark.size();
        const auto [at, err] = std::from_chars(mark.data(), end, first);
        if (err != std::errc() || at == end || *at != ' ' || std::from_chars(at + 1, end, last).ptr != end) last = -1;
        dao::Database db;
        dao::Recordset rs;
        if (last >= first) {
            db = dao::DBEngine().OpenDatabase(data);
            rs = db.OpenRecordset("select [When], ByWhom, What from LIDB where rowid between " + std::to_string(first) +
                                      " and " + std::to_string(last) + " order by rowid",
                                  dao::dbOpenSnapshot);
        }
        batch.Complete([&](std::string &line) {
            if (!rs || rs.Eof()) return false;
            FileLine(line, TextOf(rs.Fields("When")), TextOf(rs.Fields("ByWhom")), TextOf(rs.Fields("What")));
            rs.MoveNext();
            return true;
        });
        if (db) db.Close();
    }
}

void CompleteAuditFileOnOpen() {
    try {
        CompleteAuditFile();
    } catch (const platform::Error &e) {
        platform::LogEvent("The audit lines of an earlier read-date correction could not be written yet: " +
                               e.description,
                           true);
    }
}

std::string AuditLinesNotWritten(const std::string &done, const std::string &file, const std::string &failure) {
    return done + ", but their audit file " + file + " could not be written: " + failure +
           ".\n\nThe lines are kept in the AUDIT folder and written when the read-date window opens next." +
           (AuditTableSwitch() ? " Each change is recorded in table LIDB of the data database." : "");
}

}  // namespace startup
