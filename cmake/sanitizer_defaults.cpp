// The sanitizers' defaults for every program of a QVUTIL_SANITIZE build; ASAN_OPTIONS and LSAN_OPTIONS in
// the environment still add their own.

// The migration tests preload a stand-in for libmdb ahead of the sanitizer's runtime.
extern "C" const char *__asan_default_options() { return "verify_asan_link_order=0"; }

// D-Bus, which Qt's X platform starts, keeps a buffer to the end of the program.
extern "C" const char *__lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
