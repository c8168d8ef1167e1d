#pragma once
// What the main window hands a remote-control key (its RemoteKeyId) to: the
// dispatch table that turns the key into the click action the screen shown
// offers for it. The program attaches its table (in app/); the window
// declares only this interface. GUI thread only.

namespace quor::ui {

class RemoteKeyDispatch {
 public:
  virtual ~RemoteKeyDispatch() = default;
  // Runs the action of the key; an identifier that is no remote key, or a
  // key that has no action on the screen shown, does nothing.
  virtual void Dispatch(int remoteKeyId) = 0;
};

}  // namespace quor::ui
