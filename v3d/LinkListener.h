#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "v3d/DataTipListener.h"

namespace v3d {

// A link between two data tips: their node IDs (−1 when not set) and two
// fields kept for the tools that use links (initially 0 and 256).
struct Link {
  std::int32_t tipA = -1, tipB = -1;
  std::int32_t field0 = 0;
  std::int32_t field1 = 256;
};

// A data-tip listener whose tips come in linked pairs: each link is drawn as
// a line between its tips with its length (mm) as a label at the middle. A
// picking sequence of two picks makes a link of the two tips placed.
class LinkListener : public DataTipListener {
 public:
  LinkListener();

  // Creates tip A (position A below parent A) and tip B and links them.
  // Null, with "Error in LinkListener::NewLink: Could not create one of the
  // data tips.", when either fails (a tip that was made is removed again).
  Link* NewLink(const math::Vec3f& positionA, const math::Vec3f& positionB, std::int32_t parentA,
                std::int32_t parentB);
  bool HasLinks() const { return !m_links.empty(); }
  std::vector<std::int32_t> GetLinkIDs() const;
  Link* GetLink(std::int32_t id);
  void DeleteAllLinks();
  // Renumbers the links 0, 1, … in their order; the next identifier follows.
  void RemapLinkIDs();
  void SetDrawLengthLabel(bool draw) { m_drawLengthLabel = draw; }
  bool GetDrawLengthLabel() const { return m_drawLengthLabel; }
  // Kept for tools: the first asks that a link's tips lie on different
  // parents, the second that a new pick sequence links to the last tip.
  void SetLinkConditions(bool first, bool second) { m_linkConditions[0] = first, m_linkConditions[1] = second; }
  // The length of a link in mm (world coordinates); negative when a tip is missing.
  double GetLinkLength(std::int32_t id) const;
  // The label a link shows, e.g. "12.35 mm".
  static std::string FormatLength(double millimetres);

  void Render(const RenderPass& pass) override;

 protected:
  void OnDataTipRemoved(std::int32_t nodeID) override;
  void OnPickCommitted(const DataTipPick& pick) override;

 private:
  bool TipWorldPosition(std::int32_t nodeID, math::Vec3d& world) const;

  std::map<std::int32_t, Link> m_links;
  std::int32_t m_nextLinkID = 0;
  bool m_drawLengthLabel = true;
  bool m_linkConditions[2] = {false, false};
  std::vector<std::int32_t> m_committedTips;  // tips of the sequence being committed
  std::unique_ptr<Geo> m_lines;
};

}  // namespace v3d
