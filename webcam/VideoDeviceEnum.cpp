#include "webcam/VideoDeviceEnum.h"

#include <algorithm>
#include <strings.h>

namespace torvane {

std::vector<ResolutionItem> resolutionItems(const std::vector<camera::CameraSize>& sizes) {
    std::vector<ResolutionItem> items;
    for (const auto& s : sizes) {
        if (s.width <= 0 || s.width > 1280 || s.height <= 0 || s.height > 720) continue;
        const uint32_t v = packResolution(s.width, s.height);
        if (std::any_of(items.begin(), items.end(), [v](const ResolutionItem& i) { return i.value == v; })) continue;
        items.push_back({std::to_string(s.width) + "X" + std::to_string(s.height), v});
    }
    return items;
}

int defaultResolutionIndex(const std::vector<ResolutionItem>& items) {
    for (size_t i = 0; i < items.size(); ++i)
        if (strcasecmp(items[i].text.c_str(), "160X120") == 0) return int(i);
    return items.empty() ? -1 : 0;
}

bool webcamPresent() { return !camera::listCameras().empty(); }

std::vector<std::string> listWebcams() {
    std::vector<std::string> names;
    for (const auto& c : camera::listCameras()) names.push_back(c.name);
    return names;
}

bool listResolutions(const std::string& name, std::vector<ResolutionItem>& items, std::string* v4l2Path) {
    items.clear();
    if (v4l2Path) v4l2Path->clear();
    if (name.empty()) return false;
    for (const auto& c : camera::listCameras()) {
        if (c.name != name) continue;
        items = resolutionItems(c.sizes);
        if (v4l2Path) *v4l2Path = c.v4l2Path;
        return true;
    }
    return false;
}

bool defaultWebcam(std::string& name, uint16_t& width, uint16_t& height) {
    const auto cams = camera::listCameras();
    if (cams.empty()) return false;
    name = cams.front().name;
    for (const auto& s : cams.front().sizes) {
        if (s.width <= 0 || s.width > 1280 || s.height <= 0 || s.height > 720) continue;
        width = uint16_t(s.width);
        height = uint16_t(s.height);
        if (s.width == 160 && s.height == 120) return true;
    }
    return false;
}

VideoDeviceQuery videoDeviceQuery() {
    VideoDeviceQuery q;
    q.anyDevice = [] { return webcamPresent(); };
    q.defaultDevice = [](std::string& name, uint16_t& w, uint16_t& h) {
        defaultWebcam(name, w, h);
        return !name.empty();
    };
    return q;
}

std::string webcamListLine(const std::string& name, const std::vector<ResolutionItem>& items) {
    std::string line = name + ":";
    for (const auto& i : items) line += " " + i.text;
    return line;
}

}  // namespace torvane
