#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "settings/CaptureSettings.h"

using namespace torvane;

TEST(Utf16Field, RoundTripsNonAsciiText) {
    char16_t field[260];
    const std::string path = "/home/jörg/Bilder/logo €.png";
    toUtf16Field(path, field, 260);
    EXPECT_EQ(fromUtf16Field(field, 260), path);
    EXPECT_EQ(field[std::char_traits<char16_t>::length(field)], u'\0');
}

TEST(Utf16Field, CutsToCapacityLessOneAndZeroFillsTheRest) {
    char16_t field[8];
    std::fill(std::begin(field), std::end(field), char16_t(0xAAAA));
    toUtf16Field("abcdefghijkl", field, 8);
    EXPECT_EQ(fromUtf16Field(field, 8), "abcdefg");
    EXPECT_EQ(field[7], u'\0');

    std::fill(std::begin(field), std::end(field), char16_t(0xAAAA));
    toUtf16Field("ab", field, 8);
    EXPECT_TRUE(std::all_of(field + 2, field + 8, [](char16_t c) { return c == 0; }));
}

TEST(Utf16Field, NeverSplitsASurrogatePair) {
    char16_t field[4];
    // "ab" then U+1F600 (two code units): only three fit, so the pair is dropped whole.
    toUtf16Field("ab\xF0\x9F\x98\x80", field, 4);
    EXPECT_EQ(fromUtf16Field(field, 4), "ab");
    EXPECT_EQ(field[2], u'\0');
    toUtf16Field("a\xF0\x9F\x98\x80", field, 4);
    EXPECT_EQ(fromUtf16Field(field, 4), "a\xF0\x9F\x98\x80");
}

TEST(Utf16Field, UnterminatedFieldIsReadOnlyToItsEnd) {
    char16_t field[3] = {u'x', u'y', u'z'};
    EXPECT_EQ(fromUtf16Field(field, 3), "xyz");
    EXPECT_EQ(fromUtf16Field(field, 0), "");
}
