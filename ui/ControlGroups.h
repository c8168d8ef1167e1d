#pragma once
// The seven named ControlGroups: ordered sets of controls shown or hidden
// together, and ShowControlGroup. GUI thread only.

#include <QLineEdit>
#include <QWidget>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quor::ui {

class ControlGroups {
 public:
  struct Group {
    std::string_view name;
    std::vector<QWidget*> members;  // in show and hide order
  };

  // The keypad controls are what hiding "pyselectcontrol" also acts on.
  ControlGroups(std::vector<Group> groups, QWidget* BMnumPanel, QLineEdit* BMnumEdit,
                QLineEdit* PYselEdit);

  // name is compared exactly, with case, against the group names in table
  // order; the first equal one is acted on. show 1 shows the members in
  // order; show 0 hides them in order, then runs the group's extra steps; any
  // other flag, and any other name, does nothing.
  void ShowControlGroup(std::string_view name, std::uint8_t show);

  const std::vector<Group>& Groups() const { return groups_; }

 private:
  std::vector<Group> groups_;
  QWidget* BMnumPanel_;
  QLineEdit* BMnumEdit_;
  QLineEdit* PYselEdit_;
};

}  // namespace quor::ui
