#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/utils/Progress.h"
#include "v3d/Geo.h"

namespace surf {

// How a test vertex finds the reference surface.
enum class DeviationMethod {
  // The nearest reference vertex within 2t; the deviation is the distance
  // along that vertex's normal. Coarse where the reference is sparse.
  kVertex,
  // The closest point on the reference triangles within 2t; the deviation
  // is the distance to it, negative where the test vertex lies behind the
  // surface (against the reference normals interpolated there).
  kTriangle,
};

const char* DeviationMethodName(DeviationMethod method);  // "vertex", "triangle"

struct DeviationOptions {
  // t (mm, > 0): deviations are clamped to [−t, t]; a vertex without
  // reference surface within 2t gets t.
  float tolerance = 0.1f;
  DeviationMethod method = DeviationMethod::kVertex;
  // Completed fraction, every 100 vertices; true cancels.
  utils::ProgressCallback progress;
};

// The deviations of a test object from a reference object.
struct DeviationResult {
  // One list per mesh of the test geo, one value per vertex (mm); NaN for a
  // vertex that is not finite.
  std::vector<std::vector<float>> perMesh;
  std::size_t vertices = 0;       // all test vertices
  std::size_t nonFinite = 0;      // of them not finite (NaN deviation)
  std::size_t withReference = 0;  // of them with reference surface within 2t
  bool cancelled = false;         // the values are then incomplete
};

// The signed deviation of every test vertex from the reference object, in
// the reference's coordinates (the test vertices are carried there by the
// relative node transform of the two geos' world frames). Every vertex
// starts at the largest float; for each reference mesh the candidate is
// found by the method (none: t) and clamped to [−t, t]; a vertex keeps the
// candidate of smallest magnitude. Vertices run in parallel.
//
// The vertex method uses reference meshes of any prim size with vertex
// normals; the triangle method the triangle meshes (prim size 3), with
// their vertex normals when they have them (else the face normals).
// Throws std::invalid_argument for a tolerance that is not > 0 and for a
// reference mesh the vertex method cannot use (no normals: see
// EnsureVertexNormals).
DeviationResult ComputeDeviations(const v3d::Geo& test, const v3d::Geo& reference,
                                  const DeviationOptions& options);

// Gives every triangle mesh without vertex normals its area-weighted ones
// (v3d::CalcVertexNormals); true when any mesh got normals.
bool EnsureVertexNormals(v3d::Geo& geo);

// All deviations of a result in one list (mesh after mesh), and the same
// without NaN and as magnitudes.
std::vector<float> ConcatenateDeviations(const DeviationResult& result);
std::vector<float> DeviationMagnitudes(const std::vector<float>& deviations);

}  // namespace surf
