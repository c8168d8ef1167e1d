#include "ui/ControlGroups.h"

#include <utility>

namespace quor::ui {

ControlGroups::ControlGroups(std::vector<Group> groups, QWidget* BMnumPanel, QLineEdit* BMnumEdit,
                             QLineEdit* PYselEdit)
    : groups_(std::move(groups)),
      BMnumPanel_(BMnumPanel),
      BMnumEdit_(BMnumEdit),
      PYselEdit_(PYselEdit) {}

void ControlGroups::ShowControlGroup(std::string_view name, std::uint8_t show) {
  for (const Group& group : groups_) {
    if (group.name != name) continue;
    if (show == 1) {
      for (QWidget* w : group.members) w->show();
    } else if (show == 0) {
      for (QWidget* w : group.members) w->hide();
      // Closing the keypad buttons closes the keypad itself and wipes what
      // was typed, number first, then letters.
      if (group.name == "pyselectcontrol") {
        BMnumPanel_->hide();
        BMnumEdit_->setText(QString());
        PYselEdit_->setText(QString());
      }
    }
    return;
  }
}

}  // namespace quor::ui
