#pragma once
// The display mode of the room PC's screen. GUI thread only.

namespace quor::platform {

// Switches the primary output of the X display named by $DISPLAY to a mode of
// width x height pixels (24-bit colour is the X server's depth, not a mode
// property here). Best effort and silent: returns false when there is no X
// display, no RandR, no output or no such mode, or the server refuses the
// change; the display then stays as it was. Not stored: the change lasts
// until the X server resets or someone changes it back.
bool SetDisplayMode(int width, int height);

}  // namespace quor::platform
