#pragma once
// The restore window on a small installation on temporary drives:
//   C:\QVNWin32\global.mdb        (password; `current`.databasepath = C:\QVData)
//   C:\QVData\BILLING.mdb         the live data database (rows tagged "old")
//   C:\QVData\backup\BILLING1.mdb an automatic copy (rows tagged "new")
// Every message box is recorded and answered OK; the file dialog answers with `choice`; the clock
// stands at 12/04/2026 22:37:05.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db_fixture.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "restore/frmRestAutoCopy.h"
#include "support/modal.h"

namespace ractest {

inline constexpr const char *kStamp = "120426223705";

class RacEnv : public ::testing::Test {
protected:
    qvtest::TempDrives drives{"C"};
    std::filesystem::path dataDir = drives.linux("C:\\QVData");
    std::filesystem::path live = dataDir / "BILLING.mdb";
    std::filesystem::path copy1 = dataDir / "backup" / "BILLING1.mdb";
    std::string oldDigest, newDigest;

    qvtest::BoxRecorder recorder;
    std::vector<platform::ui::MsgBoxRecord> &boxes = recorder.boxes();
    std::string choice;               // the dialog's answer: a full Windows path, "" for Cancel
    std::string dialogTitle, dialogInitDir;
    std::unique_ptr<restore::frmRestAutoCopy> form;

    void SetUp() override {
        platform::SetAppPathForTests("C:\\QVNWin32");
        SetDatabasePath("C:\\QVData");
        qvtest::MakeTaggedDatabase(live, "old", 200);
        qvtest::MakeTaggedDatabase(copy1, "new", 300);
        oldDigest = qvtest::Digest(live);
        newDigest = qvtest::Digest(copy1);
        platform::SetClockForTests([] { return platform::MakeDateTime(2026, 12, 4, 22, 37, 5); });
        platform::ui::SetFileDialogChooserForTests([this](const std::string &title, const std::string &initDir) {
            dialogTitle = title;
            dialogInitDir = initDir;
            return choice;
        });
    }

    void TearDown() override {
        if (form && form->IsLoaded()) form->Unload();
        form.reset();
        platform::ui::SetFileDialogChooserForTests({});
        platform::SetClockForTests({});
        platform::SetAppPathForTests({});
        platform::ui::ResetEndingForTests();
    }

    void SetDatabasePath(const std::string &databasepath) {
        auto global = drives.linux("C:\\QVNWin32\\global.mdb");
        std::filesystem::create_directories(global.parent_path());
        qvtest::SqlFile g(global);
        g.exec("DROP TABLE IF EXISTS current");
        g.exec("CREATE TABLE current (databasepath TEXT, DatabaseFileName TEXT)");
        g.exec("INSERT INTO current VALUES ('" + databasepath + "', 'BILLING.mdb')");
        if (g.scalar("SELECT count(*) FROM sqlite_master WHERE name = 'db_password'") == "0") g.setPassword("tovan58");
    }

    restore::frmRestAutoCopy &Open() {
        form = std::make_unique<restore::frmRestAutoCopy>();
        form->Show();
        return *form;
    }

    // Lists `windowsPath` through the dialog and returns the boxes it showed.
    void List(const std::string &windowsPath) {
        choice = windowsPath;
        form->cmdList->Press();
    }

    std::string LastPrompt() const { return boxes.empty() ? std::string() : boxes.back().prompt; }
};

}  // namespace ractest
