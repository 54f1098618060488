#pragma once
// A V4L2 node answered inside the test process: a camera's user controls with their flags, walked
// with NEXT_CTRL, and the link a real driver keeps between automatic exposure and the manual
// exposure time (manual is inactive while automatic is on, and gets its own value back when on).

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/v4l2/V4l2Controls.h"

namespace torvane::v4l2::fake {

constexpr uint32_t kBrightness = V4L2_CID_BRIGHTNESS;
constexpr uint32_t kExposureAuto = V4L2_CID_EXPOSURE_AUTO;           // menu: 1 manual, 3 aperture priority
constexpr uint32_t kExposureTime = V4L2_CID_EXPOSURE_ABSOLUTE;       // inactive unless manual
constexpr uint32_t kPowerLine = V4L2_CID_POWER_LINE_FREQUENCY;       // grabbed while "streaming"
constexpr uint32_t kPan = V4L2_CID_PAN_ABSOLUTE;                     // disabled by the driver
constexpr uint32_t kFocusReading = V4L2_CID_FOCUS_ABSOLUTE;          // read-only
constexpr uint32_t kClassHeading = V4L2_CID_CAMERA_CLASS;            // a heading, not a control

struct FakeControl {
    v4l2_queryctrl query{};
    int32_t value = 0;
    std::map<uint32_t, std::string> menu;   // index -> caption; missing indexes are gaps
};

class FakeNode : public NodeIoctl {
public:
    FakeNode() {
        add(kBrightness, "Brightness", V4L2_CTRL_TYPE_INTEGER, -64, 64, 0, 10);
        add(kClassHeading, "Camera Controls", V4L2_CTRL_TYPE_CTRL_CLASS, 0, 0, V4L2_CTRL_FLAG_READ_ONLY, 0);
        add(kExposureAuto, "Auto Exposure", V4L2_CTRL_TYPE_MENU, 0, 3, V4L2_CTRL_FLAG_UPDATE, 3,
            {{1, "Manual Mode"}, {3, "Aperture Priority Mode"}});
        add(kExposureTime, "Exposure Time, Absolute", V4L2_CTRL_TYPE_INTEGER, 3, 2047, V4L2_CTRL_FLAG_INACTIVE, 156);
        add(kFocusReading, "Focus, Absolute", V4L2_CTRL_TYPE_INTEGER, 0, 255, V4L2_CTRL_FLAG_READ_ONLY, 40);
        add(kPan, "Pan, Absolute", V4L2_CTRL_TYPE_INTEGER, -36000, 36000, V4L2_CTRL_FLAG_DISABLED, 0);
        add(kPowerLine, "Power Line Frequency", V4L2_CTRL_TYPE_MENU, 0, 2, V4L2_CTRL_FLAG_GRABBED, 1,
            {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}});
    }

    int call(unsigned long request, void* arg) override {
        calls += 1;
        switch (request) {
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const uint32_t id = q->id & ~uint32_t(V4L2_CTRL_FLAG_NEXT_CTRL);
            auto it = (q->id & V4L2_CTRL_FLAG_NEXT_CTRL) ? controls.upper_bound(id) : controls.find(id);
            if (it == controls.end()) return fail(EINVAL);
            *q = it->second.query;
            return 0;
        }
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            auto it = controls.find(m->id);
            if (it == controls.end() || !it->second.menu.count(m->index)) return fail(EINVAL);
            std::strncpy(reinterpret_cast<char*>(m->name), it->second.menu.at(m->index).c_str(), sizeof m->name - 1);
            return 0;
        }
        case VIDIOC_G_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            auto it = controls.find(c->id);
            if (it == controls.end()) return fail(EINVAL);
            c->value = it->second.value;
            return 0;
        }
        case VIDIOC_S_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            auto it = controls.find(c->id);
            if (it == controls.end()) return fail(EINVAL);
            const uint32_t flags = it->second.query.flags;
            if (flags & V4L2_CTRL_FLAG_READ_ONLY) return fail(EACCES);
            if (flags & V4L2_CTRL_FLAG_GRABBED) return fail(EBUSY);
            if (c->value < it->second.query.minimum || c->value > it->second.query.maximum) return fail(ERANGE);
            it->second.value = c->value;
            if (c->id == kExposureAuto) {
                auto& manual = controls.at(kExposureTime);
                if (c->value == 1) {
                    manual.query.flags &= ~uint32_t(V4L2_CTRL_FLAG_INACTIVE);
                    manual.value = lastManualExposure;
                } else {
                    manual.query.flags |= V4L2_CTRL_FLAG_INACTIVE;
                }
            }
            if (c->id == kExposureTime) lastManualExposure = c->value;
            return 0;
        }
        default: return fail(ENOTTY);
        }
    }

    std::map<uint32_t, FakeControl> controls;   // ordered by id, as NEXT_CTRL walks them
    int32_t lastManualExposure = 500;
    int calls = 0;

private:
    static int fail(int e) {
        errno = e;
        return -1;
    }
    void add(uint32_t id, const char* name, uint32_t type, int32_t min, int32_t max, uint32_t flags, int32_t value,
             std::map<uint32_t, std::string> menu = {}) {
        FakeControl c;
        c.query.id = id;
        c.query.type = type;
        std::strncpy(reinterpret_cast<char*>(c.query.name), name, sizeof c.query.name - 1);
        c.query.minimum = min;
        c.query.maximum = max;
        c.query.step = 1;
        c.query.default_value = value;
        c.query.flags = flags;
        c.value = value;
        c.menu = std::move(menu);
        controls[id] = c;
    }
};

}  // namespace torvane::v4l2::fake
