// The audit entry routine: the monthly file and its lines, the LIDB row, and what writes nothing.
#include <filesystem>

#include "platform/error.h"
#include "startup/audit.h"
#include "startup/audit_env.h"

namespace audittest {
namespace {

using platform::MakeDateTime;
using startup::AuditEntry;

TEST_F(AuditTest, LineAndRowCarryTimestampUserAndDescription) {
    AuditEntry("Changed read date from 04/28/2021 to 04/30/2021");
    const std::string user = startup::AuditUser();
    EXPECT_FALSE(user.empty());
    const std::string stamp = "20170517 09:08 PM ";
    EXPECT_EQ(AuditText("billing201705.LOG"), stamp + user + " Changed read date from 04/28/2021 to 04/30/2021\r\n");
    const auto rows = LidbRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{stamp, user, "Changed read date from 04/28/2021 to 04/30/2021"}));
}

TEST_F(AuditTest, TimestampUsesTwelveHourClockWithTwoDigitFields) {
    SetTime(MakeDateTime(2021, 1, 2, 0, 5));
    EXPECT_EQ(startup::AuditTimestamp(), "20210102 12:05 AM ");
    SetTime(MakeDateTime(2021, 12, 31, 12, 0));
    EXPECT_EQ(startup::AuditTimestamp(), "20211231 12:00 PM ");
    SetTime(MakeDateTime(2021, 7, 4, 9, 59));
    EXPECT_EQ(startup::AuditTimestamp(), "20210704 09:59 AM ");
}

TEST_F(AuditTest, EntriesOfOneMonthShareAFileAndTheNextMonthStartsAnother) {
    AuditEntry("first");
    SetTime(MakeDateTime(2017, 5, 31, 23, 59));
    AuditEntry("second");
    SetTime(MakeDateTime(2017, 6, 1, 0, 0));
    AuditEntry("third");

    const std::string user = startup::AuditUser();
    EXPECT_EQ(AuditText("billing201705.LOG"),
              "20170517 09:08 PM " + user + " first\r\n" + "20170531 11:59 PM " + user + " second\r\n");
    EXPECT_EQ(AuditText("billing201706.LOG"), "20170601 12:00 AM " + user + " third\r\n");
    EXPECT_EQ(LidbRows().size(), 3u);
}

TEST_F(AuditTest, FilePathFollowsTheDataFileName) {
    EXPECT_EQ(startup::AuditFilePath(), "C:\\QV\\AUDIT\\billing201705.LOG");
    // No data file name: the fallback base name.
    startup::Shared().DataFileName.clear();
    EXPECT_EQ(startup::AuditBaseName(), "QV32DATA.mdb");
    EXPECT_EQ(startup::AuditFilePath(), "C:\\QV\\AUDIT\\QV32DATA201705.LOG");
    // A name too short to carry an extension is the stem as a whole.
    startup::Shared().DataFileName = "abc";
    EXPECT_EQ(startup::AuditFilePath(), "C:\\QV\\AUDIT\\abc201705.LOG");
    startup::Shared().DataFileName = "a.db";
    EXPECT_EQ(startup::AuditFilePath(), "C:\\QV\\AUDIT\\201705.LOG");
}

TEST_F(AuditTest, QuotesInValuesAreStoredVerbatim) {
    const std::string description = "Changed read date for account O'HARE-7 for code 'W''";
    AuditEntry(description);
    const auto rows = LidbRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], description);
    EXPECT_NE(AuditText("billing201705.LOG").find(description + "\r\n"), std::string::npos);
}

TEST_F(AuditTest, EmptyDescriptionWritesNothing) {
    AuditEntry("");
    EXPECT_FALSE(std::filesystem::exists(AuditFile("billing201705.LOG")));
    EXPECT_TRUE(LidbRows().empty());
}

TEST_F(AuditTest, MissingAuditFolderFailsBeforeTheTableIsTouched) {
    std::filesystem::remove_all(drives.linux("C:\\QV\\AUDIT"));
    try {
        AuditEntry("x");
        FAIL() << "no error";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.number, 76);
    }
    EXPECT_TRUE(LidbRows().empty());
    EXPECT_FALSE(std::filesystem::exists(drives.linux("C:\\QV\\AUDIT")));  // never created
}

TEST_F(AuditTest, MissingTableFailsAfterTheLineIsWritten) {
    qvtest::SqlFile(DataFile()).exec("drop table LIDB");
    EXPECT_THROW(AuditEntry("kept line"), platform::Error);
    EXPECT_NE(AuditText("billing201705.LOG").find(" kept line\r\n"), std::string::npos);
}

}  // namespace
}  // namespace audittest
