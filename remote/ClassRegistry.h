#pragma once
// Object creation by class id or program id: the class-factory registry that
// stands for the system registry's class entries. Each class has a class id,
// an optional program id ("Lyrahub.DM"), a factory and named string values
// (the may-create flag "Sockets" = "1" is one of them).
//
// A registry is filled at start-up and then read by many threads (every
// server session): all operations are guarded by one mutex, and factories
// are called outside it.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "remote/Ref.h"

namespace quor::remote {

class ClassRegistry {
 public:
  using Factory = std::function<Ref<IUnknown>()>;

  // Adds or replaces a class. `progId` may be empty.
  void Register(const platform::Guid& classId, const std::string& progId, Factory factory);
  void Unregister(const platform::Guid& classId);
  // Sets a named value of a registered class (a no-op for an unknown class).
  void SetValue(const platform::Guid& classId, const std::string& name, const std::string& value);
  std::optional<std::string> Value(const platform::Guid& classId, const std::string& name) const;

  std::optional<platform::Guid> ClassIdFromProgId(const std::string& progId) const;
  // The program id, or "" when the class has none or is unknown.
  std::string ProgIdFromClassId(const platform::Guid& classId) const;
  bool IsRegistered(const platform::Guid& classId) const;

  // A new object of the class: EOleSysError "Class not registered" when no
  // factory is known, or whatever the factory raises.
  Ref<IUnknown> CreateObject(const platform::Guid& classId) const;

  // Classes whose value `name` equals `value` (every class when name is empty).
  std::vector<platform::Guid> ClassesWithValue(const std::string& name,
                                               const std::string& value) const;

 private:
  struct Entry {
    std::string progId;
    Factory factory;
    std::map<std::string, std::string> values;
  };
  // Guarded by mutex_.
  mutable std::mutex mutex_;
  std::map<platform::Guid, Entry> classes_;
};

}  // namespace quor::remote
