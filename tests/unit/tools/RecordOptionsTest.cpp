#include <gtest/gtest.h>

#include "tools/torvane_record/RecordOptions.h"

using namespace torvane;
using namespace torvane::record;

namespace {

ParseOutcome parse(std::vector<std::string> args) { return parseRecordOptions(args); }

RecordOptions ok(std::vector<std::string> args) {
    const ParseOutcome o = parse(args);
    EXPECT_EQ(o.kind, ParseOutcome::Run) << o.message;
    return o.options;
}

}  // namespace

TEST(RecordOptions, NoArgumentsChangeNothing) {
    const RecordOptions o = ok({});
    EXPECT_FALSE(o.out || o.stopAfterMs || o.sourceKind || o.area || o.window || o.fps || o.sound || o.cursor);
    EXPECT_TRUE(o.pauses.empty());
}

TEST(RecordOptions, ParsesEveryOptionInBothSpellings) {
    const RecordOptions o = ok({"--out", "/tmp/x.avi", "--seconds=2.5", "--source", "area", "--area=10,-20,410,380",
                                "--size-choice", "3", "--fps=30", "--quality", "2", "--taskbar", "0", "--cursor",
                                "ellipse", "--highlight-color", "#00FF80", "--highlight-opacity", "40",
                                "--highlight-size", "50", "--sound", "both"});
    EXPECT_EQ(*o.out, "/tmp/x.avi");
    EXPECT_EQ(*o.stopAfterMs, 2500u);
    EXPECT_EQ(*o.sourceKind, kSourceArea);
    EXPECT_EQ(*o.area, (ScreenRect{10, -20, 410, 380}));
    EXPECT_EQ(*o.sizeChoice, 3);
    EXPECT_EQ(*o.fps, 30);
    EXPECT_EQ(*o.quality, 2);
    EXPECT_EQ(*o.taskbar, 0);
    EXPECT_EQ(*o.cursor, kHighlightEllipse);
    EXPECT_EQ(*o.highlightColor, 0x0080FF00u);   // RRGGBB 00FF80 as COLORREF 0x00BBGGRR
    EXPECT_EQ(*o.highlightOpacity, 40);
    EXPECT_EQ(*o.highlightSize, 50);
    EXPECT_EQ(*o.sound, SoundChoice::Both);
}

TEST(RecordOptions, BadSyntaxIsAUsageError) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--frobnicate", "1"}, {"--fps"}, {"record.avi"}, {"-x"}, {"--"}}) {
        const ParseOutcome o = parse(args);
        EXPECT_EQ(o.kind, ParseOutcome::BadUsage) << args[0];
        EXPECT_FALSE(o.message.empty());
    }
    EXPECT_EQ(parse({"--fps", "8", "--help"}).kind, ParseOutcome::Help);
}

TEST(RecordOptions, ValuesTheDialogsCouldNeverProduceAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--fps", "0"}, {"--fps", "2"}, {"--fps", "31"}, {"--fps", "8.5"}, {"--fps", "+8"}, {"--fps", " 8"},
        {"--size-choice", "9"}, {"--size-choice", "-1"}, {"--quality", "3"}, {"--taskbar", "2"},
        {"--highlight-opacity", "35"}, {"--highlight-opacity", "110"}, {"--highlight-size", "1"},
        {"--highlight-size", "51"}, {"--highlight-color", "12345"}, {"--highlight-color", "GG0000"},
        {"--cursor", "arrow"}, {"--source", "screen"}, {"--sound", "loud"}, {"--seconds", "0"},
        {"--seconds", "-3"}, {"--seconds", "abc"}, {"--seconds", "inf"}, {"--seconds", "1e3"},
        {"--seconds", "99999999"}, {"--out", ""}, {"--fps", "99999999999999999999"},
        {"--area", "1,2,3"}, {"--area", "1,2,3,4,5"}, {"--area", "100,100,50,300"}, {"--area", "0,0,100,0"},
        {"--area", "0,0,,100"}, {"--area", "0,0,2000000,100"},
        {"--watermark", ""}, {"--watermark-pos", "9"}, {"--watermark-size", "100"}, {"--watermark-size", "0x50"},
        {"--watermark-size", "100x2001"}, {"--watermark-opacity", "75"}, {"--watermark-margin", "10"},
        {"--watermark-margin", "-1,5"},
    };
    for (const auto& args : bad) {
        const ParseOutcome o = parse(args);
        EXPECT_EQ(o.kind, ParseOutcome::BadValue) << args[0] << " " << args[1];
        EXPECT_NE(o.message.find(args[0]), std::string::npos) << o.message;   // names the option
    }
}

TEST(RecordOptions, WindowIdsDecimalOrHex) {
    EXPECT_EQ(*ok({"--window", "31457287"}).window, 31457287u);
    EXPECT_EQ(*ok({"--window", "0x1e00007"}).window, 0x1e00007u);
    EXPECT_EQ(*ok({"--window=0X1E00007"}).window, 0x1e00007u);
    EXPECT_EQ(*ok({"--window", "0xffffffff"}).window, 0xffffffffu);
    for (const char* bad : {"0", "0x0", "0x", "-5", "12ab", "0x100000000", "window"})
        EXPECT_EQ(parse({"--window", bad}).kind, ParseOutcome::BadValue) << bad;
}

TEST(RecordOptions, RepeatedPausesAreKeptInRecordedTimeOrder) {
    const RecordOptions o = ok({"--pause", "3,1", "--pause", "1.5,0.25", "--pause", "3,2", "--pause", "0,1"});
    const std::vector<PauseSpec> expected = {{0, 1000}, {1500, 250}, {3000, 1000}, {3000, 2000}};
    EXPECT_EQ(o.pauses, expected);
    for (const char* bad : {"3", "3,0", "3,", ",1", "a,1", "3,1,2", "-1,1"})
        EXPECT_EQ(parse({"--pause", bad}).kind, ParseOutcome::BadValue) << bad;
}

TEST(RecordOptions, LaterOptionsWin) {
    EXPECT_EQ(*ok({"--fps", "10", "--fps", "20"}).fps, 20);
}
