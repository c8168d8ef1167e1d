#include "platform/Display.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <memory>

namespace quor::platform {
namespace {

// Xlib's default error handler ends the process; a refused mode change must
// only fail the call.
int IgnoreXError(::Display*, XErrorEvent*) {
  return 0;
}

struct DisplayCloser {
  void operator()(::Display* d) const { XCloseDisplay(d); }
};
struct ResourcesFree {
  void operator()(XRRScreenResources* r) const { XRRFreeScreenResources(r); }
};
struct OutputFree {
  void operator()(XRROutputInfo* o) const { XRRFreeOutputInfo(o); }
};
struct CrtcFree {
  void operator()(XRRCrtcInfo* c) const { XRRFreeCrtcInfo(c); }
};

const XRRModeInfo* FindMode(const XRRScreenResources& res, RRMode id) {
  for (int i = 0; i < res.nmode; ++i)
    if (res.modes[i].id == id) return &res.modes[i];
  return nullptr;
}

}  // namespace

bool SetDisplayMode(int width, int height) {
  const std::unique_ptr<::Display, DisplayCloser> dpy(XOpenDisplay(nullptr));
  if (!dpy) return false;
  int eventBase = 0, errorBase = 0;
  if (!XRRQueryExtension(dpy.get(), &eventBase, &errorBase)) return false;
  const auto oldHandler = XSetErrorHandler(&IgnoreXError);
  const Window root = DefaultRootWindow(dpy.get());
  bool done = false;
  const std::unique_ptr<XRRScreenResources, ResourcesFree> res(
      XRRGetScreenResourcesCurrent(dpy.get(), root));
  if (res) {
    RROutput output = XRRGetOutputPrimary(dpy.get(), root);
    if (output == 0 && res->noutput > 0) output = res->outputs[0];
    const std::unique_ptr<XRROutputInfo, OutputFree> info(
        output != 0 ? XRRGetOutputInfo(dpy.get(), res.get(), output) : nullptr);
    if (info && info->crtc != 0) {
      const std::unique_ptr<XRRCrtcInfo, CrtcFree> crtc(
          XRRGetCrtcInfo(dpy.get(), res.get(), info->crtc));
      // The output's own modes, best first: the first one of the wanted size.
      RRMode wanted = 0;
      for (int i = 0; i < info->nmode && wanted == 0; ++i) {
        const XRRModeInfo* mode = FindMode(*res, info->modes[i]);
        if (mode && static_cast<int>(mode->width) == width &&
            static_cast<int>(mode->height) == height)
          wanted = mode->id;
      }
      if (crtc && wanted != 0) {
        if (crtc->mode == wanted) {
          done = true;
        } else {
          Status s = XRRSetCrtcConfig(dpy.get(), res.get(), info->crtc, CurrentTime, crtc->x,
                                      crtc->y, wanted, crtc->rotation, &output, 1);
          done = s == RRSetConfigSuccess;
          if (done) {
            // Shrink (or grow) the screen to the one output's new size, keeping
            // its physical size in proportion.
            const int screen = DefaultScreen(dpy.get());
            const int mmW = DisplayWidthMM(dpy.get(), screen) * width /
                            std::max(1, DisplayWidth(dpy.get(), screen));
            const int mmH = DisplayHeightMM(dpy.get(), screen) * height /
                            std::max(1, DisplayHeight(dpy.get(), screen));
            XRRSetScreenSize(dpy.get(), root, width, height, mmW, mmH);
          }
        }
      }
    }
  }
  XSync(dpy.get(), False);
  XSetErrorHandler(oldHandler);
  return done;
}

}  // namespace quor::platform
