#include "v3d/Surface.h"

namespace v3d {

std::int64_t Surface::LastPrim() const {
  return static_cast<std::int64_t>(GetNumPrims()) - 1;
}

std::int64_t Surface::AddPrim(std::uint32_t a) {
  m_prims.push_back(a);
  ++m_primsCounter;
  return LastPrim();
}

std::int64_t Surface::AddPrim(std::uint32_t a, std::uint32_t b) {
  m_prims.insert(m_prims.end(), {a, b});
  ++m_primsCounter;
  return LastPrim();
}

std::int64_t Surface::AddPrim(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  m_prims.insert(m_prims.end(), {a, b, c});
  ++m_primsCounter;
  return LastPrim();
}

std::int64_t Surface::AddPrim(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  m_prims.insert(m_prims.end(), {a, b, c, d});
  ++m_primsCounter;
  return LastPrim();
}

void Surface::ClearPrims() {
  std::vector<std::uint32_t>().swap(m_prims);
  ++m_primsCounter;
}

}  // namespace v3d
