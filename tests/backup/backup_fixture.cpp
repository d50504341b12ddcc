#include "backup_fixture.h"

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui/app.h"

namespace fs = std::filesystem;
namespace ui = platform::ui;

namespace qvtest {

void BackupWindowTest::SetUp() {
    oldCurrent_ = fs::current_path();
    ui::SetMsgBoxResponderForTests([this](const ui::MsgBoxRecord &box) {
        events.push_back("box " + box.title + " (" + std::to_string(box.style) + "): " + box.prompt);
        return ui::vbOK;
    });
    platform::SetShellRecorderForTests([this](const std::string &line) { events.push_back("shell: " + line); });
    Place("C:\\QVNWin32", "E:\\Backups");
}

void BackupWindowTest::TearDown() {
    form.reset();
    fs::current_path(oldCurrent_);
    ui::SetMsgBoxResponderForTests({});
    platform::SetShellRecorderForTests({});
    platform::SetAppPathForTests({});
    ui::ResetEndingForTests();
}

void BackupWindowTest::Place(const std::string &programFolder, const std::string &currentFolder) {
    fs::create_directories(drives.linux(programFolder));
    WriteFile(drives.linux(programFolder) / "qvutil", "program");
    platform::SetAppPathForTests(programFolder);
    fs::create_directories(drives.linux(currentFolder));
    fs::current_path(drives.linux(currentFolder));
}

void BackupWindowTest::Open() {
    form = std::make_unique<backup::frmQuorDBBkUp>();
    form->Show();
}

std::vector<std::string> BackupWindowTest::ClickStep2() {
    events.clear();
    form->cmd2->Press();
    return events;
}

}  // namespace qvtest
