#include "platform/camera/CameraFormat.h"

#include <gst/gst.h>

#include <climits>
#include <limits>

namespace torvane::camera {

namespace {

constexpr const char* kRaw = "video/x-raw";
constexpr const char* kJpeg = "image/jpeg";

struct Rate {
    int num = 0, den = 1;
    double value() const { return den > 0 ? double(num) / den : 0; }
};

// Asks for `format`, at `width` x `height` when given, at no fewer pictures a second than `least`
// when given (a camera faster than the recording is fine: the newest picture is taken).
GstCaps* wish(const char* format, int width, int height, Rate least) {
    GstCaps* caps = gst_caps_new_empty_simple(format);
    if (width > 0 && height > 0) gst_caps_set_simple(caps, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
    if (least.num > 0) gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION_RANGE, least.num, least.den, INT_MAX, 1, nullptr);
    return caps;
}

void takeFaster(const GValue* v, Rate& best) {
    if (GST_VALUE_HOLDS_FRACTION(v)) {
        const Rate r{gst_value_get_fraction_numerator(v), gst_value_get_fraction_denominator(v)};
        if (r.value() > best.value()) best = r;
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(v)) {
        takeFaster(gst_value_get_fraction_range_max(v), best);
    } else if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) takeFaster(gst_value_list_get_value(v, i), best);
    }
}

// The highest rate `caps` offer; a structure that names no rate may run at any.
Rate fastest(const GstCaps* caps) {
    Rate best;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GValue* v = gst_structure_get_value(gst_caps_get_structure(caps, i), "framerate");
        if (!v) return Rate{INT_MAX, 1};
        takeFaster(v, best);
    }
    return best;
}

}  // namespace

bool readableFormat(const GstStructure* s) {
    return s && (gst_structure_has_name(s, kRaw) || gst_structure_has_name(s, kJpeg));
}

GstCaps* chooseCameraCaps(GstCaps* offered, int width, int height, int frameRate) {
    if (!offered) return nullptr;
    if (gst_caps_is_any(offered)) return wish(kRaw, width, height, Rate{frameRate, 1});
    const bool sized = width > 0 && height > 0;
    for (const bool withSize : {true, false}) {
        if (withSize && !sized) continue;
        const int w = withSize ? width : 0, h = withSize ? height : 0;
        // At this size: the first format that reaches the rate, else the fastest (raw on a tie).
        const char* best = nullptr;
        Rate bestRate{-1, 1};
        for (const char* format : {kRaw, kJpeg}) {
            GstCaps* probe = wish(format, w, h, Rate{});
            GstCaps* common = gst_caps_intersect(offered, probe);
            gst_caps_unref(probe);
            if (!gst_caps_is_empty(common)) {
                const Rate r = fastest(common);
                if (frameRate <= 0 || r.value() >= frameRate) {
                    gst_caps_unref(common);
                    return wish(format, w, h, Rate{frameRate, 1});
                }
                if (r.value() > bestRate.value()) best = format, bestRate = r;
            }
            gst_caps_unref(common);
        }
        if (best) return wish(best, w, h, bestRate.num > 0 ? bestRate : Rate{});
    }
    return nullptr;
}

bool isJpeg(const GstCaps* chosen) {
    return chosen && gst_caps_get_size(chosen) > 0 && gst_structure_has_name(gst_caps_get_structure(chosen, 0), kJpeg);
}

}  // namespace torvane::camera
