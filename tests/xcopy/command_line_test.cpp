// The copier's command-line splitting and name patterns.
#include <gtest/gtest.h>

#include "xcopy/command_line.h"
#include "xcopy/wildcard.h"

namespace {

using Parts = std::vector<std::string>;

TEST(CopierCommandLine, SplitsAtBlanksAndBeforeEverySlashOutsideQuotes) {
    EXPECT_EQ(xcopy::SplitArguments("C:\\Q\\*.* E:\\\\Q /s/d/y"), (Parts{"C:\\Q\\*.*", "E:\\\\Q", "/s", "/d", "/y"}));
    EXPECT_EQ(xcopy::SplitArguments("  a   b/T"), (Parts{"a", "b", "/T"}));
    EXPECT_EQ(xcopy::SplitArguments("\"C:\\Program Files\\Q\\*.*\" \"E:\\a/b c\""),
              (Parts{"C:\\Program Files\\Q\\*.*", "E:\\a/b c"}));
    EXPECT_EQ(xcopy::SplitArguments("C:\\My\" \"Dir x"), (Parts{"C:\\My Dir", "x"}));
}

TEST(CopierCommandLine, ReadsSwitchesInAnyCaseAndRefusesOthers) {
    auto o = xcopy::ParseCommandLine("a b /T/y");
    EXPECT_TRUE(o.structureOnly && o.noPrompt && !o.subfolders && !o.newerOnly);
    EXPECT_EQ(o.source, "a");
    EXPECT_EQ(o.destination, "b");
    o = xcopy::ParseCommandLine("a /S/D");
    EXPECT_TRUE(o.subfolders && o.newerOnly);
    EXPECT_FALSE(o.destination.has_value());
    for (const char *bad : {"a b /q", "a b /", "a b /sd", "/s", "", "a b c"})
        EXPECT_THROW(xcopy::ParseCommandLine(bad), xcopy::CommandLineError) << bad;
}

TEST(CopierWildcard, MatchesAsDosPatternsDo) {
    EXPECT_TRUE(xcopy::WildcardMatch("*.*", "qvutil"));
    EXPECT_TRUE(xcopy::WildcardMatch("*.mdb", "GLOBAL.MDB"));
    EXPECT_FALSE(xcopy::WildcardMatch("*.mdb", "global.mdb.bak"));
    EXPECT_TRUE(xcopy::WildcardMatch("BILLING?.mdb", "billing3.mdb"));
    EXPECT_FALSE(xcopy::WildcardMatch("BILLING?.mdb", "billing.mdb"));
    EXPECT_TRUE(xcopy::WildcardMatch("read*.*", "README"));
    EXPECT_TRUE(xcopy::WildcardMatch("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(xcopy::WildcardMatch("a*b*c", "aXbYbZ"));
}

}  // namespace
