// Conversions of field values.
#include "dao_fixture.h"

namespace daotest {

TEST(VariantTest, ConversionsFollowVisualBasic) {
    EXPECT_EQ(Variant(17).ToText(), "17");
    EXPECT_EQ(Variant(2.5).ToText(), "2.5");
    EXPECT_EQ(Variant(1.0 / 3).ToText(), "0.333333333333333");
    EXPECT_EQ(Variant(platform::MakeDateTime(2021, 5, 1)).ToText(), "5/1/2021");
    EXPECT_EQ(Variant(2.5).ToLong(), 2);
    EXPECT_EQ(Variant(3.5).ToLong(), 4);
    EXPECT_EQ(Variant(" 42 ").ToLong(), 42);
    EXPECT_EQ(ErrorOf([] { Variant("4x").ToLong(); }), 13);
    EXPECT_EQ(ErrorOf([] { Variant(1e300).ToLong(); }), 6);
    EXPECT_EQ(ErrorOf([] { Variant().ToLong(); }), 94);
    EXPECT_EQ(ErrorOf([] { Variant().ToDate(); }), 94);
    EXPECT_EQ(Variant("2021-04-30 08:05:00").ToDate(), platform::MakeDateTime(2021, 4, 30, 8, 5, 0));
    EXPECT_EQ(Variant("5/1/2021").ToDate(), platform::MakeDateTime(2021, 5, 1));
    EXPECT_EQ(Variant(44317).ToDate(), platform::MakeDateTime(2021, 5, 1));
    EXPECT_EQ(Variant(platform::MakeDateTime(2021, 5, 1, 12)).ToDouble(), 44317.5);
    EXPECT_EQ(ErrorOf([] { Variant("no date").ToDate(); }), 13);
}

}  // namespace daotest
