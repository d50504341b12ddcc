// qvxcopy: the copier that the utility starts for a command line whose program is "xcopy".
// argv[1] is the Windows argument text; further arguments are joined to it with blanks.
// The utility starts it in a terminal window with kCopierPauseOnFailure first: a failed copy then keeps its
// window open until Enter is pressed, so that its error can be read.
#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/terminal.h"
#include "xcopy/copier.h"

int main(int argc, char **argv) {
    int first = 1;
    const bool pauseOnFailure = argc > 1 && std::strcmp(argv[1], platform::kCopierPauseOnFailure) == 0;
    if (pauseOnFailure) ++first;
    std::string text;
    for (int i = first; i < argc; ++i) {
        if (i > first) text += ' ';
        text += argv[i];
    }
    int status = xcopy::Run(text, std::cout, std::cerr);
    if (status != xcopy::kSuccess && pauseOnFailure) {
        std::cout << "\nThe copy failed. Press Enter to close this window." << std::endl;
        std::string line;
        std::getline(std::cin, line);
    } else if (platform::StdoutIsTerminal()) {
        // Started in a terminal window of its own: leave the listing readable for a moment.
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    return status;
}
