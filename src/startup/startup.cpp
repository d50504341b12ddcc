// Start-up: --help and --version, the settings, the window the keyword names.
#include "startup/startup.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/diagnostics.h"
#include "platform/own_folders.h"
#include "platform/ui/app.h"
#include "platform/ui/forms.h"
#include "startup/shared.h"

namespace startup {

using platform::Upper;

namespace {

constexpr const char *kUsage = R"(Usage: qvutil KEYWORD
       qvutil QBU --unattended [DESTINATION]
Keeps the data of a Quorvant 32 installation in order. KEYWORD (any letter case) opens one window:
  QBU  Quorvant32 Complete Software Backup: copies the program folder to a chosen folder
  RAC  Restore Auto-Copy Database Files: puts an automatic copy in place of the data database
  FRD  Correct READ DATES for Meter Reading Records
  URD  Undo READ DATE Corrections: gives the readings of a correction back their read dates
Any other command line ends at once, without a window.

With --unattended, QBU makes the backup without a window, display or terminal into DESTINATION
(a Windows folder such as E:\Backups), else into the BackupDestination= of the configuration: one
line per result on standard output and in the system log; on failure the reason on standard
error and exit status 1 (not complete) or 2 (not started).

  --help     show this text and exit
  --version  show the version and exit

The drive map and the program folder come from /etc/quorvant/qvutil.conf and
~/.config/quorvant/qvutil.conf; QUORVANT_DRIVES and QUORVANT_PROGRAM_FOLDER override them.
See qvutil(1).
)";

}  // namespace

int FindTool(const std::string &argumentText, const std::vector<ToolWindow> &tools) {
    const std::string keyword = Upper(argumentText);
    for (std::size_t i = 0; i < tools.size(); ++i)
        if (tools[i].keyword == keyword) return static_cast<int>(i);
    return -1;
}

int ShowTool(const std::string &argumentText, const std::vector<ToolWindow> &tools) {
    auto &st = Shared();
    st.ToolKeyword = Upper(argumentText);
    platform::LogDetail("keyword: \"" + st.ToolKeyword + "\"");
    const int i = FindTool(argumentText, tools);
    if (i < 0) return -1;
    const ToolWindow &tool = tools[static_cast<std::size_t>(i)];
    platform::ui::SetToolIdentity(tool.keyword);
    tool.create()->ShowModal();
    return i;
}

void StartUp(const std::vector<ToolWindow> &tools) {
    ReadSettings();
    ShowTool(platform::ui::Command(), tools);
    // The window has closed (or a tool ended the utility itself): end now, keeping a status already set.
    platform::ui::End(platform::ui::Ending() ? platform::ui::EndStatus() : 0);
}

int Main(int argc, char **argv, const std::vector<ToolWindow> &tools) {
    platform::ui::LogThroughQt();
    if (platform::PrintHelpOrVersion(argc, argv, "qvutil", kUsage)) return 0;
    // "KEYWORD --unattended ...": the tool's work without a window, display or terminal.
    if (argc >= 3 && std::string_view(argv[2]) == "--unattended") {
        const int i = FindTool(argv[1], tools);
        if (i >= 0 && tools[static_cast<std::size_t>(i)].unattended) {
            platform::KeepRootToItsOwnFolders();
            Shared().ToolKeyword = Upper(argv[1]);
            return tools[static_cast<std::size_t>(i)].unattended(std::vector<std::string>(argv + 3, argv + argc));
        }
    }
    // A keyword that names no tool ends the utility at once: nothing is read and no display is needed.
    if (FindTool(platform::ui::ArgumentText(argc, argv), tools) < 0) return 0;
    platform::KeepRootToItsOwnFolders();
    return platform::ui::RunApplication(argc, argv, [&tools] { StartUp(tools); });
}

}  // namespace startup
