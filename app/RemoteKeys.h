#pragma once
// The remote control's keys on the screen: every RemoteKeyId goes to the
// click action of the control that the screen shown offers for it, by one
// table whose rows are tried in order (the first that holds wins). Player
// keys always act; screen keys act on what is showing (a control and every
// control that holds it shown; for photoImage1 and songlistLabel1 their own
// flag alone). Actions run as clicks with no sender. GUI thread only.

#include "ui/MainWindow.h"
#include "ui/RemoteKeyDispatch.h"

namespace quor::app {

class RemoteKeys final : public ui::RemoteKeyDispatch {
 public:
  // window must outlive this object.
  explicit RemoteKeys(ui::MainWindow& window) : window_(window) {}

  void Dispatch(int remoteKeyId) override;

 private:
  void NumberKey(int n);
  void DeleteKey();
  void PageUp();
  void PageDown();
  void Affirm();
  void ReturnKey();
  void RightKey();

  ui::MainWindow& window_;
};

}  // namespace quor::app
