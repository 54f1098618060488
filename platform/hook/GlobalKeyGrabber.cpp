#include "platform/hook/GlobalKeyGrabber.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include "platform/core/WindowMessage.h"
#include "platform/hook/HotkeyKeys.h"

namespace torvane {

namespace {

constexpr uint32_t kKeysymNumLock = 0xff7f;
constexpr uint8_t kBadAccess = 10;
// A release followed this soon by a press with the same time stamp is keyboard auto-repeat.
constexpr int kRepeatWindowMs = 30;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

const char* keyName(uintptr_t vk) {
    switch (vk) {
    case VK_SHORTCUT_STOP: return "Ctrl+Alt+S";
    case VK_SHORTCUT_PAUSE: return "Ctrl+Alt+P";
    default: return "Ctrl+Alt+I";
    }
}

intptr_t stateBits(uint16_t state) {
    intptr_t bits = kHotkeyStateKnown;
    if (state & XCB_MOD_MASK_CONTROL) bits |= kHotkeyControl;
    if (state & XCB_MOD_MASK_1) bits |= kHotkeyAlt;
    if (state & XCB_MOD_MASK_SHIFT) bits |= kHotkeyShift;
    return bits;
}

}  // namespace

GlobalKeyGrabber::~GlobalKeyGrabber() { stop(); }

bool GlobalKeyGrabber::start(QObject* target, std::string& problems) {
    stop();
    problems.clear();
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_)) {
        problems = "cannot open the X display";
        xcb_disconnect(connection_);
        connection_ = nullptr;
        return false;
    }
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    root_ = it.data->root;

    // Keycodes of the three letters, in whichever column of the keymap they sit.
    const uint8_t minKey = setup->min_keycode;
    const int keyCount = setup->max_keycode - setup->min_keycode + 1;
    Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, minKey, keyCount), nullptr));
    Reply<xcb_get_modifier_mapping_reply_t> mods(
        xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr));
    if (!map || !mods) {
        problems = "cannot read the keyboard map";
        stop();
        return false;
    }
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int perKey = map->keysyms_per_keycode;
    auto keycodeOf = [&](xcb_keysym_t lower, xcb_keysym_t upper) -> std::optional<uint8_t> {
        for (int k = 0; k < keyCount; ++k)
            for (int c = 0; c < perKey; ++c) {
                const xcb_keysym_t s = syms[k * perKey + c];
                if (s == lower || s == upper) return static_cast<uint8_t>(minKey + k);
            }
        return std::nullopt;
    };
    // Num Lock is whichever modifier the keymap binds it to (usually Mod2).
    uint16_t numLockMask = 0;
    const xcb_keycode_t* modKeys = xcb_get_modifier_mapping_keycodes(mods.get());
    for (int m = 0; m < 8; ++m)
        for (int j = 0; j < mods->keycodes_per_modifier; ++j) {
            const xcb_keycode_t kc = modKeys[m * mods->keycodes_per_modifier + j];
            if (kc < minKey || kc >= minKey + keyCount) continue;
            for (int c = 0; c < perKey; ++c)
                if (syms[(kc - minKey) * perKey + c] == kKeysymNumLock) numLockMask |= (1u << m);
        }
    if (!numLockMask) numLockMask = XCB_MOD_MASK_2;

    const struct { xcb_keysym_t lower, upper; uintptr_t vk; } wanted[] = {
        {'s', 'S', VK_SHORTCUT_STOP}, {'p', 'P', VK_SHORTCUT_PAUSE}, {'i', 'I', VK_SHORTCUT_PIP}};
    bool allGrabbed = true;
    for (const auto& w : wanted) {
        const std::optional<uint8_t> kc = keycodeOf(w.lower, w.upper);
        if (!kc) {
            problems += std::string(keyName(w.vk)) + ": the key is not on the keyboard map\n";
            allGrabbed = false;
            continue;
        }
        // Every Caps Lock / Num Lock combination, with and without Shift, so the shortcut works
        // whatever lock keys are on.
        std::vector<xcb_void_cookie_t> cookies;
        for (uint16_t lock : {uint16_t(0), uint16_t(XCB_MOD_MASK_LOCK), numLockMask,
                              uint16_t(XCB_MOD_MASK_LOCK | numLockMask)})
            for (uint16_t shift : {uint16_t(0), uint16_t(XCB_MOD_MASK_SHIFT)})
                cookies.push_back(xcb_grab_key_checked(connection_, 0, root_,
                                                       XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | lock | shift, *kc,
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        bool refused = false;
        uint8_t code = 0;
        for (xcb_void_cookie_t c : cookies) {
            Reply<xcb_generic_error_t> err(xcb_request_check(connection_, c));
            if (err) {
                refused = true;
                code = err->error_code;
            }
        }
        if (refused) {
            problems += std::string(keyName(w.vk)) +
                        (code == kBadAccess ? ": another program holds this shortcut\n"
                                            : ": the X server refused the grab (error " + std::to_string(code) + ")\n");
            allGrabbed = false;
        }
        keys_.push_back({*kc, w.vk});
    }

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        problems += "cannot create the wake-up pipe\n";
        stop();
        return false;
    }
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    target_ = target;
    thread_ = std::thread(&GlobalKeyGrabber::run, this);
    return allGrabbed;
}

void GlobalKeyGrabber::stop() {
    if (thread_.joinable()) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = write(wakeWrite_, &byte, 1);
        thread_.join();
    }
    if (wakeRead_ >= 0) close(wakeRead_);
    if (wakeWrite_ >= 0) close(wakeWrite_);
    wakeRead_ = wakeWrite_ = -1;
    if (connection_) xcb_disconnect(connection_);   // the server drops the grabs with the client
    connection_ = nullptr;
    keys_.clear();
    target_ = nullptr;
}

void GlobalKeyGrabber::run() {
    struct Pending {
        uint8_t keycode;
        uint32_t time;
        uintptr_t vk;
        intptr_t state;
    };
    std::optional<Pending> pending;
    std::map<uint8_t, intptr_t> pressState;
    auto deliver = [&] {
        if (pending) postWindowMessage(target_, WM_RECORDER_HOTKEY, pending->vk, pending->state);
        pending.reset();
    };
    pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    for (;;) {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(connection_)) {
            Reply<xcb_generic_event_t> ev(raw);
            const uint8_t type = ev->response_type & 0x7f;
            if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) continue;
            auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev.get());
            if (type == XCB_KEY_PRESS) {
                // Auto-repeat sends release+press pairs with one time stamp: keep only the last release.
                if (pending && pending->keycode == key->detail && pending->time == key->time) pending.reset();
                // The modifiers count as they were when the letter went down: they may be let go
                // before the letter is.
                pressState[key->detail] = stateBits(key->state);
                continue;
            }
            deliver();
            for (const Grab& g : keys_)
                if (g.keycode == key->detail) {
                    const auto pressed = pressState.find(key->detail);
                    const intptr_t state = pressed != pressState.end() ? pressed->second : stateBits(key->state);
                    pending = Pending{key->detail, key->time, g.virtualKey, state};
                }
        }
        if (xcb_connection_has_error(connection_)) break;
        const int ready = poll(fds, 2, pending ? kRepeatWindowMs : -1);
        if (ready == 0) deliver();
        if (ready > 0 && (fds[1].revents & POLLIN)) break;
    }
    pending.reset();   // a release still waiting is dropped: nobody listens any more
}

}  // namespace torvane
