#pragma once

#include <cstdint>
#include <string>

#include "foundation/utils/Guid.h"

namespace v3d {

class Scene;

// The common base of scene elements: the owning scene (the one that deletes
// the object, or null), a version counter and a guid made at construction.
// Polymorphic and not copyable.
class Object {
 public:
  Object() : m_guid(utils::Guid::NewGuid()) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // The version as decimal text.
  virtual std::string ToString() const { return std::to_string(m_version); }

  Scene* GetOwner() const { return m_owner; }
  void SetOwner(Scene* owner) { m_owner = owner; }

  std::uint32_t GetVersion() const { return m_version; }
  void IncVersion() { ++m_version; }

  const utils::Guid& GetGuid() const { return m_guid; }
  // For readers that restore a stored object.
  void SetGuid(const utils::Guid& guid) { m_guid = guid; }

 private:
  Scene* m_owner = nullptr;
  std::uint32_t m_version = 0;
  utils::Guid m_guid;
};

}  // namespace v3d
