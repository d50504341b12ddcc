// gtest main with a QApplication, so tests can create real widgets (offscreen).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    // The tests set the drive map themselves: no configuration of the machine, the user or the environment
    // applies, in the tests or in the programs they start.
    qputenv("QUORVANT_SYSTEM_CONFIG", "/nonexistent/qvutil-tests/system.conf");
    qputenv("XDG_CONFIG_HOME", "/nonexistent/qvutil-tests");
    qunsetenv("QUORVANT_DRIVES");
    qunsetenv("QUORVANT_PROGRAM_FOLDER");
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
