#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "foundation/utils/Exception.h"
#include "surf/mesh/CombineGeos.h"
#include "surf/mesh/IndexMapping.h"
#include "surf/mesh/MeshTools.h"
#include "surf/mesh/PlaneInMesh.h"
#include "v3d/GeoTools.h"

namespace surf {
namespace {

using Indices = std::vector<std::uint32_t>;

TEST(IndexMapping, CompleteDropsDegenerateAndOutOfRangePrimitives) {
  IndexMapping mapping(5);
  // Triangle (0, 0, 1) is degenerate, (1, 2, 7) refers past the vertices;
  // vertex 3 is unused.
  mapping.Complete({0, 0, 1, 4, 2, 1, 1, 2, 7}, 3);
  EXPECT_EQ(mapping.GetNumPrimitives(), 1);
  EXPECT_EQ(mapping.GetNumNewVertices(), 3);
  EXPECT_EQ(mapping.GetMapping(), (std::vector<std::int32_t>{-1, 0, 1, -1, 2}));
  EXPECT_EQ(mapping.RemapIndexBuffer(3), (Indices{2, 1, 0}));
  EXPECT_EQ(mapping.RemapVertexBuffer(std::vector<float>{0, 1, 2, 3, 4}), (std::vector<float>{1, 2, 4}));
  // Points may repeat an index; they are not degenerate.
  IndexMapping points(2);
  points.Complete({1, 1}, 1);
  EXPECT_EQ(points.GetNumPrimitives(), 2);
}

TEST(IndexMapping, InvalidArgumentsThrowTheirMessages) {
  IndexMapping mapping(3);
  auto expectMessage = [](auto&& call, const char* text) {
    try {
      call();
      ADD_FAILURE() << text;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), text);
    }
  };
  expectMessage([&] { mapping.UnifyVertices({}, 5, {}, 0.0f); }, "Invalid primSize in IndexMapping::UnifyVertices.");
  expectMessage([&] { mapping.RemoveSelectedVertices({}, 0, {}); },
                "Invalid primSize in IndexMapping::RemoveSelectedVertices.");
  expectMessage([&] { mapping.Complete({}, 0); }, "Invalid primSize in IndexMapping::Complete.");
  mapping.Complete({0, 1, 2}, 3);
  expectMessage([&] { mapping.RemapIndexBuffer(2); },
                "primSize in IndexMapping::RemapIndexBuffer is not identical to primSize used in "
                "IndexMapping::Complete.");
  expectMessage([&] { mapping.RemapVertexBuffer(std::vector<int>{1, 2}); },
                "'oldBuffer' has invalid size in IndexMapping::RemapVertexBuffer.");
}

TEST(IndexMapping, UnifyVerticesMergesWithinEpsilonIntoTheEarliest) {
  // Two triangles sharing an edge, stored with duplicated vertices.
  const std::vector<math::Vec3f> positions{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1.0005f, 0}};
  const Indices triangles{0, 1, 2, 3, 4, 5};
  IndexMapping exact(6);
  exact.UnifyVertices(triangles, 3, positions, 0.0f);  // bit-identical only
  EXPECT_EQ(exact.GetNumNewVertices(), 5);
  EXPECT_EQ(exact.GetMapping()[3], -1);
  EXPECT_EQ(exact.RemapIndexBuffer(3), (Indices{0, 1, 2, 1, 3, 4}));
  IndexMapping tolerant(6);
  tolerant.UnifyVertices(triangles, 3, positions, 0.001f);
  EXPECT_EQ(tolerant.GetNumNewVertices(), 4);
  EXPECT_EQ(tolerant.RemapIndexBuffer(3), (Indices{0, 1, 2, 1, 3, 2}));
}

