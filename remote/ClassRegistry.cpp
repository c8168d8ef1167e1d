#include "remote/ClassRegistry.h"

#include "platform/AsciiCase.h"
#include "remote/Errors.h"

namespace quor::remote {

void ClassRegistry::Register(const platform::Guid& classId, const std::string& progId,
                             Factory factory) {
  const std::lock_guard lock(mutex_);
  Entry& e = classes_[classId];
  e.progId = progId;
  e.factory = std::move(factory);
}

void ClassRegistry::Unregister(const platform::Guid& classId) {
  const std::lock_guard lock(mutex_);
  classes_.erase(classId);
}

void ClassRegistry::SetValue(const platform::Guid& classId, const std::string& name,
                             const std::string& value) {
  const std::lock_guard lock(mutex_);
  auto it = classes_.find(classId);
  if (it != classes_.end()) it->second.values[name] = value;
}

std::optional<std::string> ClassRegistry::Value(const platform::Guid& classId,
                                                const std::string& name) const {
  const std::lock_guard lock(mutex_);
  auto it = classes_.find(classId);
  if (it == classes_.end()) return std::nullopt;
  auto v = it->second.values.find(name);
  if (v == it->second.values.end()) return std::nullopt;
  return v->second;
}

std::optional<platform::Guid> ClassRegistry::ClassIdFromProgId(const std::string& progId) const {
  if (progId.empty()) return std::nullopt;
  const std::lock_guard lock(mutex_);
  // Program ids compare without case, as registry key names do.
  for (const auto& [id, e] : classes_)
    if (platform::EqualsNoCase(e.progId, progId)) return id;
  return std::nullopt;
}

std::string ClassRegistry::ProgIdFromClassId(const platform::Guid& classId) const {
  const std::lock_guard lock(mutex_);
  auto it = classes_.find(classId);
  return it == classes_.end() ? std::string() : it->second.progId;
}

bool ClassRegistry::IsRegistered(const platform::Guid& classId) const {
  const std::lock_guard lock(mutex_);
  return classes_.count(classId) != 0;
}

Ref<IUnknown> ClassRegistry::CreateObject(const platform::Guid& classId) const {
  Factory factory;
  {
    const std::lock_guard lock(mutex_);
    auto it = classes_.find(classId);
    if (it != classes_.end()) factory = it->second.factory;
  }
  if (!factory) throw EOleSysError(HResultText(REGDB_E_CLASSNOTREG), REGDB_E_CLASSNOTREG);
  Ref<IUnknown> object = factory();
  if (!object) throw EOleSysError(HResultText(E_NOINTERFACE), E_NOINTERFACE);
  return object;
}

std::vector<platform::Guid> ClassRegistry::ClassesWithValue(const std::string& name,
                                                            const std::string& value) const {
  std::vector<platform::Guid> ids;
  const std::lock_guard lock(mutex_);
  for (const auto& [id, e] : classes_) {
    if (name.empty()) {
      ids.push_back(id);
      continue;
    }
    auto v = e.values.find(name);
    if (v != e.values.end() && v->second == value) ids.push_back(id);
  }
  return ids;
}

}  // namespace quor::remote
