// Lays out the demo installation: qvdemo <folder for drive C> <folder of the built binaries>
#include <cstdio>
#include <exception>

#include "qvsample/installation.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qvdemo <drive-C folder> <bin folder>\n");
        return 2;
    }
    try {
        qvtest::InstallationOptions o;
        o.readingsPerBill = 2000;
        auto in = qvtest::LayOutInstallation(argv[1], argv[2], o);
        std::printf("demo installation in %s\n", in.programDir.c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qvdemo: %s\n", e.what());
        return 1;
    }
    return 0;
}
