#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace scan {

// The cameras a scanner knows of, by device name, with their state.
class CameraList {
 public:
  enum class Status : std::int32_t {
    Available = 0,  // present and accepted by the product, but not added
    Missing = 1,    // added, no image capture, device not present
    Present = 2,    // added, device present, no image capture open
    Connected = 3,  // added, image capture open, device present
    Lost = 4,       // added, image capture open, device no longer present
  };

  void Set(const std::string& name, Status status) { m_entries[name] = status; }
  const std::map<std::string, Status>& Entries() const { return m_entries; }
  std::size_t Size() const { return m_entries.size(); }
  bool Empty() const { return m_entries.empty(); }

  // In name order, the names whose status is one of `statuses`; every name
  // when `statuses` is empty.
  std::vector<std::string> GetCameraNames(const std::vector<Status>& statuses = {}) const {
    std::vector<std::string> names;
    for (const auto& [name, status] : m_entries) {
      bool wanted = statuses.empty();
      for (Status s : statuses) wanted = wanted || s == status;
      if (wanted) names.push_back(name);
    }
    return names;
  }

 private:
  std::map<std::string, Status> m_entries;
};

}  // namespace scan
