#include "engine/PointerNotice.h"

namespace torvane {

std::string pointerNotice(const CursorSettings& cursor, ScreenPointer pointer) {
    if (cursor.captureCursor == 0 || pointer == ScreenPointer::Told) return {};
    const bool highlight = cursor.highlightType == kHighlightRectangle || cursor.highlightType == kHighlightEllipse;
    if (pointer == ScreenPointer::Embedded)
        return highlight ? "The pointer highlight was not drawn: this desktop's screen sharing draws the pointer "
                           "into the picture and does not tell where it is. The pointer is recorded as the "
                           "desktop draws it."
                         : std::string();
    return std::string(highlight ? "The pointer and its highlight were" : "The pointer was") +
           " not recorded: this desktop's screen sharing neither includes the pointer nor tells where it is.";
}

}  // namespace torvane
