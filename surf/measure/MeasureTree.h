#pragma once

#include <optional>
#include <vector>

#include "foundation/math/Vec.h"
#include "foundation/utils/ChunkNode.h"
#include "foundation/utils/Guid.h"

namespace surf {

// The measurement state as stored in a project: root "measure" (version 1)
// with, in order, "testObject" and "referenceObject" (a geo's guid, 16
// bytes, or empty), "comparisonTolerance" (float), "referenceMarkers" (one
// "marker" per marker: "parent" guid or empty, "position" 3 floats in the
// parent's coordinates, "distance" float, "distanceValid" 1 byte 0/1,
// "tolerance" float) and "distancesAB" (one "link" per distance:
// "parentA", "positionA", "parentB", "positionB"). Markers and links carry
// version 1 too.
struct MeasureTreeData {
  struct Marker {
    std::optional<utils::Guid> parent;
    math::Vec3f position;
    float distance = 0.f;
    bool distanceValid = false;
    float tolerance = 0.f;
  };
  struct Link {
    std::optional<utils::Guid> parentA, parentB;
    math::Vec3f positionA, positionB;
  };
  std::optional<utils::Guid> testObject, referenceObject;
  float comparisonTolerance = 0.1f;
  std::vector<Marker> markers;
  std::vector<Link> links;
};

inline constexpr char kMeasureRoot[] = "measure";

utils::ChunkNode::Ptr WriteMeasureTree(const MeasureTreeData& data);

// Reads a "measure" tree. A marker or link whose chunk version this reader
// cannot read is left out after "WARNING: Object could not be added to
// measure module due to wrong version." on standard output; so is the whole
// tree (nothing is returned) when the root's version is wrong. Throws the
// chunk exceptions for missing chunks and payloads of the wrong size, and
// utils::InvalidChunkFormatException for a root of another name.
std::optional<MeasureTreeData> ReadMeasureTree(const utils::ChunkNode& root);

}  // namespace surf
