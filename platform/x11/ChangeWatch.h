#pragma once
// What changed on an X screen, from the server's own reports: Damage on the root window for the
// screen content, XFixes cursor notifications for the pointer's shape, the root's configure
// notifications for the screen's size. Events are read without blocking from the connection they
// were asked on.

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/core/ScreenRect.h"

namespace torvane::x11 {

class ChangeWatch {
public:
    // Null when the server lacks the Damage extension; the caller then treats everything as changed.
    static std::unique_ptr<ChangeWatch> open(xcb_connection_t* c, xcb_window_t root);
    ~ChangeWatch();
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    // Called just before a grab of `rect`: what the server drew before this is in the grab.
    void beginGrab(const ScreenRect& rect);
    // The grab failed: its rectangle counts as changed until the next one succeeds.
    void grabFailed() {
        dirty_ = true;
        baseline_ = false;
    }
    // Whether anything was drawn inside the last grab's rectangle since it began.
    bool changed();
    // What was drawn inside the last grab's rectangle between the grab before it and that one, in
    // desktop coordinates, asked after the grab. False when that is not known: the first grab, one
    // after a failed one or of another rectangle, or more parts than are worth telling apart.
    bool changedParts(std::vector<ScreenRect>& parts);
    // Counts pointer shape changes; 0 when XFixes is missing.
    uint64_t cursorSerial();
    // Whether the screen's size changed since this was last asked. Everything counts as changed then.
    bool takeScreenResized();

private:
    ChangeWatch(xcb_connection_t* c, xcb_window_t root, uint32_t damage, uint8_t damageEvent, uint8_t fixesEvent)
        : conn_(c), root_(root), damage_(damage), damageEvent_(damageEvent), fixesEvent_(fixesEvent) {}
    void readEvents();

    xcb_connection_t* conn_;
    xcb_window_t root_;
    uint32_t damage_;
    uint8_t damageEvent_;        // first event code of Damage
    uint8_t fixesEvent_;         // first event code of XFixes; 0 without XFixes cursor events
    void noteDamage(const ScreenRect& r, bool stale);

    ScreenRect rect_;
    bool dirty_ = true;
    bool baseline_ = false;                 // the last grab succeeded: later ones can be told apart from it
    std::vector<ScreenRect> pending_;       // drawn since the last grab began
    bool pendingKnown_ = true;
    std::vector<ScreenRect> grabParts_;     // drawn between the grab before the last one and the last one
    bool grabPartsKnown_ = false;
    uint32_t grabSequence_ = 0;  // of the request that emptied the damage before the last grab
    uint64_t cursorSerial_ = 0;
    bool resized_ = false;
};

}  // namespace torvane::x11
