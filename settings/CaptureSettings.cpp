#include "settings/CaptureSettings.h"

#include <QString>
#include <algorithm>

namespace torvane {

std::string fromUtf16Field(const char16_t* field, size_t capacity) {
    if (!field || capacity == 0) return {};
    // A field without a terminator is read up to its end, never past it.
    const char16_t* end = std::find(field, field + capacity, u'\0');
    return QString::fromUtf16(field, static_cast<qsizetype>(end - field)).toStdString();
}

void toUtf16Field(const std::string& utf8, char16_t* field, size_t capacity) {
    if (!field || capacity == 0) return;
    const QString text = QString::fromStdString(utf8);
    size_t n = std::min(static_cast<size_t>(text.size()), capacity - 1);
    // Never keep the first half of a surrogate pair whose second half was cut off.
    if (n > 0 && n < static_cast<size_t>(text.size()) && QChar::isHighSurrogate(text.at(n - 1).unicode()))
        --n;
    const char16_t* src = reinterpret_cast<const char16_t*>(text.utf16());
    std::copy(src, src + n, field);
    std::fill(field + n, field + capacity, u'\0');
}

}  // namespace torvane
