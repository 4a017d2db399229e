#include "payload/code_page.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

TEST(CodePage, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += char(b);
    auto back = utf8_to_cp1252(cp1252_to_utf8(all));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, all);
}

TEST(CodePage, MapsTheHighControlRange) {
    EXPECT_EQ(cp1252_to_utf8("\x80"), "\xE2\x82\xAC");  // euro sign
    EXPECT_EQ(cp1252_to_utf8("\xE4"), "\xC3\xA4");      // a-umlaut
    EXPECT_EQ(utf8_to_cp1252("\xC5\x93"), std::string("\x9C"));  // oe ligature
}

TEST(CodePage, RefusesWhatThePageCannotHold) {
    EXPECT_FALSE(utf8_to_cp1252("\xE6\x97\xA5"));      // a CJK character
    EXPECT_FALSE(utf8_to_cp1252("\xC3"));              // truncated sequence
    EXPECT_FALSE(utf8_to_cp1252("\xC0\xAF"));          // overlong slash
    EXPECT_FALSE(utf8_to_cp1252("\xF0\x9F\x98\x80"));  // outside the basic plane
}

}  // namespace
}  // namespace lumo
