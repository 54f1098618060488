#pragma once
// The desktop's screen cast portal over D-Bus: one session that shares a monitor, and the PipeWire
// connection its frames come through.

#include <QString>

#include <cstdint>
#include <string>

namespace torvane::wayland {

// What a granted session hands out.
struct ScreenCastGrant {
    int pipeWireFd = -1;      // owned by the receiver
    uint32_t node = 0;        // the PipeWire node of the monitor's stream
    int x = 0, y = 0;         // the monitor's place and size in desktop coordinates
    int width = 0, height = 0;
    std::string restoreToken; // empty when the portal keeps no permission
};

class ScreenCastPortal {
public:
    ScreenCastPortal() = default;
    ~ScreenCastPortal();  // closes the session
    ScreenCastPortal(const ScreenCastPortal&) = delete;
    ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

    // Whether a session bus answers and its portal offers screen casting of monitors.
    static bool offered();

    // Asks for one monitor, with the pointer embedded in the picture (or sent beside it when the
    // portal can, see pointerAsMetadata()). A non-empty `restoreToken` lets the portal skip its
    // dialog. Waits for the user's answer while running the calling thread's event loop, so a
    // window on that thread keeps painting. False with `error`; `declined` tells a refusal.
    bool open(const std::string& restoreToken, ScreenCastGrant& grant, std::string& error, bool& declined);

    bool pointerAsMetadata() const { return pointerMetadata_; }
    // Without metadata: whether the portal draws the pointer into the picture.
    bool pointerEmbedded() const { return pointerEmbedded_; }

private:
    QString sessionPath_;
    bool pointerMetadata_ = false;
    bool pointerEmbedded_ = false;
};

}  // namespace torvane::wayland
