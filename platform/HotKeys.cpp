#include "platform/HotKeys.h"

#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <map>
#include <utility>

namespace quor::platform {
namespace {

struct KeyPair {
  unsigned vk;
  unsigned long keysym;
};

// Virtual-key codes that are not letters, digits or function keys.
constexpr KeyPair kKeyTable[] = {
    {0x08, XK_BackSpace},
    {0x09, XK_Tab},
    {0x0C, XK_Clear},
    {0x0D, XK_Return},
    {0x13, XK_Pause},
    {0x14, XK_Caps_Lock},
    {0x1B, XK_Escape},
    {0x20, XK_space},
    {0x21, XK_Prior},
    {0x22, XK_Next},
    {0x23, XK_End},
    {0x24, XK_Home},
    {0x25, XK_Left},
    {0x26, XK_Up},
    {0x27, XK_Right},
    {0x28, XK_Down},
    {0x29, XK_Select},
    {0x2A, XK_Print},
    {0x2B, XK_Execute},
    {0x2C, XK_Print},
    {0x2D, XK_Insert},
    {0x2E, XK_Delete},
    {0x2F, XK_Help},
    {0x5B, XK_Super_L},
    {0x5C, XK_Super_R},
    {0x5D, XK_Menu},
    {0x5F, XF86XK_Sleep},
    {0x6A, XK_KP_Multiply},
    {0x6B, XK_KP_Add},
    {0x6C, XK_KP_Separator},
    {0x6D, XK_KP_Subtract},
    {0x6E, XK_KP_Decimal},
    {0x6F, XK_KP_Divide},
    {0x90, XK_Num_Lock},
    {0x91, XK_Scroll_Lock},
    {0xA6, XF86XK_Back},
    {0xA7, XF86XK_Forward},
    {0xA8, XF86XK_Refresh},
    {0xA9, XF86XK_Stop},
    {0xAA, XF86XK_Search},
    {0xAB, XF86XK_Favorites},
    {0xAC, XF86XK_HomePage},
    {0xAD, XF86XK_AudioMute},
    {0xAE, XF86XK_AudioLowerVolume},
    {0xAF, XF86XK_AudioRaiseVolume},
    {0xB0, XF86XK_AudioNext},
    {0xB1, XF86XK_AudioPrev},
    {0xB2, XF86XK_AudioStop},
    {0xB3, XF86XK_AudioPlay},
    {0xB4, XF86XK_Mail},
    {0xB5, XF86XK_AudioMedia},
    {0xB6, XF86XK_MyComputer},
    {0xB7, XF86XK_Calculator},
    {0xBA, XK_semicolon},
    {0xBB, XK_equal},
    {0xBC, XK_comma},
    {0xBD, XK_minus},
    {0xBE, XK_period},
    {0xBF, XK_slash},
    {0xC0, XK_grave},
    {0xDB, XK_bracketleft},
    {0xDC, XK_backslash},
    {0xDD, XK_bracketright},
    {0xDE, XK_apostrophe},
};

struct Registration {
  unsigned modifiers;
  unsigned long keysym;
};

// Matches window key events against the registrations.
class WindowKeyHotKeys : public HotKeys {
 public:
  bool Register(int id, unsigned modifiers, unsigned virtualKey) override {
    const unsigned long keysym = KeysymForVirtualKey(virtualKey);
    if (keysym == 0 || registrations_.count(id) != 0) return false;
    // A key already registered under another id is refused, as the system
    // refuses a second hot key on one key: the first registration keeps it.
    for (const auto& [other, reg] : registrations_)
      if (reg.keysym == keysym && reg.modifiers == modifiers) return false;
    registrations_.emplace(id, Registration{modifiers, keysym});
    return true;
  }
  bool Unregister(int id) override { return registrations_.erase(id) != 0; }
  int EventDescriptor() const override { return -1; }
  std::vector<int> TakePressed() override { return {}; }
  std::optional<int> MatchWindowKey(unsigned long keysym, unsigned modifiers) const override {
    // Letters arrive as lower- or upper-case keysyms; the table holds upper.
    if (keysym >= XK_a && keysym <= XK_z) keysym = keysym - XK_a + XK_A;
    for (const auto& [id, reg] : registrations_)
      if (reg.keysym == keysym && reg.modifiers == modifiers) return id;
    return std::nullopt;
  }

