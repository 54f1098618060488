#include <gtest/gtest.h>

#include "engine/PointerNotice.h"

namespace torvane {
namespace {

CursorSettings cursor(int32_t capture, int32_t type) {
    CursorSettings c;
    c.captureCursor = capture;
    c.highlightType = type;
    return c;
}

// Told only where the recording falls short of the choice: the highlight with a pointer the
// desktop draws in, anything of the pointer where the desktop gives none.
TEST(PointerNotice, ToldExactlyWhereThePointerFallsShortOfTheChoice) {
    for (const ScreenPointer p : {ScreenPointer::Told, ScreenPointer::Embedded, ScreenPointer::Absent})
        EXPECT_EQ(pointerNotice(cursor(0, kHighlightEllipse), p), "") << "the pointer was not asked for";
    for (const int32_t type : {kHighlightPointer, kHighlightRectangle, kHighlightEllipse})
        EXPECT_EQ(pointerNotice(cursor(1, type), ScreenPointer::Told), "") << type;
    EXPECT_EQ(pointerNotice(cursor(1, kHighlightPointer), ScreenPointer::Embedded), "")
        << "the desktop's own pointer is what was asked for";

    for (const int32_t type : {kHighlightRectangle, kHighlightEllipse}) {
        const std::string embedded = pointerNotice(cursor(1, type), ScreenPointer::Embedded);
        EXPECT_NE(embedded.find("highlight was not drawn"), std::string::npos) << embedded;
        EXPECT_NE(embedded.find("recorded as the desktop draws it"), std::string::npos) << embedded;
        EXPECT_EQ(pointerNotice(cursor(1, type), ScreenPointer::Absent).rfind("The pointer and its highlight were not", 0),
                  0u);
    }
    EXPECT_EQ(pointerNotice(cursor(1, kHighlightPointer), ScreenPointer::Absent).rfind("The pointer was not recorded", 0),
              0u);
}

}  // namespace
}  // namespace torvane
