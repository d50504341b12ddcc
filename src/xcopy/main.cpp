// qvxcopy: the copier that the utility starts for a command line whose program is "xcopy".
// argv[1] is the Windows argument text; further arguments are joined to it with blanks.
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "platform/terminal.h"
#include "xcopy/copier.h"

int main(int argc, char **argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    int status = xcopy::Run(text, std::cout, std::cerr);
    // Started in a terminal window of its own: leave the listing readable for a moment.
    if (platform::StdoutIsTerminal()) std::this_thread::sleep_for(std::chrono::seconds(2));
    return status;
}
