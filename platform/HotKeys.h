#pragma once
// System-wide hot keys: keys that reach the terminal whatever has the keyboard
// focus and do not reach other programs. Keys are named by their Windows
// virtual-key codes (the remote control's set-up tool writes those), mapped to
// X keysyms by one table.
//
// On X11 the keys are grabbed on the root window with the asked modifiers
// (and again with NumLock and CapsLock added, so that those locks do not
// block them); a grabbed key arrives through EventDescriptor()/TakePressed().
// Without an X display (the offscreen platform, tests) the window's own key
// events are matched through the same table (MatchWindowKey).
//
// An object is used from the GUI thread only.

#include <memory>
#include <optional>
#include <vector>

namespace quor::platform {

// Modifier flags of a registration (the classic values).
inline constexpr unsigned kModAlt = 1;
inline constexpr unsigned kModControl = 2;
inline constexpr unsigned kModShift = 4;
inline constexpr unsigned kModWin = 8;

class HotKeys {
 public:
  virtual ~HotKeys() = default;

  // Registers id for virtualKey pressed with exactly the given modifiers.
  // False when the key has no keysym (the code 0 among them), is held by
  // another program, is registered already under another id (the first
  // registration keeps it), or id is already registered; that key then never
  // arrives for id.
  virtual bool Register(int id, unsigned modifiers, unsigned virtualKey) = 0;
  // Releases id; false when it was not registered.
  virtual bool Unregister(int id) = 0;

  // A descriptor that becomes readable when grabbed keys may have arrived;
  // -1 when keys come only through MatchWindowKey.
  virtual int EventDescriptor() const = 0;
  // The ids of the grabbed keys pressed since the last call, in order.
  virtual std::vector<int> TakePressed() = 0;
  // The id registered for a key press that the window itself received
  // (X keysym, modifier flags as above); nullopt when none matches. Grabbed
  // keys never reach a window, so the grabbing implementation matches none.
  virtual std::optional<int> MatchWindowKey(unsigned long keysym, unsigned modifiers) const = 0;
};

// The X11 grabbing implementation when an X display can be opened, else the
// window-key implementation.
std::unique_ptr<HotKeys> CreateHotKeys();

// The window-key implementation alone (tests, non-X platforms).
std::unique_ptr<HotKeys> CreateWindowKeyHotKeys();

// The X keysym of a Windows virtual-key code; 0 for codes without one.
unsigned long KeysymForVirtualKey(unsigned virtualKey);

}  // namespace quor::platform
