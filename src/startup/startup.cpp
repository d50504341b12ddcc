#include "startup/startup.h"

#include <algorithm>
#include <cctype>

#include "platform/dao/dao.h"
#include "platform/paths.h"
#include "platform/ui/app.h"
#include "platform/ui/forms.h"
#include "startup/shared.h"

namespace startup {

namespace {

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

}  // namespace

void ReadSettings() {
    using namespace platform::dao;
    auto &st = Shared();
    const std::string app = platform::AppPath();
    st.db = DBEngine().OpenDatabase(app + "\\global.mdb", true, true, kGlobalConnect);
    st.rs = st.db.OpenRecordset("current", dbOpenSnapshot);
    if (st.rs.RecordCount() > 0) {
        st.DataFolder = TrimBlanks(st.rs.Fields("databasepath").Value().ToText());
        st.DataFileName = TrimBlanks(st.rs.Fields("DatabaseFileName").Value().ToText());
        st.DataFilePath = st.DataFolder + "\\" + st.DataFileName;
    }
    st.rs.Close();
    st.db.Close();
    st.rs = {};
    st.db = {};
}

int ShowTool(const std::string &argumentText, const std::vector<ToolWindow> &tools) {
    auto &st = Shared();
    st.ToolKeyword = Upper(argumentText);
    for (std::size_t i = 0; i < tools.size(); ++i) {
        if (tools[i].keyword != st.ToolKeyword) continue;
        auto form = tools[i].create();
        form->ShowModal();
        return static_cast<int>(i);
    }
    return -1;
}

void StartUp(const std::vector<ToolWindow> &tools) {
    ReadSettings();
    ShowTool(platform::ui::Command(), tools);
    // The window has closed (or a tool ended the utility itself): end now, keeping a status already set.
    platform::ui::End(platform::ui::Ending() ? platform::ui::EndStatus() : 0);
}

int Main(int argc, char **argv, const std::vector<ToolWindow> &tools) {
    return platform::ui::RunApplication(argc, argv, [&tools] { StartUp(tools); });
}

}  // namespace startup
