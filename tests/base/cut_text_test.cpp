#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

using velloc::host::cutText;

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(CutText, CutsBetweenCharactersOnly) {
    EXPECT_EQ(cutText("abc", 2), "ab");
    EXPECT_EQ(cutText("abc", 10), "abc");
    // "é" is two bytes, "€" three, "𝄞" four: a budget ending inside one drops it whole.
    EXPECT_EQ(cutText("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(cutText("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(cutText("a\xE2\x82\xAC", 3), "a");
    EXPECT_EQ(cutText("a\xE2\x82\xAC", 4), "a\xE2\x82\xAC");
    EXPECT_EQ(cutText("a\xF0\x9D\x84\x9E", 4), "a");
    EXPECT_EQ(cutText("a\xF0\x9D\x84\x9E", 5), "a\xF0\x9D\x84\x9E");
    EXPECT_EQ(cutText("", 0), "");
    EXPECT_EQ(cutText("\xC3\xA9", 1), "");
}

TEST(CutText, BytesThatAreNoCharacterAreReplaced) {
    EXPECT_EQ(cutText("a\xE9z"), "a" + kReplacement + "z");      // Latin-1 byte
    EXPECT_EQ(cutText("a\xC3"), "a" + kReplacement);             // sequence cut short
    EXPECT_EQ(cutText("\x80x"), kReplacement + "x");             // stray continuation
    EXPECT_EQ(cutText("\xC0\xAF"), kReplacement + kReplacement); // overlong "/"
    EXPECT_EQ(cutText("\xED\xA0\x80"), kReplacement + kReplacement + kReplacement); // surrogate
    EXPECT_EQ(cutText("\xF4\x90\x80\x80").find("\xF4"), std::string::npos); // above U+10FFFF
    // A replacement is three bytes and counts against the budget.
    EXPECT_EQ(cutText("ab\xFF", 4), "ab");
    EXPECT_EQ(cutText("ab\xFF", 5), "ab" + kReplacement);
}

} // namespace
