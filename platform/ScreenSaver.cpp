#include "platform/ScreenSaver.h"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>
#include <X11/extensions/scrnsaver.h>

#include <mutex>

namespace quor::platform {

bool SuppressScreenSaver() {
  // The suspension lasts as long as the client connection that asked for it,
  // so the connection is kept open for the life of the process. A call that
  // could not reach the display leaves the next call to try again.
  static std::mutex mutex;
  static bool done = false;
  const std::lock_guard lock(mutex);
  if (done) return true;
  ::Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return false;
  int eventBase = 0, errorBase = 0;
  if (XScreenSaverQueryExtension(dpy, &eventBase, &errorBase)) {
    XScreenSaverSuspend(dpy, True);
    done = true;
  }
  if (DPMSQueryExtension(dpy, &eventBase, &errorBase) && DPMSCapable(dpy)) {
    DPMSDisable(dpy);
    done = true;
  }
  XFlush(dpy);
  if (!done) XCloseDisplay(dpy);
  return done;
}

}  // namespace quor::platform
