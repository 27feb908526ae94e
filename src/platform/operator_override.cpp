#include "platform/operator_override.h"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/keysym.h>

#include <array>
#include <cstdlib>
#include <mutex>

namespace sealdesk::platform {
namespace {

// The keys the operator holds down to let a client from another address in.
constexpr std::array<KeySym, 4> kOverrideKeys = {XK_Control_L, XK_Shift_L, XK_Alt_L, XK_F12};
// Keyboard or mouse input must be at most this old.
constexpr unsigned long kMaxIdleMs = 250;

// Listener threads ask concurrently; the one display connection is used only
// under this lock, so Xlib needs no thread support of its own.
std::mutex g_lock;
Display* g_display = nullptr;
bool g_display_lost = false;

// Xlib ends the process when the connection to the server breaks, unless
// this handler returns; the connection is then unusable and is dropped.
void on_connection_lost(Display*, void*) { g_display_lost = true; }

Display* display_locked() {
    if (g_display_lost && g_display) {
        // A broken connection cannot be closed safely; it is left behind.
        g_display = nullptr;
        g_display_lost = false;
    }
    if (g_display) return g_display;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return nullptr;
    g_display = XOpenDisplay(name);
    if (g_display) XSetIOErrorExitHandler(g_display, on_connection_lost, nullptr);
    return g_display;
}

bool recent_input(Display* display) {
    int event_base = 0, error_base = 0;
    if (!XScreenSaverQueryExtension(display, &event_base, &error_base)) return false;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info) return false;
    const bool ok = XScreenSaverQueryInfo(display, DefaultRootWindow(display), info) != 0;
    const unsigned long idle = info->idle;
    XFree(info);
    return ok && idle <= kMaxIdleMs;
}

bool keys_down(Display* display) {
    char keymap[32] = {};
    XQueryKeymap(display, keymap);
    for (KeySym key : kOverrideKeys) {
        const KeyCode code = XKeysymToKeycode(display, key);
        if (code == 0) return false;
        if (!(keymap[code / 8] & (1 << (code % 8)))) return false;
    }
    return true;
}

}  // namespace

bool operator_override_holds() {
    std::lock_guard lock(g_lock);
    Display* display = display_locked();
    if (!display) return false;
    const bool holds = recent_input(display) && keys_down(display);
    return holds && !g_display_lost;
}

}  // namespace sealdesk::platform
