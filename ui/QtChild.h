#pragma once
// Qt's object tree owns children: a QObject created with a parent is deleted
// by that parent. This is the one place where such a child is made with new.

#include <utility>

namespace quor::ui {

// new T(args..., parent): the parent owns the result; the pointer returned
// is an observer.
template <class T, class Parent, class... Args>
T* MakeChild(Parent* parent, Args&&... args) {
  return new T(std::forward<Args>(args)..., parent);  // NOLINT(cppcoreguidelines-owning-memory)
}

}  // namespace quor::ui
