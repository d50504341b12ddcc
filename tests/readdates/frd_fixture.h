#pragma once
// A small installation for the read-date window, on temporary drives:
//   C:\QVNWin32\global.mdb   (password tovan58; `current` -> C:\QVData\billing.mdb)
//   C:\QVNWin32\AUDIT (folder)
//   C:\QVData\billing.mdb    (`tbl reading`, LIDB)
//   C:\users\public\qv32tempdata\tempdataDTC.mdb (selectionsetDTC)
// The app path is C:\QVNWin32, start-up's shared state points at the data database, and every
// message box is recorded and answered OK.
#include <QApplication>
#include <QTest>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dao/dao.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "qvsample/sql_file.h"
#include "qvsample/temp_drive.h"
#include "readdates/frmFixDupRdgs.h"
#include "startup/shared.h"
#include "support/modal.h"

namespace frdtest {

inline constexpr const char *kAppFolder = "C:\\QVNWin32";
inline constexpr const char *kDataFolder = "C:\\QVData";
inline constexpr const char *kDataFile = "billing.mdb";
inline constexpr const char *kDataPath = "C:\\QVData\\billing.mdb";
inline constexpr const char *kTempDataPath = "C:\\users\\public\\qv32tempdata\\tempdataDTC.mdb";

struct Reading {
    std::string billdate;                 // storage text, e.g. "2021-05-01"; "" for Null
    std::string readdate;                 // storage text, e.g. "2021-04-28 10:30:00"; "" for Null
    std::optional<std::string> code;      // nullopt for Null
    std::optional<long long> lockey;      // nullopt for Null
};

// An SQL text literal ('' for each quote).
inline std::string Quoted(const std::string &s) { return "'" + startup::SqlQuote(s) + "'"; }

class FrdEnv {
public:
    FrdEnv() {
        std::filesystem::create_directories(AuditFolder());
        std::filesystem::create_directories(DataFile().parent_path());
        qvtest::SqlFile(GlobalFile()).exec("create table current (databasepath TEXT, DatabaseFileName TEXT)");
        qvtest::SqlFile(GlobalFile()).setPassword("tovan58");
        SetCurrent(kDataFolder, kDataFile);
        Data()->exec("create table [tbl reading] (billdate DATETIME, readdate DATETIME, code TEXT, lockey INTEGER);"
                     "create index billdate_ix on [tbl reading] (billdate);"
                     "create table LIDB ([When] TEXT, ByWhom TEXT, What TEXT)");
        std::filesystem::create_directories(TempDataFile().parent_path());
        qvtest::SqlFile(TempDataFile()).exec("create table selectionsetDTC (lockey INTEGER, accno TEXT)");
        platform::SetAppPathForTests(kAppFolder);
        auto &s = startup::Shared();
        s.DataFolder = kDataFolder;
        s.DataFileName = kDataFile;
        s.DataFilePath = kDataPath;
        s.ToolKeyword = "FRD";
        ResetShared();
    }
    ~FrdEnv() {
        if (form_ && form_->IsLoaded()) form_->Unload();
        form_.reset();
        ProcessEvents();
        platform::ui::ResetEndingForTests();
        platform::SetAppPathForTests("");
        ResetShared();
    }
    FrdEnv(const FrdEnv &) = delete;
    FrdEnv &operator=(const FrdEnv &) = delete;

    qvtest::TempDrives drives{"C"};

    // Linux paths of the installation's files.
    std::filesystem::path GlobalFile() const { return drives.linux(std::string(kAppFolder) + "\\global.mdb"); }
    std::filesystem::path DataFile() const { return drives.linux(kDataPath); }
    std::filesystem::path TempDataFile() const { return drives.linux(kTempDataPath); }
    std::filesystem::path AuditFolder() const { return drives.linux(std::string(kAppFolder) + "\\AUDIT"); }

    // Rewrites the one record of `current` (texts stored as given, blanks included).
    void SetCurrent(const std::string &databasepath, const std::string &fileName) {
        qvtest::SqlFile(GlobalFile()).exec("delete from current; insert into current values (" + Quoted(databasepath) +
                                           ", " + Quoted(fileName) + ")");
    }

    // Readings of `tbl reading`.
    void AddReading(const Reading &r) { AddReadings({r}); }
    void AddReadings(const std::vector<Reading> &rs) {
        auto d = Data();
        d->exec("begin");
        auto dateOrNull = [](const std::string &s) { return s.empty() ? "NULL" : Quoted(s); };
        for (const auto &r : rs)
            d->exec("insert into [tbl reading] (billdate, readdate, code, lockey) values (" + dateOrNull(r.billdate) +
                    ", " + dateOrNull(r.readdate) + ", " + (r.code ? Quoted(*r.code) : "NULL") + ", " +
                    (r.lockey ? std::to_string(*r.lockey) : "NULL") + ")");
        d->exec("commit");
    }
    // Accounts of the billing product's selection (selectionsetDTC); SelectRange names them "A<lockey>".
    void Select(long long lockey, const std::string &accno) {
        qvtest::SqlFile(TempDataFile()).exec("insert into selectionsetDTC values (" + std::to_string(lockey) + ", " +
                                             Quoted(accno) + ")");
    }
    void SelectRange(long long firstLockey, long long count) {
        const std::string key = std::to_string(firstLockey) + " + i";
        qvtest::SqlFile(TempDataFile()).exec(Numbers(count) + " insert into selectionsetDTC select " + key +
                                             ", 'A' || (" + key + ") from n");
    }