 private:
  std::map<int, Registration> registrations_;
};

// Set while a grab is checked; Xlib reports a refused grab asynchronously.
bool gGrabRefused = false;
int NoteXError(::Display*, XErrorEvent* e) {
  if (e->error_code == BadAccess) gGrabRefused = true;
  return 0;
}

unsigned XModifiers(unsigned modifiers) {
  unsigned mask = 0;
  if (modifiers & kModAlt) mask |= Mod1Mask;
  if (modifiers & kModControl) mask |= ControlMask;
  if (modifiers & kModShift) mask |= ShiftMask;
  if (modifiers & kModWin) mask |= Mod4Mask;
  return mask;
}

// The lock modifiers that must not block a grabbed key: CapsLock and NumLock
// (Mod2 on every common keyboard map).
constexpr unsigned kLockMasks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

// Grabs on the root window through a connection of its own, so that the
// GUI toolkit's connection is never touched.
class X11HotKeys : public HotKeys {
 public:
  explicit X11HotKeys(::Display* dpy) : dpy_(dpy), root_(DefaultRootWindow(dpy)) {
    // Xlib's default handler ends the process on any error of any Xlib
    // connection; the kiosk must never die of a refused grab or a stale
    // request, so errors are noted (a refused grab) and otherwise ignored.
    XSetErrorHandler(&NoteXError);
  }
  ~X11HotKeys() override {
    for (const auto& [id, grab] : grabs_) Ungrab(grab);
    XCloseDisplay(dpy_);
  }
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  bool Register(int id, unsigned modifiers, unsigned virtualKey) override {
    const unsigned long keysym = KeysymForVirtualKey(virtualKey);
    if (keysym == 0 || grabs_.count(id) != 0) return false;
    const KeyCode code = XKeysymToKeycode(dpy_, keysym);
    if (code == 0) return false;
    const Grab grab{code, XModifiers(modifiers)};
    // A key already grabbed under another id is refused, as the system
    // refuses a second hot key on one key: the first registration keeps it.
    for (const auto& [other, held] : grabs_)
      if (held == grab) return false;
    XSync(dpy_, False);
    gGrabRefused = false;
    for (unsigned lock : kLockMasks)
      XGrabKey(dpy_, code, grab.mask | lock, root_, False, GrabModeAsync, GrabModeAsync);
    XSync(dpy_, False);
    const bool refused = gGrabRefused;
    if (refused) {
      Ungrab(grab);
      XSync(dpy_, False);
      return false;
    }
    grabs_.emplace(id, grab);
    return true;
  }

  bool Unregister(int id) override {
    const auto it = grabs_.find(id);
    if (it == grabs_.end()) return false;
    // No other id holds the same key (a second registration is refused).
    const Grab grab = it->second;
    grabs_.erase(it);
    Ungrab(grab);
    XFlush(dpy_);
    return true;
  }

  int EventDescriptor() const override { return ConnectionNumber(dpy_); }

  std::vector<int> TakePressed() override {
    std::vector<int> ids;
    while (XPending(dpy_) > 0) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      if (ev.type != KeyPress) continue;
      const unsigned mask = ev.xkey.state & (Mod1Mask | ControlMask | ShiftMask | Mod4Mask);
      for (const auto& [id, grab] : grabs_)
        if (grab.code == ev.xkey.keycode && grab.mask == mask) ids.push_back(id);
    }
    return ids;
  }

  std::optional<int> MatchWindowKey(unsigned long, unsigned) const override { return std::nullopt; }

 private:
  struct Grab {
    unsigned code;
    unsigned mask;
    bool operator==(const Grab&) const = default;
  };
  void Ungrab(const Grab& grab) {
    for (unsigned lock : kLockMasks) XUngrabKey(dpy_, grab.code, grab.mask | lock, root_);
  }

  ::Display* dpy_;
  Window root_;
  std::map<int, Grab> grabs_;
};

}  // namespace

unsigned long KeysymForVirtualKey(unsigned vk) {
  if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
  if (vk >= 'A' && vk <= 'Z') return XK_A + (vk - 'A');
  if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
  for (const auto& pair : kKeyTable)
    if (pair.vk == vk) return pair.keysym;
  return 0;
}

std::unique_ptr<HotKeys> CreateWindowKeyHotKeys() {
  return std::make_unique<WindowKeyHotKeys>();
}

std::unique_ptr<HotKeys> CreateHotKeys() {
  if (::Display* dpy = XOpenDisplay(nullptr)) return std::make_unique<X11HotKeys>(dpy);
  return CreateWindowKeyHotKeys();
}

}  // namespace quor::platform