TEST(IndexMapping, RemoveSelectedVerticesAndApplyToAMesh) {
  v3d::Geo geo;
  v3d::Mesh* mesh = v3d::CreateParallelepiped(geo, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  mesh->AddVertexTexCoords();
  mesh->AddVertexQualities();
  for (std::size_t i = 0; i < 8; ++i) mesh->mGetVertexQualities()[i] = float(i);
  const std::uint32_t positionCounter = mesh->GetVertexCoordsCounter();
  const std::uint32_t qualityCounter = mesh->GetVertexQualitiesCounter();
  IndexMapping mapping(8);
  std::vector<bool> selection(8, false);
  selection[0] = true;  // the corner p and every triangle touching it go
  mapping.RemoveSelectedVertices(mesh->GetPrims(), 3, selection);
  mapping.Apply(mesh->GetVertexBuffer(), mesh->GetSurface());
  EXPECT_EQ(mesh->GetNumVertices(), 7u);
  EXPECT_EQ(mesh->GetVertexQualities(), (std::vector<float>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(mesh->GetVertexTexCoords().size(), 7u);
  EXPECT_GT(mesh->GetVertexCoordsCounter(), positionCounter);
  EXPECT_GT(mesh->GetVertexQualitiesCounter(), qualityCounter);
  for (std::uint32_t i : mesh->GetPrims()) EXPECT_LT(i, 7u);
  EXPECT_EQ(mesh->GetNumPrims(), std::size_t(mapping.GetNumPrimitives()));
  EXPECT_LT(mesh->GetNumPrims(), 12u);
}

TEST(MeshTools, MeshToGeoCopiesArraysAndFlipsV) {
  const std::vector<float> vertices{0, 0, 0, 1, 0, 0, 0, 1, 0};
  const std::vector<float> tex{0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  EXPECT_EQ(MeshToGeo({}, {0, 1, 2}, {}, false), nullptr);
  EXPECT_EQ(MeshToGeo(vertices, {}, {}, false), nullptr);
  auto geo = MeshToGeo(vertices, {0, 1, 2, 2, 1, 0, 1}, tex, true);
  ASSERT_TRUE(geo);
  const v3d::Mesh* mesh = geo->GetMesh(0);
  EXPECT_EQ(mesh->GetNumVertices(), 3u);
  EXPECT_EQ(mesh->GetPrims(), (Indices{0, 1, 2, 2, 1, 0}));  // 7 / 3 = 2 triangles
  EXPECT_FLOAT_EQ(mesh->GetVertexTexCoords()[1][1], 0.6f);    // 1 − 0.4
  // A texture array of the wrong size is reported and left out.
  ::testing::internal::CaptureStdout();
  auto plain = MeshToGeo(vertices, {0, 1, 2}, {0.5f, 0.5f}, false);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Number of texture coordinates does not match the number of vertices.\nSorry this type of texture is "
            "not supported.");
  EXPECT_FALSE(plain->GetMesh(0)->HasVertexTexCoords());
  // Indices past the vertex count never reach the Geo.
  auto clipped = MeshToGeo(vertices, {0, 1, 3, 0, 1, 2}, {}, false);
  EXPECT_EQ(clipped->GetMesh(0)->GetPrims(), (Indices{0, 1, 2}));
}

TEST(MeshTools, BorderTrianglesOfOpenMeshesGoClosedMeshesStay) {
  v3d::Geo geo;
  v3d::Mesh* box = v3d::CreateParallelepiped(geo, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  Indices closed = box->GetPrims();
  ::testing::internal::CaptureStdout();
  RemoveBorderTriangles(closed);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Remove border triangles... 0 triangles removed.\n");
  EXPECT_EQ(closed, box->GetPrims());
  Indices single{0, 1, 2};
  ::testing::internal::CaptureStdout();
  RemoveBorderTriangles(single);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Remove border triangles... 1 triangles removed.\n");
  EXPECT_TRUE(single.empty());
  // A 3 × 2 vertex strip: each of its four triangles has a border edge.
  Indices strip{0, 3, 1, 4, 1, 3, 1, 4, 2, 5, 2, 4};
  ::testing::internal::CaptureStdout();
  RemoveBorderTriangles(strip);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(strip.empty());
}

TEST(MeshTools, NormalsEdgesAndUnconnectedVertices) {
  // Two triangles of a unit square in z = 0, counter-clockwise from +z, and
  // one vertex no triangle uses.
  const std::vector<float> vertices{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 5, 5, 5};
  const Indices indices{0, 1, 2, 0, 2, 3, 0, 1, 9};
  std::vector<float> normals;
  CalcNormals(normals, vertices, indices);
  EXPECT_EQ(normals, (std::vector<float>{0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0}));
  double mean = -1.0;
  std::size_t count = 0;
  CalcMeanEdgeLengthAndCount(mean, count, vertices.data(), 5, indices.data(), 3);
  // Edges counted (a > b): 2–0 of (0, 1, 2) and 3–0 of (0, 2, 3); the
  // third triangle refers past the vertices.
  EXPECT_EQ(count, 2u);
  EXPECT_NEAR(mean, (std::sqrt(2.0) + 1.0) / 2.0, 1e-12);
  CalcMeanEdgeLengthAndCount(mean, count, vertices.data(), 5, indices.data(), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(mean, 0.0);

  auto geo = MeshToGeo(vertices, {0, 1, 2, 0, 2, 3}, {}, false);
  EXPECT_EQ(RemoveUnconnectedVertices(*geo), 4u);
  math::Vec3d min, max;
  GetAxisAlignedBoundingBox(*geo, min, max);
  EXPECT_EQ(min, math::Vec3d(0, 0, 0));
  EXPECT_EQ(max, math::Vec3d(1, 1, 0));
  v3d::Geo empty;
  GetAxisAlignedBoundingBox(empty, min, max);
  EXPECT_EQ(max, math::Vec3d(0, 0, 0));
}

TEST(CombineGeos, SourceVerticesArriveInTargetCoordinates) {
  auto target = MeshToGeo({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0, 0, 1, 0, 0, 1}, false);
  auto source = MeshToGeo({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}, false);
  math::Frame4d targetFrame, sourceFrame;
  targetFrame.SetTrans(10, 0, 0);
  sourceFrame.SetRotZ(M_PI / 2);
  sourceFrame.SetTrans(0, 0, 5);
  target->SetFrame(targetFrame);
  source->SetFrame(sourceFrame);
  EXPECT_FALSE(CombineGeos_SingleSurface(*target, *source, 1, true));
  ASSERT_TRUE(CombineGeos_SingleSurface(*target, *source, 0, true));
  const v3d::Mesh* mesh = target->GetMesh(0);
  ASSERT_EQ(mesh->GetNumVertices(), 6u);
  // Source (1, 0, 0) → world (0, 1, 5) → target (−10, 1, 5).
  EXPECT_NEAR(mesh->GetVertexCoords()[4][0], -10.0f, 1e-5);
  EXPECT_NEAR(mesh->GetVertexCoords()[4][1], 1.0f, 1e-5);
  EXPECT_NEAR(mesh->GetVertexCoords()[4][2], 5.0f, 1e-5);
  EXPECT_EQ(mesh->GetPrims(), (Indices{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(mesh->GetVertexTexCoords()[4], math::Vec2f(0.5f, 0.5f));
  EXPECT_NEAR(target->GetBoundingBox().GetMin()[0], -11.0, 1e-5);  // source (0, 1, 0)
  // Without keeping, the target's texture coordinates go.
  ASSERT_TRUE(CombineGeos_MultipleToSingleSurface(*target, *source, false));
  EXPECT_FALSE(target->GetMesh(0)->HasVertexTexCoords());
  EXPECT_EQ(target->GetMesh(0)->GetNumVertices(), 9u);
  // Separate surfaces keep their primitive size.
  v3d::Geo lines;
  lines.AddMesh(2)->AddVertex({0, 0, 0});
  ASSERT_TRUE(CombineGeos_MultipleSurfaces(*target, lines));
  EXPECT_EQ(target->GetNumMeshes(), 2u);
  EXPECT_EQ(target->GetMesh(1)->GetPrimSize(), 2u);
  EXPECT_NEAR(target->GetMesh(1)->GetVertexCoords()[0][0], -10.0f, 1e-5);
}

TEST(PlaneInMesh, FindsTheDominantPlaneAndRemovesIt) {
  // 2000 points on the plane z = 3 facing +z, 500 on a sphere above it.
  std::mt19937 rng(42);
  std::uniform_real_distribution<float> u(-50.0f, 50.0f);
  std::normal_distribution<float> n(0.0f, 0.01f), g(0.0f, 1.0f);
  std::vector<float> positions, normals;
  for (int i = 0; i < 2000; ++i) {
    positions.insert(positions.end(), {u(rng), u(rng), 3.0f + n(rng)});
    normals.insert(normals.end(), {0.0f, 0.0f, 1.0f});
  }
  for (int i = 0; i < 500; ++i) {
    math::Vec3f d(g(rng), g(rng), g(rng));
    d.Normalize();
    const math::Vec3f p = math::Vec3f(0.0f, 0.0f, 30.0f) + d * 10.0f;
    positions.insert(positions.end(), {p[0], p[1], p[2]});
    normals.insert(normals.end(), {d[0], d[1], d[2]});
  }
  math::Planef plane;
  const double score = FindPlaneInMesh(plane, positions, normals, 0.1f, 200, 0.0, 5.0, 0.79, false, 0.5, 1234);
  EXPECT_NEAR(score, 0.8, 0.01);
  EXPECT_NEAR(plane.normal[2], 1.0f, 1e-4);  // refitted and oriented along the normals
  EXPECT_NEAR(plane.point[2], 3.0f, 0.002);
  Indices triangles{0, 1, 2, 2000, 2001, 2002, 0, 2000, 2001};
  std::vector<float> qualities(2500);
  for (std::size_t i = 0; i < qualities.size(); ++i) qualities[i] = float(i);
  RemovePlane(positions, normals, triangles, nullptr, &qualities, plane, 1.0f, false);
  ASSERT_EQ(positions.size(), 3u * qualities.size());
  // The sphere's lower half faces away from the plane normal and stays with
  // its upper half; the plane points face along it and go.
  EXPECT_EQ(qualities.size(), 500u);
  EXPECT_EQ(qualities.front(), 2000.0f);
  EXPECT_EQ(triangles, (Indices{0, 1, 2}));
  // Too few distinct points: no plane.
  math::Planef untouched;
  EXPECT_EQ(FindPlaneInMesh(untouched, {1, 1, 1, 1, 1, 1, 1, 1, 1}, {}, 0.1f, 10, 0.0, 1.0, 0.5, true, 0.5, 1), 0.0);
  EXPECT_TRUE(untouched.IsEmpty());
}

}  // namespace
}  // namespace surf