    // The audit file of May 2021 (the month the run tests' clock stands in) and its lines.
    std::filesystem::path AuditFile() const { return AuditFolder() / "billing202105.LOG"; }
    std::vector<std::string> AuditLines() const {
        std::vector<std::string> lines;
        if (!std::filesystem::exists(AuditFile())) return lines;
        const std::string text = qvtest::ReadFile(AuditFile());
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }

    std::vector<std::filesystem::path> Pending() const {  // audit batches' pending files in AUDIT
        std::vector<std::filesystem::path> found;
        for (std::error_code ec; const auto &e : std::filesystem::directory_iterator(AuditFolder(), ec))
            if (e.path().extension() == ".pending") found.push_back(e.path());
        return found;
    }
    // Every LIDB row has its line in the audit file, in the same order; the number of rows.
    std::size_t ExpectAuditFileAgreesWithLidb() const {
        std::vector<std::string> rows;
        for (const auto &r : DataRows("select [When] || ByWhom || ' ' || What from LIDB order by rowid")) rows.push_back(r[0]);
        EXPECT_EQ(AuditLines(), rows);
        return rows.size();
    }

    // Raw access to the data database (a fresh connection each call).
    std::unique_ptr<qvtest::SqlFile> Data() const { return std::make_unique<qvtest::SqlFile>(DataFile()); }
    long long DataCount(const std::string &sql) const { return Data()->count(sql); }
    std::vector<std::vector<std::string>> DataRows(const std::string &sql) const { return Data()->rows(sql); }
    bool DataHasTable(const std::string &name) const {
        return DataCount("select count(*) from sqlite_master where type = 'table' and name = " + Quoted(name) +
                         " collate nocase") > 0;
    }

    // No database open, no transaction, none kept in start-up's shared state: what a window leaves between runs.
    static bool DatabasesClosed() {
        auto &ws = platform::dao::DBEngine().Workspaces(0);
        return ws.DatabasesCount() == 0 && !ws.InTransaction() && !startup::Shared().db && !startup::Shared().rs;
    }

    // The form, constructed and shown (Form_Load has run); unloaded by the destructor when still loaded.
    readdates::frmFixDupRdgs &OpenForm() { return *(form_ = OpenSecondForm()); }
    readdates::frmFixDupRdgs *form() const { return form_.get(); }
    // Another copy of the window on the same installation (for the one-tool-per-database rule).
    std::unique_ptr<readdates::frmFixDupRdgs> OpenSecondForm() {
        auto f = std::make_unique<readdates::frmFixDupRdgs>();
        f->Show();
        ProcessEvents();
        return f;
    }

    // Message boxes shown since the last ClearBoxes().
    qvtest::BoxRecorder recorder;
    std::vector<platform::ui::MsgBoxRecord> &boxes = recorder.boxes();
    void ClearBoxes() { boxes.clear(); }
    // Those boxes, one "title | style | prompt" a line.
    std::string Shown() const {
        std::string text;
        for (const auto &b : boxes) text += (text.empty() ? "" : "\n") + b.title + " | " + std::to_string(b.style) + " | " + b.prompt;
        return text;
    }

    // Keyboard through the real focus chain. Enter types `text` into the field (focus first, whole
    // text replaced) and leaves it with Tab.
    void Enter(int index, const std::string &text) {
        QWidget *window = form_->widget()->window();
        if (!window->isActiveWindow()) {
            window->activateWindow();
            (void)QTest::qWaitForWindowActive(window);
        }
        form_->txt[index]->SetFocus();
        ProcessEvents();
        form_->txt[index]->SetText(text);
        PressTab();
    }
    void PressTab() { Press(Qt::Key_Tab); }
    void PressEnter() { Press(Qt::Key_Return); }
    static void ProcessEvents() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }

private:
    static std::string Numbers(long long count) {
        return "with recursive n(i) as (select 0 union all select i + 1 from n where i + 1 < " + std::to_string(count) +
               ")";
    }
    static void ResetShared() {
        auto &s = startup::Shared();
        s.rs = {};
        s.db = {};
    }
    void Press(Qt::Key key) {
        if (QWidget *w = QApplication::focusWidget()) QTest::keyClick(w, key);
        ProcessEvents();
    }
    std::unique_ptr<readdates::frmFixDupRdgs> form_;
};

// A gtest base with one installation per test.
class FrdTest : public ::testing::Test, public FrdEnv {};

}  // namespace frdtest
