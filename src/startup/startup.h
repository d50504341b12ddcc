#pragma once
// Start-up and tool dispatch.

namespace startup {

// The program's entry: runs start-up inside the application and returns the exit status.
int Main(int argc, char **argv);

// Steps of start-up: reads the settings database into the shared state, dispatches on the tool
// keyword (the command line's argument text, upper-cased) and shows that tool's window modally,
// then ends the utility. Errors go to the caller (Dispatch reports them).
void StartUp();

}  // namespace startup
