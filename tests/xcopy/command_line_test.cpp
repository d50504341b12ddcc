// The copier's command-line splitting and name patterns.
#include <gtest/gtest.h>

#include "xcopy/command_line.h"
#include "platform/files.h"

namespace {

using Parts = std::vector<std::string>;

TEST(CopierCommandLine, SplitsAtBlanksAndBeforeEverySlashOutsideQuotes) {
    EXPECT_EQ(xcopy::SplitArguments("C:\\Q\\*.* E:\\\\Q /s/d/y"), (Parts{"C:\\Q\\*.*", "E:\\\\Q", "/s", "/d", "/y"}));
    EXPECT_EQ(xcopy::SplitArguments("  a   b/T"), (Parts{"a", "b", "/T"}));
    EXPECT_EQ(xcopy::SplitArguments("\"C:\\Program Files\\Q\\*.*\" \"E:\\a/b c\""),
              (Parts{"C:\\Program Files\\Q\\*.*", "E:\\a/b c"}));
    EXPECT_EQ(xcopy::SplitArguments("C:\\My\" \"Dir x"), (Parts{"C:\\My Dir", "x"}));
}

TEST(CopierWildcard, MatchesAsDosPatternsDo) {
    EXPECT_FALSE(platform::WildcardMatch("*.mdb", "global.mdb.bak"));
    EXPECT_TRUE(platform::WildcardMatch("BILLING?.mdb", "billing3.mdb"));
    EXPECT_TRUE(platform::WildcardMatch("BILLING?.mdb", "billing.mdb"));  // "?" may match nothing before the dot
    EXPECT_TRUE(platform::WildcardMatch("*.*", "README"));
    EXPECT_TRUE(platform::WildcardMatch("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(platform::WildcardMatch("a*b*c", "aXbYbZ"));
}

}  // namespace
