#include "startup/audit.h"

#include <chrono>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "startup/shared.h"

namespace startup {
namespace {

constexpr const char *kFallbackBaseName = "QV32DATA.mdb";
constexpr const char *kTimestampPattern = "yyyymmdd hh:mm AMPM ";

// The base name without its four-character extension; a shorter name is kept whole.
std::string Stem(const std::string &baseName) {
    return baseName.size() < 4 ? baseName : baseName.substr(0, baseName.size() - 4);
}

std::string FilePathAt(platform::DateTime when) {
    return platform::AppPath() + "\\AUDIT\\" + Stem(AuditBaseName()) + platform::Format(when, "YYYYMM") +
           ".LOG";
}

// The file line of an entry, into `out`.
const std::string &FileLine(std::string &out, const std::string &timestamp, const std::string &user,
                            const std::string &description) {
    return out.assign(timestamp).append(user).append(" ").append(description);
}

}  // namespace

std::string AuditBaseName() {
    const std::string &name = Shared().DataFileName;
    return name.empty() ? kFallbackBaseName : name;
}

const std::string &AuditUser() {
    // The login name of the process does not change while it runs; a run asks for it once per record.
    static const std::string user = platform::UserName();
    return user;
}

bool AuditTableSwitch() { return true; }

std::string AuditFilePath() { return FilePathAt(platform::Now()); }

std::string AuditTimestamp() { return platform::Format(platform::Now(), kTimestampPattern); }

AuditBatch::AuditBatch() : path_(AuditFilePath()), file_(std::make_unique<platform::SpooledAppender>(path_)) {}

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
            db_ = platform::dao::DBEngine().OpenDatabase(Shared().DataFilePath);
            lidb_ = db_.OpenRecordset("LIDB", platform::dao::dbOpenDynaset, platform::dao::dbAppendOnly);
        }
        lidb_.AddNew();
        lidb_.Fields("When") = timestamp;
        lidb_.Fields("ByWhom") = user;
        lidb_.Fields("What") = description;
        lidb_.Update();
    }
    file_->WriteLine(FileLine(line_, timestamp, user, description));
}

void AuditBatch::Commit() {
    if (db_) {
        db_.Close();
        db_ = {};
        lidb_ = {};
    }
    file_->Commit();
}

}  // namespace startup
