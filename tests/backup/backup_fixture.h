#pragma once
// The backup window on temporary drives C (program folder) and E (backup drive), with the process's
// current folder on E, every message box and started command line recorded in one event list.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backup/frmQuorDBBkUp.h"
#include "support/temp_drive.h"

namespace qvtest {

class BackupWindowTest : public ::testing::Test {
protected:
    TempDrives drives{"CE"};

    void SetUp() override;
    void TearDown() override;

    // Sets the program folder (as AppPath reports it) and the process's current folder, both created.
    void Place(const std::string &programFolder, const std::string &currentFolder);
    // Creates the form and shows it.
    void Open();
    // Clicks step 2; returns the recorded events: "shell: <command line>" and
    // "box <title> (<style>): <prompt>".
    std::vector<std::string> ClickStep2();

    std::unique_ptr<backup::frmQuorDBBkUp> form;
    std::vector<std::string> events;

private:
    std::filesystem::path oldCurrent_;
};

}  // namespace qvtest
