#include "v3d/Geo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "v3d/GeoTools.h"

namespace v3d {
namespace {

using math::Vec3f;

void ExpectVecNear(const Vec3f& a, const Vec3f& b, float tolerance) {
  EXPECT_NEAR(a[0], b[0], tolerance);
  EXPECT_NEAR(a[1], b[1], tolerance);
  EXPECT_NEAR(a[2], b[2], tolerance);
}

TEST(Geo, AccessorsReturnNullOutsideTheMeshList) {
  Geo geo(3);
  EXPECT_EQ(geo.GetName(), "Geo");
  EXPECT_EQ(geo.GetNumMeshes(), 1u);
  EXPECT_EQ(geo.GetNumSurfaces(), 1u);
  Mesh* second = geo.AddMesh(2);
  EXPECT_EQ(second->GetIndex(), 1u);
  EXPECT_EQ(geo.GetMesh(1), second);
  EXPECT_EQ(geo.GetSurface(1), &second->GetSurface());
  EXPECT_EQ(geo.GetVertexBuffer(1), &second->GetVertexBuffer());
  EXPECT_EQ(geo.GetVertexBuffer(geo.GetSurface(1)), geo.GetVertexBuffer(1));
  EXPECT_EQ(geo.GetSurface(-1), nullptr);
  EXPECT_EQ(geo.GetSurface(2), nullptr);
  EXPECT_EQ(geo.GetMesh(-1), nullptr);
  EXPECT_EQ(geo.GetVertexBuffer(std::int64_t{2}), nullptr);
  EXPECT_EQ(geo.GetVertexBuffer(static_cast<const Surface*>(nullptr)), nullptr);
  Surface stray(0, 9, 3);
  EXPECT_EQ(geo.GetVertexBuffer(&stray), nullptr);
  int count = 0;
  for (const auto& mesh : geo) EXPECT_EQ(mesh->GetIndex(), static_cast<std::uint32_t>(count++));
  EXPECT_EQ(count, 2);
}

TEST(Geo, ClearDeletesMeshesAndResetsTheFrame) {
  Geo geo(3);
  geo.SetFrame(math::FTrans(1.0, 2.0, 3.0));
  const std::uint32_t frameCounter = geo.GetFrameCounter();
  geo.Clear();
  EXPECT_EQ(geo.GetNumMeshes(), 0u);
  EXPECT_EQ(geo.GetFrame(), math::Frame4d());
  EXPECT_EQ(geo.GetFrameCounter(), frameCounter + 1);
  EXPECT_EQ(geo.AddMesh(3)->GetIndex(), 0u);
}

TEST(Geo, BoundingBoxFollowsThePositionCounters) {
  Geo geo(3);
  Mesh* a = geo.GetMesh(0);
  a->AddVertex(Vec3f(1.f, 2.f, 3.f));
  a->AddVertex(Vec3f(-1.f, 5.f, 0.f));
  Mesh* b = geo.AddMesh(1);
  b->AddVertex(Vec3f(0.f, -4.f, 7.f));
  BoundingBox box = geo.GetBoundingBox();
  EXPECT_TRUE(box.IsValid());
  EXPECT_EQ(box.GetMin(), Vec3f(-1.f, -4.f, 0.f));
  EXPECT_EQ(box.GetMax(), Vec3f(1.f, 5.f, 7.f));
  EXPECT_EQ(box.GetOrigin(), Vec3f(-1.f, -4.f, 0.f));
  EXPECT_EQ(box.GetXAxis(), Vec3f(2.f, 0.f, 0.f));
  EXPECT_EQ(box.GetYAxis(), Vec3f(0.f, 9.f, 0.f));
  EXPECT_EQ(box.GetZAxis(), Vec3f(0.f, 0.f, 7.f));

  // Writing through the const-cast of the read-only array does not count:
  // the box stays as it was; the mutable accessor makes it recompute.
  const_cast<Vec3f&>(b->GetVertexCoords()[0]) = Vec3f(0.f, 0.f, 100.f);
  EXPECT_EQ(geo.GetBoundingBox().GetMax(), Vec3f(1.f, 5.f, 7.f));
  b->mGetVertexCoords()[0] = Vec3f(0.f, 0.f, 100.f);
  EXPECT_EQ(geo.GetBoundingBox().GetMax(), Vec3f(1.f, 5.f, 100.f));
  // Other arrays do not touch the box.
  b->AddVertexNormals();
  EXPECT_EQ(geo.GetBoundingBox(), geo.GetBoundingBox());
}

TEST(Geo, BoundingBoxOfAnEmptyFirstMeshIncludesTheOrigin) {
  Geo geo(3);
  Mesh* second = geo.AddMesh(3);
  second->AddVertex(Vec3f(2.f, 3.f, 4.f));
  second->AddVertex(Vec3f(5.f, 6.f, 7.f));
  const BoundingBox box = geo.GetBoundingBox();
  EXPECT_EQ(box.GetMin(), Vec3f(0.f, 0.f, 0.f));
  EXPECT_EQ(box.GetMax(), Vec3f(5.f, 6.f, 7.f));
}

TEST(Geo, BoundingBoxOnlyInLayersTwoAndThree) {
  Geo geo(3);
  geo.GetMesh(0)->AddVertex(Vec3f(1.f, 1.f, 1.f));
  geo.SetRenderLayer(1);
  const BoundingBox none = geo.GetBoundingBox();
  EXPECT_FALSE(none.IsValid());
  EXPECT_EQ(none, BoundingBox());
  geo.SetRenderLayer(3);
  EXPECT_TRUE(geo.GetBoundingBox().IsValid());
  EXPECT_EQ(geo.GetBoundingBox().GetMin(), Vec3f(1.f, 1.f, 1.f));
}

TEST(Geo, BoundingBoxIsRecomputedAfterClear) {
  Geo geo(3);
  geo.GetMesh(0)->AddVertex(Vec3f(9.f, 9.f, 9.f));
  EXPECT_EQ(geo.GetBoundingBox().GetMax(), Vec3f(9.f, 9.f, 9.f));
  geo.Clear();
  geo.AddMesh(3);  // new counters equal the new seen counters
  EXPECT_EQ(geo.GetBoundingBox().GetMax(), Vec3f(0.f, 0.f, 0.f));
}

TEST(Geo, BoundingBoxIsInOwnCoordinatesAndMapsThroughFrames) {
  Geo geo;
  CreateParallelepiped(geo, Vec3f(1.f, 2.f, 3.f), Vec3f(2.f, 0.f, 0.f), Vec3f(0.f, 3.f, 0.f),
                       Vec3f(0.f, 0.f, 4.f));
  const BoundingBox local = geo.GetBoundingBox();
  // 90° about z, then a shift: (x, y, z) → (−y + 10, x, z − 5).
  math::Frame4d frame = math::FRotZ(std::numbers::pi / 2);
  frame.SetTrans(10.0, 0.0, -5.0);
  geo.SetFrame(frame);
  EXPECT_EQ(geo.GetBoundingBox(), local);

  const BoundingBox moved = local.Transformed(geo.GetFrame());
  EXPECT_TRUE(moved.IsValid());
  ExpectVecNear(moved.GetOrigin(), Vec3f(8.f, 1.f, -2.f), 1e-5f);
  ExpectVecNear(moved.GetXAxis(), Vec3f(0.f, 2.f, 0.f), 1e-5f);
  ExpectVecNear(moved.GetYAxis(), Vec3f(-3.f, 0.f, 0.f), 1e-5f);
  ExpectVecNear(moved.GetZAxis(), Vec3f(0.f, 0.f, 4.f), 1e-5f);
  ExpectVecNear(moved.GetMin(), Vec3f(5.f, 1.f, -2.f), 1e-5f);
  ExpectVecNear(moved.GetMax(), Vec3f(8.f, 3.f, 2.f), 1e-5f);

  // A node below the geo: its world frame composes both.
  Geo child(3);
  child.GetMesh(0)->AddVertex(Vec3f(1.f, 0.f, 0.f));
  math::Frame4d world = geo.GetFrame() * math::FTrans(0.0, 0.0, 1.0);
  ExpectVecNear(child.GetBoundingBox().Transformed(world).GetMin(), Vec3f(10.f, 1.f, -4.f), 1e-5f);
}

TEST(Geo, ToStringChangesWithEveryArray) {
  Geo geo(3);
  Mesh* mesh = geo.GetMesh(0);
  std::string last = geo.ToString();
  auto expectChanged = [&](const char* what) {
    const std::string now = geo.ToString();
    EXPECT_NE(now, last) << what;
    last = now;
  };
  mesh->AddVertex(Vec3f());
  expectChanged("position");
  mesh->AddVertexColors();
  expectChanged("colour");
  mesh->AddVertexNormals();
  expectChanged("normal");
  mesh->AddPrim(0, 0, 0);
  expectChanged("prims");
  (void)mesh->mGetVertexTexCoords();
  expectChanged("texture coordinates");
  geo.SetFrame(math::FTrans(1.0, 0.0, 0.0));
  expectChanged("frame");
  geo.SetName("scan");
  expectChanged("name");
  // Node text (version, frame, name counters), then five counters per mesh.
  EXPECT_EQ(geo.ToString(), "0 2 2 2 2 2 2 2");
}

TEST(Geo, CopyDuplicatesMeshesWithNewGuids) {
  Geo source;
  source.SetName("scan 3");
  Mesh* a = source.AddMesh(3);
  a->AddVertex(Vec3f(1.f, 2.f, 3.f));
  a->AddVertexQualities();
  a->AddPrim(0, 0, 0);
  a->Surface::SetName("front");
  a->SetTextureID(4);
  a->SetTag(17);
  source.AddMesh(2);
  source.SetFrame(math::FTrans(5.0, 0.0, 0.0));
  source.SetRenderFlags(6);
  source.SetRenderFlagMask(2);
  source.SetVisibility(0x10);
  const BoundingBox box = source.GetBoundingBox();

  const Geo copy(source);
  ASSERT_EQ(copy.GetNumMeshes(), 2u);
  const Mesh* b = copy.GetMesh(0);
  EXPECT_EQ(b->GetVertexCoords(), a->GetVertexCoords());
  EXPECT_EQ(b->GetVertexQualities(), a->GetVertexQualities());
  EXPECT_EQ(b->GetPrims(), a->GetPrims());
  EXPECT_EQ(b->Surface::GetName(), "front");
  EXPECT_EQ(b->GetTextureID(), 4);
  EXPECT_EQ(b->GetTag(), 17);
  EXPECT_EQ(copy.GetMesh(1)->GetPrimSize(), 2u);
  EXPECT_NE(b->GetGuid(), a->GetGuid());
  EXPECT_EQ(copy.GetName(), "scan 3");
  EXPECT_EQ(copy.GetFrame(), source.GetFrame());
  EXPECT_GT(copy.GetFrameCounter(), 1u);
  EXPECT_EQ(copy.GetRenderFlags(), 6u);
  EXPECT_EQ(copy.GetRenderFlagMask(), 2u);
  EXPECT_EQ(copy.GetVisibility(), 0x10u);
  EXPECT_EQ(copy.GetBoundingBox(), box);
  EXPECT_EQ(copy.GetScene(), nullptr);
}

TEST(Geo, PassSelectionAndPrimitiveModes) {
  Geo geo;
  geo.SetVisibility(0x4);
  geo.SetRenderFlags(0x1);
  geo.SetRenderFlagMask(0x2);
  EXPECT_EQ(geo.GetEffectiveRenderFlags(0x6), 0x5u);
  EXPECT_TRUE(geo.IsDrawnInPass({nullptr, 0, 0x6, 2}));
  EXPECT_FALSE(geo.IsDrawnInPass({nullptr, 0, 0x3, 2}));
  EXPECT_FALSE(geo.IsDrawnInPass({nullptr, 0, 0x4, 3}));
  EXPECT_EQ(PrimitiveModeOf(1), PrimitiveMode::kPoints);
  EXPECT_EQ(PrimitiveModeOf(2), PrimitiveMode::kLines);
  EXPECT_EQ(PrimitiveModeOf(3), PrimitiveMode::kTriangles);
  EXPECT_EQ(PrimitiveModeOf(4), PrimitiveMode::kQuads);
  EXPECT_EQ(PrimitiveModeOf(7), PrimitiveMode::kTriangles);
}

TEST(CreateParallelepiped, CornersInOrderAndOutwardTriangles) {
  Geo geo;
  const Vec3f p(1.f, 1.f, 1.f), a(2.f, 0.f, 0.f), b(0.f, 3.f, 0.f), c(0.f, 0.f, 4.f);
  Mesh* mesh = CreateParallelepiped(geo, p, a, b, c);
  ASSERT_EQ(mesh, geo.GetMesh(0));
  ASSERT_EQ(mesh->GetNumVertices(), 8u);
  const Vec3f corners[8] = {p, p + a, p + b, p + c, p + a + b, p + a + c, p + b + c, p + a + b + c};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(mesh->GetVertexCoords()[i], corners[i]) << i;
  ASSERT_EQ(mesh->GetNumPrims(), 12u);
  EXPECT_EQ(mesh->GetPrims()[0], 0u);
  EXPECT_EQ(mesh->GetPrims()[1], 2u);
  EXPECT_EQ(mesh->GetPrims()[35], 7u);
  const Vec3f center = p + (a + b + c) * 0.5f;
  const auto& v = mesh->GetVertexCoords();
  const auto& prims = mesh->GetPrims();
  for (std::size_t t = 0; t < 12; ++t) {
    const Vec3f p0 = v[prims[3 * t]], p1 = v[prims[3 * t + 1]], p2 = v[prims[3 * t + 2]];
    const Vec3f n = (p1 - p0) ^ (p2 - p0);
    const Vec3f outward = (p0 + p1 + p2) * (1.f / 3.f) - center;
    EXPECT_GT(math::Dot(n, outward), 0.f) << "triangle " << t;
  }
  // A second box goes into a second mesh.
  EXPECT_EQ(CreateParallelepiped(geo, p, a, b, c)->GetIndex(), 1u);
}

TEST(CalcVertexNormals, BoxCornersWeighFacesByArea) {
  Geo geo;
  // Edges 2, 3, 4: face areas |b×c| = 12 (x), |a×c| = 8 (y), |a×b| = 6 (z).
  CreateParallelepiped(geo, Vec3f(), Vec3f(2.f, 0.f, 0.f), Vec3f(0.f, 3.f, 0.f), Vec3f(0.f, 0.f, 4.f));
  CalcVertexNormals(geo);
  const auto& n = geo.GetMesh(0)->GetVertexNormals();
  ASSERT_EQ(n.size(), 8u);
  const float tol = 1e-6f;
  // Corners 0 and 7 touch one triangle of each of their three faces.
  ExpectVecNear(n[0], Vec3f(-12.f, -8.f, -6.f) * (1.f / std::sqrt(244.f)), tol);
  ExpectVecNear(n[7], Vec3f(12.f, 8.f, 6.f) * (1.f / std::sqrt(244.f)), tol);
  // Corner 1 (p + a) touches two triangles of the −z and −y faces, one of +x.
  ExpectVecNear(n[1], Vec3f(12.f, -16.f, -12.f) * (1.f / std::sqrt(544.f)), tol);
  for (const auto& normal : n) EXPECT_NEAR(normal.Length(), 1.f, tol);
}

TEST(CalcVertexNormals, DegenerateTrianglesAddNothing) {
  Geo geo(3);
  Mesh* mesh = geo.GetMesh(0);
  mesh->AddVertex(Vec3f(0.f, 0.f, 0.f));
  mesh->AddVertex(Vec3f(1.f, 0.f, 0.f));
  mesh->AddVertex(Vec3f(0.f, 1.f, 0.f));
  mesh->AddVertex(Vec3f(2.f, 0.f, 0.f));  // collinear with 0 and 1
  mesh->AddVertex(Vec3f(5.f, 5.f, 5.f));  // used by nothing
  mesh->AddPrim(0, 1, 2);
  mesh->AddPrim(0, 1, 3);
  mesh->AddPrim(1, 2, 99);  // past the vertex count: skipped
  const std::uint32_t counter = mesh->GetVertexNormalsCounter();
  CalcVertexNormals(geo, 0);
  EXPECT_GT(mesh->GetVertexNormalsCounter(), counter);
  const auto& n = mesh->GetVertexNormals();
  ExpectVecNear(n[0], Vec3f(0.f, 0.f, 1.f), 0.f);
  ExpectVecNear(n[1], Vec3f(0.f, 0.f, 1.f), 0.f);
  ExpectVecNear(n[2], Vec3f(0.f, 0.f, 1.f), 0.f);
  EXPECT_EQ(n[3], Vec3f(0.f, 0.f, 0.f));
  EXPECT_EQ(n[4], Vec3f(0.f, 0.f, 0.f));
}

TEST(CalcVertexNormals, SkipsOtherPrimSizesAndUnselectedMeshes) {
  Geo geo(2);
  geo.GetMesh(0)->AddVertex(Vec3f());
  Mesh* triangles = geo.AddMesh(3);
  triangles->AddVertex(Vec3f());
  CalcVertexNormals(geo, 0);
  EXPECT_FALSE(geo.GetMesh(0)->HasVertexNormals());
  EXPECT_FALSE(triangles->HasVertexNormals());
  CalcVertexNormals(geo, 5);  // no such mesh: nothing
  CalcVertexNormals(geo);
  EXPECT_FALSE(geo.GetMesh(0)->HasVertexNormals());
  EXPECT_TRUE(triangles->HasVertexNormals());
}

// A UV sphere of radius r with n rings and 2n segments, poles included.
void BuildSphere(Mesh& mesh, int n, float r) {
  const double pi = std::numbers::pi;
  mesh.AddVertex(Vec3f(0.f, 0.f, r));
  for (int i = 1; i < n; ++i) {
    const double theta = pi * i / n;
    for (int j = 0; j < 2 * n; ++j) {
      const double phi = pi * j / n;
      mesh.AddVertex(Vec3f(float(r * std::sin(theta) * std::cos(phi)),
                           float(r * std::sin(theta) * std::sin(phi)), float(r * std::cos(theta))));
    }
  }
  const auto south = mesh.AddVertex(Vec3f(0.f, 0.f, -r));
  auto at = [n](int ring, int j) { return static_cast<std::uint32_t>(1 + (ring - 1) * 2 * n + (j % (2 * n))); };
  for (int j = 0; j < 2 * n; ++j) {
    mesh.AddPrim(0, at(1, j), at(1, j + 1));
    mesh.AddPrim(south, at(n - 1, j + 1), at(n - 1, j));
    for (int i = 1; i + 1 < n; ++i) {
      mesh.AddPrim(at(i, j), at(i + 1, j), at(i + 1, j + 1));
      mesh.AddPrim(at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  }
}

// Largest angle (radians) between computed and analytic normals; the pole
// normals go to north and south.
double MaxSphereNormalError(int n, Vec3f* north = nullptr, Vec3f* south = nullptr) {
  Geo geo(3);
  BuildSphere(*geo.GetMesh(0), n, 50.f);
  CalcVertexNormals(geo);
  const Mesh& mesh = *geo.GetMesh(0);
  double worst = 0.0;
  for (std::size_t i = 0; i < mesh.GetNumVertices(); ++i) {
    const Vec3f expected = mesh.GetVertexCoords()[i].GetNormalized();
    const double cosine = std::min(1.0, double(math::Dot(expected, mesh.GetVertexNormals()[i])));
    worst = std::max(worst, std::acos(cosine));
  }
  if (north) *north = mesh.GetVertexNormals().front();
  if (south) *south = mesh.GetVertexNormals().back();
  return worst;
}

TEST(CalcVertexNormals, SphereNormalsApproachTheRadialDirection) {
  // Area weighting is exact where the neighbourhood is symmetric (the pole
  // fans) and first order in the edge angle h = π / n where it is not (the
  // long thin triangles near the poles): the worst error must stay below a
  // fixed fraction of h and halve when h halves.
  Vec3f north, south;
  const double coarse = MaxSphereNormalError(16, &north, &south);
  ExpectVecNear(north, Vec3f(0.f, 0.f, 1.f), 1e-6f);
  ExpectVecNear(south, Vec3f(0.f, 0.f, -1.f), 1e-6f);
  const double fine = MaxSphereNormalError(32);
  const double h16 = std::numbers::pi / 16;
  EXPECT_LT(coarse, 0.2 * h16);
  EXPECT_LT(fine, 0.2 * h16 / 2);
  EXPECT_LT(fine, 0.6 * coarse);
}

}  // namespace
}  // namespace v3d
