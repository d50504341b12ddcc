// The audit batch of a run (its LIDB rows in the run's transaction, its file lines spooled, prepared
// before the commit and appended after it) and the completion of the batches a kill left.
#include "startup/audit.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string_view>

#include "platform/clock.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/pending_lines.h"
#include "platform/text_appender.h"
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

// The data database as the batches name it: its file, so that two installations that map one Windows
// path onto two folders (and share AUDIT) keep their batches apart.
std::string DataIdentity() {
    const std::filesystem::path file = platform::MapPath(Shared().DataFilePath);
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(file, ec);
    return (ec ? file : real).string();
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }

// The first control character from `at` on, or `end`: eight bytes at a time while none of them is one
// (a byte below 0x20 or 0x7F; bytes of 0x80 and above, which UTF-8 is made of, never are).
std::string_view::const_iterator NextControl(std::string_view::const_iterator at, std::string_view::const_iterator end) {
    constexpr std::uint64_t ones = 0x0101010101010101, highs = 0x8080808080808080;
    while (end - at >= 8) {
        std::uint64_t word;
        std::memcpy(&word, &*at, 8);
        const std::uint64_t del = word ^ (ones * 0x7F);
        if ((((word - ones * 0x20) & ~word) | ((del - ones) & ~del)) & highs) break;
        at += 8;
    }
    return std::find_if(at, end, IsControl);
}

