// Preloaded into a qvmigrate run by the tests: libmdb's one way into a file fails, saying so, so that a
// run that still reads a Jet file through libmdb shows it.
#include <cstdio>

extern "C" void *mdb_open(const char *, int) {
    std::fputs("qvmigrate called libmdb\n", stderr);
    return nullptr;
}
