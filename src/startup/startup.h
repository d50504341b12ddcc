#pragma once
// Start-up and tool dispatch.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::ui { class Form; }

namespace startup {

// A tool window and the keyword that opens it.
struct ToolWindow {
    std::string keyword;
    std::function<std::unique_ptr<platform::ui::Form>()> create;
    // The tool's work without a window, for "KEYWORD --unattended ARGUMENTS...": returns the exit status.
    std::function<int(const std::vector<std::string> &arguments)> unattended = {};
};

// The program's entry: answers --help and --version at once; an argument text that names no tool
// ends at once with status 0, before the settings and the display; else runs start-up inside the
// application and returns the exit status.
int Main(int argc, char **argv, const std::vector<ToolWindow> &tools);

// The index in `tools` of the tool whose keyword equals the upper-cased argument text whole, or -1.
int FindTool(const std::string &argumentText, const std::vector<ToolWindow> &tools);

// Sets the tool keyword from the command line's argument text (upper-cased, not trimmed), and
// creates and shows modally the first tool whose keyword equals it whole (named for the desktop
// after its keyword). Returns that tool's index
// in `tools`, or -1 when none matches (nothing is shown).
int ShowTool(const std::string &argumentText, const std::vector<ToolWindow> &tools);

// Start-up: ReadSettings, then the tool keyword (the command line's argument text, upper-cased) is
// compared whole with each tool's keyword; the first match is created and shown modally. Then the
// utility ends. Errors go to the caller (the dispatcher reports them).
void StartUp(const std::vector<ToolWindow> &tools);

}  // namespace startup