// Text as the audit file shows it: a control character (C0 or DEL) as <XX>, so that none makes or
// breaks a line.
void AppendVisible(std::string &out, std::string_view text) {
    for (auto at = text.begin(); at != text.end();) {
        const auto control = NextControl(at, text.end());
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

std::string AuditFilePath() {
    return platform::AppPath() + "\\AUDIT\\" + Stem(AuditBaseName()) + platform::Format(platform::Now(), "YYYYMM") +
           ".LOG";
}

AuditBatch::AuditBatch()
    : path_(AuditFilePath()),
      file_(std::make_unique<platform::SpooledAppender>(platform::MapPath(path_), DataIdentity())) {}

AuditBatch::~AuditBatch() {
    // Runs while a failed run unwinds: it must not throw. Lines never committed are dropped with the
    // spool.
    try {
        if (db_ && ownDb_) db_.Close();
    } catch (...) {
    }
}

void AuditBatch::Use(dao::Database db) {
    if (lidb_) platform::Raise(5);  // rows were added through another open already
    db_ = std::move(db);
    ownDb_ = false;
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
    if (!lidb_) {
        if (!db_) {
            db_ = dao::DBEngine().OpenDatabase(Shared().DataFilePath);
            ownDb_ = true;
        }
        lidb_ = dao::BatchInsert(db_, "LIDB", {"When", "ByWhom", "What"});
    }
    lidb_.Set(0, timestamp);
    lidb_.Set(1, user);
    lidb_.Set(2, description);
    lidb_.AddRow();
    file_->WriteLine(FileLine(line_, timestamp, user, description));
}

void AuditBatch::Prepare() {
    // The batch's rows follow one another: the first and the last name them all.
    const auto [first, last] = lidb_ ? lidb_.RowidRange() : std::pair<std::int64_t, std::int64_t>{0, -1};
    file_->Prepare(last < first ? std::string() : std::to_string(first) + " " + std::to_string(last));
}

void AuditBatch::Commit() {
    if (db_) {
        if (ownDb_) db_.Close();
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

namespace {

// Whether `log` is a month's audit file of the data database: <stem>YYYYMM.LOG.
bool IsMonthFile(const std::string &log) {
    const std::string stem = Stem(AuditBaseName());
    if (log.size() != stem.size() + 10 || !log.starts_with(stem) || !log.ends_with(".LOG")) return false;
    const std::string_view month(log.data() + stem.size(), 6);
    return std::all_of(month.begin(), month.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           month.substr(4) >= "01" && month.substr(4) <= "12";
}

std::string Visible(std::string_view text) {
    std::string out;
    AppendVisible(out, text);
    return out;
}

// The lines of a batch of this data database read again from its LIDB rows, each at its place in the
// batch (the mark is "<first rowid> <last rowid>" of its rows, or empty: no rows, no lines).
platform::CompletedLines CompleteBatch(platform::PendingLines &batch) {
    std::int64_t first = 0, last = -1;
    const std::string &mark = batch.Mark();
    const char *end = mark.data() + mark.size();
    const auto [at, err] = std::from_chars(mark.data(), end, first);
    if (err != std::errc() || at == end || *at != ' ' || std::from_chars(at + 1, end, last).ptr != end) last = -1;
    dao::Database db;
    dao::Recordset rs;
    if (last >= first) {
        db = dao::DBEngine().OpenDatabase(Shared().DataFilePath);
        rs = db.OpenRecordset("select rowid as r, [When], ByWhom, What from LIDB where rowid between " +
                                  std::to_string(first) + " and " + std::to_string(last) + " order by rowid",
                              dao::dbOpenSnapshot);
    }
    try {
        const auto done = batch.Complete([&](std::uint64_t &place, std::string &line) {
            if (!rs || rs.Eof()) return false;
            place = static_cast<std::uint64_t>(rs.Fields("r").Value().ToLong() - first);
            FileLine(line, TextOf(rs.Fields("When")), TextOf(rs.Fields("ByWhom")), TextOf(rs.Fields("What")));
            rs.MoveNext();
            return true;
        });
        if (db) db.Close();
        return done;
    } catch (...) {
        if (db) db.Close();
        throw;
    }
}

// What became of a batch that was completed, when not every line was written.
std::string Unwritten(const platform::PendingLines &batch, const platform::CompletedLines &done, const std::string &log) {
    const std::string run =
        " audit lines of the read-date run begun " + platform::Format(batch.Made(), "mm/dd/yyyy hh:mm:ss AMPM");
    const std::string rows = "rows in table LIDB of " + Shared().DataFilePath + " were changed or removed since";
    if (done.written == 0)
        return "None of the " + std::to_string(done.missing) + run + " was written to " + log +
               ": the run's changes were not kept (it ended before they committed), or its " + rows + ".";
    return std::to_string(done.missing) + " of the " + std::to_string(done.missing + done.written) + run +
           " were not written to " + log + ": their " + rows + ". The other " + std::to_string(done.written) +
           " were written.";
}

}  // namespace

std::vector<std::string> CompleteAuditFile() {
    std::vector<std::string> notices;
    const std::string folder = platform::AppPath() + "\\AUDIT";
    const std::string identity = DataIdentity();
    std::uint64_t othersLeft = 0;  // of other logins: one notice for all, whatever their number
    const platform::PendingPassed passed = platform::PendingLines::Each(platform::MapPath(folder), [&](platform::PendingLines &batch) {
        const std::string pending = folder + "\\" + Visible(batch.Name());
        const std::string log = folder + "\\" + Visible(batch.Log());
        const std::string why =
            !batch.Left().empty()        ? batch.Left()
            : batch.Note() != identity   ? "its lines belong to the data database " + platform::ShownPath(batch.Note()) +
                                             ", whose read-date windows write them"
            : !IsMonthFile(batch.Log())  ? "it names " + log + ", which is no audit file of " + Shared().DataFilePath
                                         : std::string();
        if (!why.empty() && !batch.Own()) {
            ++othersLeft;
        } else if (!why.empty()) {
            notices.push_back("The pending audit lines " + pending + " were left as they are: " + Visible(why) + ".");
        } else {
            try {
                const platform::CompletedLines done = CompleteBatch(batch);
                if (done.missing) notices.push_back(Unwritten(batch, done, log));
            } catch (const platform::Error &e) {
                notices.push_back("The audit lines waiting in " + pending +
                                  " could not be written yet: " + platform::Message(e));
            }
        }
    });
    othersLeft += passed.others;
    if (othersLeft)
        notices.push_back(std::to_string(othersLeft) + (othersLeft == 1 ? " pending audit file of another login in " + folder +
                                                                              " was left as it is: its maker is"
                                                                        : " pending audit files of other logins in " + folder +
                                                                              " were left as they are: their makers are") +
                          " outside the group of the folder, or the lines are no audit lines of " + Shared().DataFilePath +
                          " that this login may write.");
    if (passed.later)
        notices.push_back(std::to_string(passed.later) + " more pending audit files in " + folder +
                          " wait for the next read-date window that opens.");
    return notices;
}

void CompleteAuditFileOnOpen() {
    for (const std::string &notice : CompleteAuditFile()) {
        platform::LogEvent(notice, true);
        std::cerr << notice << std::endl;
    }
}

std::string AuditLinesNotWritten(const std::string &done, const std::string &file, const std::string &failure) {
    return done + ", but their audit file " + file + " could not be written: " + failure +
           ".\n\nThe lines are kept in the AUDIT folder and written when the read-date window opens next."
           " Each change is recorded in table LIDB of the data database.";
}

}  // namespace startup
