#include "readdates/frd_fixture.h"

#include <QApplication>
#include <QTest>

#include "platform/paths.h"
#include "startup/shared.h"

namespace frdtest {

namespace {

std::string Quoted(const std::string &s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

std::string DateOrNull(const std::string &storage) { return storage.empty() ? "NULL" : Quoted(storage); }

void ResetShared() {
    auto &s = startup::Shared();
    s.rs = {};
    s.db = {};
    s.QueryText.clear();
}

}  // namespace

FrdEnv::FrdEnv() {
    std::filesystem::create_directories(AuditFolder());
    std::filesystem::create_directories(DataFile().parent_path());
    std::filesystem::create_directories(TempDataFile().parent_path());
    {
        qvtest::SqlFile g(GlobalFile());
        g.exec("create table current (databasepath TEXT, DatabaseFileName TEXT)");
        g.setPassword("tovan58");
    }
    SetCurrent(kDataFolder, kDataFile);
    {
        qvtest::SqlFile d(DataFile());
        d.exec("create table [tbl reading] (billdate DATETIME, readdate DATETIME, code TEXT, lockey INTEGER)");
        d.exec("create index billdate_ix on [tbl reading] (billdate)");
        d.exec("create table LIDB ([When] TEXT, ByWhom TEXT, What TEXT)");
    }
    {
        qvtest::SqlFile t(TempDataFile());
        t.exec("create table selectionsetDTC (lockey INTEGER, accno TEXT)");
    }
    platform::SetAppPathForTests(kAppFolder);
    auto &s = startup::Shared();
    s.DataFolder = kDataFolder;
    s.DataFileName = kDataFile;
    s.DataFilePath = kDataPath;
    s.ToolKeyword = "FRD";
    ResetShared();
}

FrdEnv::~FrdEnv() {
    if (form_ && form_->IsLoaded()) form_->Unload();
    form_.reset();
    ProcessEvents();
    platform::ui::ResetEndingForTests();
    platform::SetAppPathForTests("");
    ResetShared();
}

void FrdEnv::SetCurrent(const std::string &databasepath, const std::string &fileName) {
    qvtest::SqlFile g(GlobalFile());
    g.exec("delete from current");
    g.exec("insert into current (databasepath, DatabaseFileName) values (" + Quoted(databasepath) + ", " +
           Quoted(fileName) + ")");
}

void FrdEnv::AddReading(const Reading &r) { AddReadings({r}); }

void FrdEnv::AddReadings(const std::vector<Reading> &rs) {
    auto d = Data();
    d->exec("begin");
    for (const auto &r : rs)
        d->exec("insert into [tbl reading] (billdate, readdate, code, lockey) values (" + DateOrNull(r.billdate) +
                ", " + DateOrNull(r.readdate) + ", " + (r.code ? Quoted(*r.code) : "NULL") + ", " +
                (r.lockey ? std::to_string(*r.lockey) : "NULL") + ")");
    d->exec("commit");
}

void FrdEnv::AddManyReadings(const std::string &billdate, const std::string &readdate, const std::string &code,
                             long long firstLockey, long long count) {
    auto d = Data();
    d->exec("begin");
    d->exec("with recursive n(i) as (select 0 union all select i + 1 from n where i + 1 < " +
            std::to_string(count) + ") insert into [tbl reading] (billdate, readdate, code, lockey) select " +
            Quoted(billdate) + ", " + Quoted(readdate) + ", " + Quoted(code) + ", " + std::to_string(firstLockey) +
            " + i from n");
    d->exec("commit");
}

void FrdEnv::Select(long long lockey, const std::string &accno) {
    qvtest::SqlFile t(TempDataFile());
    t.exec("insert into selectionsetDTC (lockey, accno) values (" + std::to_string(lockey) + ", " + Quoted(accno) +
           ")");
}

void FrdEnv::SelectRange(long long firstLockey, long long count) {
    qvtest::SqlFile t(TempDataFile());
    t.exec("with recursive n(i) as (select 0 union all select i + 1 from n where i + 1 < " + std::to_string(count) +
           ") insert into selectionsetDTC (lockey, accno) select " + std::to_string(firstLockey) +
           " + i, 'A' || (" + std::to_string(firstLockey) + " + i) from n");
}

std::unique_ptr<qvtest::SqlFile> FrdEnv::Data() const { return std::make_unique<qvtest::SqlFile>(DataFile()); }

long long FrdEnv::DataCount(const std::string &sql) const { return Data()->count(sql); }

std::vector<std::vector<std::string>> FrdEnv::DataRows(const std::string &sql) const { return Data()->rows(sql); }

bool FrdEnv::DataHasTable(const std::string &name) const {
    return DataCount("select count(*) from sqlite_master where type = 'table' and name = " + Quoted(name) +
                     " collate nocase") > 0;
}

readdates::frmFixDupRdgs &FrdEnv::OpenForm() {
    form_ = std::make_unique<readdates::frmFixDupRdgs>();
    form_->Show();
    ProcessEvents();
    return *form_;
}

std::unique_ptr<readdates::frmFixDupRdgs> FrdEnv::OpenSecondForm() {
    auto f = std::make_unique<readdates::frmFixDupRdgs>();
    f->Show();
    ProcessEvents();
    return f;
}

void FrdEnv::ProcessEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

void FrdEnv::PressTab() {
    if (QWidget *w = QApplication::focusWidget()) QTest::keyClick(w, Qt::Key_Tab);
    ProcessEvents();
}

void FrdEnv::PressEnter() {
    if (QWidget *w = QApplication::focusWidget()) QTest::keyClick(w, Qt::Key_Return);
    ProcessEvents();
}

void FrdEnv::Enter(int index, const std::string &text) {
    auto *field = form_->txt[index];
    QWidget *window = form_->widget()->window();
    if (!window->isActiveWindow()) {
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window);
    }
    field->SetFocus();
    ProcessEvents();
    field->SetText(text);
    PressTab();
}

}  // namespace frdtest
