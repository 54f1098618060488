#include "platform/x11/ChangeWatch.h"

#include <xcb/damage.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>

namespace torvane::x11 {

namespace {
template <typename T>
struct FreeReply {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply<T>>;

bool checked(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    xcb_generic_error_t* e = xcb_request_check(c, cookie);
    std::free(e);
    return e == nullptr;
}
}  // namespace

std::unique_ptr<ChangeWatch> ChangeWatch::open(xcb_connection_t* c, xcb_window_t root) {
    // Damage reports through XFixes regions, so XFixes is asked for first either way.
    const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    const bool haveFixes = fixes && fixes->present &&
                           Reply<xcb_xfixes_query_version_reply_t>(
                               xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(c, &xcb_damage_id);
    if (!haveFixes || !damage || !damage->present) return nullptr;
    if (!Reply<xcb_damage_query_version_reply_t>(
            xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr)))
        return nullptr;
    const uint32_t id = xcb_generate_id(c);
    // Delta rectangles: one report per newly damaged area until it is emptied, so a busy screen
    // does not flood the connection between grabs.
    if (!checked(c, xcb_damage_create_checked(c, id, root, XCB_DAMAGE_REPORT_LEVEL_DELTA_RECTANGLES)))
        return nullptr;
    uint8_t fixesEvent = 0;
    if (checked(c, xcb_xfixes_select_cursor_input_checked(c, root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR)))
        fixesEvent = fixes->first_event;
    // The root's own configure notifications tell a new screen size (RandR): parts of the picture
    // may then have gone off the screen or come back, which no damage reports.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    std::unique_ptr<ChangeWatch> w(new ChangeWatch(c, root, id, damage->first_event, fixesEvent));
    if (fixesEvent) w->cursorSerial_ = 1;
    return w;
}

ChangeWatch::~ChangeWatch() {
    xcb_damage_destroy(conn_, damage_);
    xcb_flush(conn_);
}

namespace {
// Beyond this many parts a picture is taken as changed all over.
constexpr size_t kMostParts = 64;
}  // namespace

void ChangeWatch::beginGrab(const ScreenRect& rect) {
    readEvents();
    grabPartsKnown_ = baseline_ && pendingKnown_ && rect == rect_;
    grabParts_.swap(pending_);
    pending_.clear();
    pendingKnown_ = true;
    baseline_ = true;
    rect_ = rect;
    dirty_ = false;
    // Emptied before the picture is read (the grab's reply orders it): anything drawn after this
    // is reported again, anything before is in the picture.
    grabSequence_ = xcb_damage_subtract(conn_, damage_, XCB_NONE, XCB_NONE).sequence;
}

bool ChangeWatch::changedParts(std::vector<ScreenRect>& parts) {
    // What the server drew before the last grab began is reported before that grab's picture came.
    readEvents();
    if (!grabPartsKnown_) return false;
    parts = grabParts_;
    return true;
}

void ChangeWatch::noteDamage(const ScreenRect& r, bool stale) {
    const ScreenRect c{std::max(r.left, rect_.left), std::max(r.top, rect_.top), std::min(r.right, rect_.right),
                       std::min(r.bottom, rect_.bottom)};
    if (c.left >= c.right || c.top >= c.bottom) return;
    // Drawn before the last grab began: in its picture, and a change since the one before it.
    std::vector<ScreenRect>& list = stale ? grabParts_ : pending_;
    bool& known = stale ? grabPartsKnown_ : pendingKnown_;
    if (!stale) dirty_ = true;
    if (!known) return;
    if (list.size() >= kMostParts) {
        known = false;
        list.clear();
        return;
    }
    list.push_back(c);
}

bool ChangeWatch::changed() {
    readEvents();
    return dirty_;
}

uint64_t ChangeWatch::cursorSerial() {
    readEvents();
    return cursorSerial_;
}

bool ChangeWatch::takeScreenResized() {
    readEvents();
    const bool r = resized_;
    resized_ = false;
    return r;
}

void ChangeWatch::readEvents() {
    while (xcb_generic_event_t* e = xcb_poll_for_event(conn_)) {
        const uint8_t type = e->response_type & 0x7f;
        if (type == uint8_t(damageEvent_ + XCB_DAMAGE_NOTIFY)) {
            // Generated before the server emptied the damage for the last grab: in that picture.
            const bool stale = int32_t(e->full_sequence - grabSequence_) < 0;
            const auto* d = reinterpret_cast<const xcb_damage_notify_event_t*>(e);
            noteDamage({d->area.x, d->area.y, d->area.x + d->area.width, d->area.y + d->area.height}, stale);
        } else if (fixesEvent_ && type == uint8_t(fixesEvent_ + XCB_XFIXES_CURSOR_NOTIFY)) {
            ++cursorSerial_;
        } else if (type == XCB_CONFIGURE_NOTIFY && reinterpret_cast<const xcb_configure_notify_event_t*>(e)->window == root_) {
            resized_ = true;
            dirty_ = true;
            pendingKnown_ = false;
            pending_.clear();
        }
        std::free(e);
    }
}

}  // namespace torvane::x11
