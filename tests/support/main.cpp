// gtest main with a QApplication, so tests can create real widgets (offscreen).
#include <QApplication>
#include <QSettings>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

int main(int argc, char **argv) {
    // The tests set the drive map themselves: no configuration of the machine, the user or the environment
    // applies, in the tests or in the programs they start. What Qt keeps for the user (the file dialog's
    // settings) and qvmigrate's record of the files it made go to a folder of this run as well, which
    // another login may read but not write.
    std::string own = (std::filesystem::temp_directory_path() / "qvutil-tests-XXXXXX").string();
    if (!::mkdtemp(own.data()) || ::chmod(own.c_str(), 0755) != 0) return 2;
    qputenv("QUORVANT_SYSTEM_CONFIG", QByteArray::fromStdString(own + "/system.conf"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(own));
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(own));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(own));
    qunsetenv("QUORVANT_DRIVES");
    qunsetenv("QUORVANT_PROGRAM_FOLDER");
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(own, ec);
    return status;
}
