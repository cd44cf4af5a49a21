#include "surf/measure/MeasureTree.h"

#include <iostream>

#include "foundation/utils/Exception.h"

namespace surf {
namespace {

constexpr char kVersionWarning[] =
    "WARNING: Object could not be added to measure module due to wrong version.";

void SetVersion(utils::ChunkNode& node) {
  node.version = 1;
  node.requiredVersion = 1;
}

void WriteGuid(utils::ChunkNode& parent, const char* name, const std::optional<utils::Guid>& guid) {
  auto node = parent.NewChild(name);
  if (guid) node->SetData(guid->Data(), 16);
}

std::optional<utils::Guid> ReadGuid(const utils::ChunkNode& parent, const char* name) {
  const auto node = parent.Child(name);
  if (node->GetDataSize() == 0) return std::nullopt;
  utils::Guid guid;
  node->GetData(guid.Data(), 16);
  return guid;
}

math::Vec3f ReadVec(const utils::ChunkNode& parent, const char* name) {
  float v[3];
  parent.Child(name)->GetData(v, sizeof(v));
  return {v[0], v[1], v[2]};
}

void WriteVec(utils::ChunkNode& parent, const char* name, const math::Vec3f& p) {
  const float v[3] = {p[0], p[1], p[2]};
  parent.NewChild(name)->SetData(v, sizeof(v));
}

// False, with the warning, for a chunk this reader cannot read.
bool Readable(const utils::ChunkNode& node) {
  try {
    node.CheckVersion();
    return true;
  } catch (const utils::InvalidChunkVersionException&) {
    std::cout << kVersionWarning << std::endl;
    return false;
  }
}

}  // namespace

utils::ChunkNode::Ptr WriteMeasureTree(const MeasureTreeData& data) {
  auto root = utils::ChunkNode::NewNode(kMeasureRoot);
  SetVersion(*root);
  WriteGuid(*root, "testObject", data.testObject);
  WriteGuid(*root, "referenceObject", data.referenceObject);
  root->NewChild("comparisonTolerance")->SetValue(data.comparisonTolerance);
  auto markers = root->NewChild("referenceMarkers");
  for (const auto& marker : data.markers) {
    auto node = markers->NewChild("marker");
    SetVersion(*node);
    WriteGuid(*node, "parent", marker.parent);
    WriteVec(*node, "position", marker.position);
    node->NewChild("distance")->SetValue(marker.distance);
    node->NewChild("distanceValid")->SetValue(std::uint8_t(marker.distanceValid ? 1 : 0));
    node->NewChild("tolerance")->SetValue(marker.tolerance);
  }
  auto links = root->NewChild("distancesAB");
  for (const auto& link : data.links) {
    auto node = links->NewChild("link");
    SetVersion(*node);
    WriteGuid(*node, "parentA", link.parentA);
    WriteVec(*node, "positionA", link.positionA);
    WriteGuid(*node, "parentB", link.parentB);
    WriteVec(*node, "positionB", link.positionB);
  }
  return root;
}

std::optional<MeasureTreeData> ReadMeasureTree(const utils::ChunkNode& root) {
  if (root.GetName() != kMeasureRoot) {
    throw utils::InvalidChunkFormatException(
        "surf::ReadMeasureTree", "The tree is named \"" + root.GetName() + "\", not \"measure\".");
  }
  if (!Readable(root)) return std::nullopt;
  MeasureTreeData data;
  data.testObject = ReadGuid(root, "testObject");
  data.referenceObject = ReadGuid(root, "referenceObject");
  data.comparisonTolerance = root.Child("comparisonTolerance")->GetValue<float>();
  for (const auto& node : root.Child("referenceMarkers")->FindChildren("marker")) {
    if (!Readable(*node)) continue;
    MeasureTreeData::Marker marker;
    marker.parent = ReadGuid(*node, "parent");
    marker.position = ReadVec(*node, "position");
    marker.distance = node->Child("distance")->GetValue<float>();
    marker.distanceValid = node->Child("distanceValid")->GetValue<std::uint8_t>() != 0;
    marker.tolerance = node->Child("tolerance")->GetValue<float>();
    data.markers.push_back(marker);
  }
  for (const auto& node : root.Child("distancesAB")->FindChildren("link")) {
    if (!Readable(*node)) continue;
    MeasureTreeData::Link link;
    link.parentA = ReadGuid(*node, "parentA");
    link.positionA = ReadVec(*node, "positionA");
    link.parentB = ReadGuid(*node, "parentB");
    link.positionB = ReadVec(*node, "positionB");
    data.links.push_back(link);
  }
  return data;
}

}  // namespace surf
