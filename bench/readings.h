#pragma once
// The installations the read-date benchmarks run on: the billing product's installation laid out by the
// test support, with a generated reading table of any size and an account selection.
//
// Every account has a reading of code W and one of code E on each bill date (the first of each month
// from March 2021), read five days before it; the selection holds the first `selected` accounts. The
// bill date under test is the second one, 04/01/2021: `selected` x 2 of its readings match a correction
// of all codes and all read dates.
#include <filesystem>
#include <string>

#include "qvsample/installation.h"

namespace bench {

struct ReadingsLayout {
    long accounts = 100'000;
    long selected = 50'000;
    int billDates = 5;  // at least 2
    long Readings() const { return accounts * 2 * billDates; }
    long Matching() const { return selected * 2; }  // readings of the bill date under test in the selection
};

inline constexpr const char *kBillDateText = "04/01/2021";  // as typed into the window
inline constexpr const char *kBillDateStored = "2021-04-01";

// Lays out the installation on the folder of drive C (qvutil and qvxcopy copied from binDir when
// withBinaries) with a data database of this layout; the generated data database is kept in the work
// folder and copied, so later runs do not generate it again.
qvtest::Installation LayOutReadings(const std::filesystem::path &driveC, const ReadingsLayout &layout,
                                    bool withBinaries);

}  // namespace bench
