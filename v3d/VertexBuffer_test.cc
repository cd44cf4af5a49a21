#include "v3d/VertexBuffer.h"

#include <gtest/gtest.h>

#include "v3d/Mesh.h"
#include "v3d/Surface.h"

namespace v3d {
namespace {

using math::Vec3f;

struct Counters {
  std::uint32_t position, normal, color, texCoord, quality;
  explicit Counters(const VertexBuffer& vb)
      : position(vb.GetVertexCoordsCounter()),
        normal(vb.GetVertexNormalsCounter()),
        color(vb.GetVertexColorsCounter()),
        texCoord(vb.GetVertexTexCoordsCounter()),
        quality(vb.GetVertexQualitiesCounter()) {}
};

TEST(VertexBuffer, NewBufferHasOnlyPositionsAndCountersAtOne) {
  Mesh mesh(0, 3);
  EXPECT_EQ(mesh.GetNumVertices(), 0u);
  EXPECT_FALSE(mesh.HasVertexNormals());
  EXPECT_FALSE(mesh.HasVertexColors());
  EXPECT_FALSE(mesh.HasVertexTexCoords());
  EXPECT_FALSE(mesh.HasVertexQualities());
  const Counters c(mesh);
  EXPECT_EQ(c.position, 1u);
  EXPECT_EQ(c.normal, 1u);
  EXPECT_EQ(c.color, 1u);
  EXPECT_EQ(c.texCoord, 1u);
  EXPECT_EQ(c.quality, 1u);
  EXPECT_EQ(mesh.GetGlobalColor(), Color4ub(128, 128, 128, 255));
  EXPECT_EQ(mesh.GetReserveCount(), 0u);
}

TEST(VertexBuffer, AddVertexAppendsDefaultsOfPresentAttributesAndCountsOnlyThose) {
  VertexBuffer vb;
  vb.AddVertexNormals();
  vb.AddVertexQualities();
  const Counters before(vb);
  EXPECT_EQ(vb.AddVertex(Vec3f(1.f, 2.f, 3.f)), 0u);
  EXPECT_EQ(vb.AddVertex(Vec3f(4.f, 5.f, 6.f)), 1u);
  const Counters after(vb);
  EXPECT_EQ(after.position, before.position + 2);
  EXPECT_EQ(after.normal, before.normal + 2);
  EXPECT_EQ(after.quality, before.quality + 2);
  EXPECT_EQ(after.color, before.color);
  EXPECT_EQ(after.texCoord, before.texCoord);
  ASSERT_EQ(vb.GetVertexNormals().size(), 2u);
  EXPECT_EQ(vb.GetVertexNormals()[1], Vec3f(0.f, 0.f, 1.f));
  EXPECT_EQ(vb.GetVertexQualities()[1], 1.f);
  EXPECT_TRUE(vb.GetVertexColors().empty());
  EXPECT_EQ(*vb.GetVertexCoord(1), Vec3f(4.f, 5.f, 6.f));
}

TEST(VertexBuffer, AddingAnAttributeFillsToTheVertexCount) {
  Mesh mesh(0, 3);
  for (int i = 0; i < 5; ++i) mesh.AddVertex(Vec3f(float(i), 0.f, 0.f));
  const std::uint32_t normalCounter = mesh.GetVertexNormalsCounter();
  mesh.AddVertexNormals();
  EXPECT_EQ(mesh.GetVertexNormalsCounter(), normalCounter + 1);
  ASSERT_EQ(mesh.GetVertexNormals().size(), 5u);
  for (const auto& n : mesh.GetVertexNormals()) EXPECT_EQ(n, Vec3f(0.f, 0.f, 1.f));
  // Present already: nothing happens, not even a count.
  mesh.AddVertexNormals();
  EXPECT_EQ(mesh.GetVertexNormalsCounter(), normalCounter + 1);

  mesh.AddVertexQualities();
  mesh.AddVertexTexCoords();
  mesh.AddVertex(Vec3f());
  EXPECT_EQ(mesh.GetVertexQualities()[4], 0.f);  // filled by AddVertexQualities
  EXPECT_EQ(mesh.GetVertexQualities()[5], 1.f);  // appended by AddVertex
  EXPECT_EQ(mesh.GetVertexTexCoords()[5], math::Vec2f(0.f, 0.f));
}

TEST(VertexBuffer, AddedColorsUseTheGlobalColourButNewVerticesWhite) {
  Mesh mesh(0, 3);
  mesh.AddVertex(Vec3f());
  mesh.AddVertex(Vec3f());
  mesh.SetGlobalColor(Color4ub(10, 20, 30, 40));
  mesh.AddVertexColors();
  mesh.AddVertex(Vec3f());
  ASSERT_EQ(mesh.GetVertexColors().size(), 3u);
  EXPECT_EQ(mesh.GetVertexColors()[0], Color4ub(10, 20, 30, 40));
  EXPECT_EQ(mesh.GetVertexColors()[1], Color4ub(10, 20, 30, 40));
  EXPECT_EQ(mesh.GetVertexColors()[2], Color4ub(255, 255, 255, 255));

  const std::uint32_t counter = mesh.GetVertexColorsCounter();
  mesh.SetVertexColor(Color4ub(1, 2, 3, 4), 2);
  EXPECT_EQ(mesh.GetVertexColorsCounter(), counter + 1);
  EXPECT_EQ(mesh.GetVertexColors()[2], Color4ub(1, 2, 3, 4));
  EXPECT_THROW(mesh.SetVertexColor(Color4ub(), 3), std::out_of_range);
}

TEST(VertexBuffer, ForcedAttributesSurviveClearVertices) {
  VertexBuffer vb;
  vb.AddVertex(Vec3f());
  vb.AddVertexNormals();
  vb.AddVertexColors();
  vb.ReserveVertices(100);
  const Counters before(vb);
  vb.ClearVertices();
  const Counters after(vb);
  EXPECT_EQ(after.position, before.position + 1);
  EXPECT_EQ(after.normal, before.normal + 1);
  EXPECT_EQ(after.color, before.color + 1);
  EXPECT_EQ(after.texCoord, before.texCoord + 1);
  EXPECT_EQ(after.quality, before.quality + 1);
  EXPECT_EQ(vb.GetReserveCount(), 0u);
  EXPECT_EQ(vb.GetNumVertices(), 0u);
  EXPECT_TRUE(vb.HasVertexNormals());
  EXPECT_TRUE(vb.HasVertexColors());
  EXPECT_FALSE(vb.HasVertexTexCoords());
  vb.AddVertex(Vec3f());
  vb.AddVertex(Vec3f());
  EXPECT_EQ(vb.GetVertexNormals().size(), 2u);
  EXPECT_EQ(vb.GetVertexColors().size(), 2u);
}

TEST(VertexBuffer, RemoveFreesArrayAndForceFlag) {
  VertexBuffer vb;
  vb.AddVertexNormals();
  vb.AddVertex(Vec3f());
  const std::uint32_t counter = vb.GetVertexNormalsCounter();
  vb.RemoveVertexNormals();
  EXPECT_EQ(vb.GetVertexNormalsCounter(), counter + 1);
  EXPECT_FALSE(vb.HasVertexNormals());
  vb.AddVertex(Vec3f());
  EXPECT_TRUE(vb.GetVertexNormals().empty());
  for (auto remove : {&VertexBuffer::RemoveVertexColors, &VertexBuffer::RemoveVertexQualities,
                      &VertexBuffer::RemoveVertexTexCoords}) {
    const Counters c0(vb);
    (vb.*remove)();
    const Counters c1(vb);
    EXPECT_EQ(c1.color + c1.quality + c1.texCoord, c0.color + c0.quality + c0.texCoord + 1);
  }
}

TEST(VertexBuffer, ReserveCountSizesAttributesAddedLater) {
  VertexBuffer vb;
  vb.ReserveVertices(1000);
  EXPECT_EQ(vb.GetReserveCount(), 1000u);
  EXPECT_GE(vb.GetVertexCoords().capacity(), 1000u);
  vb.AddVertex(Vec3f());
  vb.AddVertexColors();
  EXPECT_GE(vb.GetVertexColors().capacity(), 1000u);
  EXPECT_EQ(vb.GetVertexColors().size(), 1u);
}

TEST(VertexBuffer, MutableAccessorsCountEvenWithoutWrites) {
  VertexBuffer vb;
  const Counters before(vb);
  (void)vb.mGetVertexCoords();
  (void)vb.mGetVertexTexCoords();
  (void)vb.mGetVertexNormals();
  (void)vb.mGetVertexColors();
  (void)vb.mGetVertexQualities();
  const Counters after(vb);
  EXPECT_EQ(after.position, before.position + 1);
  EXPECT_EQ(after.texCoord, before.texCoord + 1);
  EXPECT_EQ(after.normal, before.normal + 1);
  EXPECT_EQ(after.color, before.color + 1);
  EXPECT_EQ(after.quality, before.quality + 1);
}

TEST(VertexBuffer, CopyTakesDataAndFlagsButKeepsIndexAndCountsUp) {
  VertexBuffer source(7);
  source.SetGlobalColor(Color4ub(1, 2, 3, 4));
  source.AddVertexTexCoords();  // forced, empty
  source.AddVertex(Vec3f(1.f, 1.f, 1.f));
  source.AddVertexQualities();
  source.ReserveVertices(50);
  VertexBuffer target(3);
  target.ReserveVertices(20);
  const Counters before(target);
  target = source;
  const Counters after(target);
  EXPECT_EQ(target.GetIndex(), 3u);
  EXPECT_EQ(target.GetReserveCount(), 0u);
  EXPECT_EQ(target.GetGlobalColor(), Color4ub(1, 2, 3, 4));
  EXPECT_EQ(target.GetVertexCoords(), source.GetVertexCoords());
  EXPECT_EQ(target.GetVertexQualities(), source.GetVertexQualities());
  EXPECT_EQ(after.position, before.position + 1);
  EXPECT_EQ(after.normal, before.normal + 1);
  EXPECT_EQ(after.color, before.color + 1);
  EXPECT_EQ(after.texCoord, before.texCoord + 1);
  EXPECT_EQ(after.quality, before.quality + 1);
  target.ClearVertices();
  EXPECT_TRUE(target.HasVertexTexCoords());  // the force flag came along
  EXPECT_FALSE(target.HasVertexNormals());
}

TEST(Surface, PrimitivesCountAndIndexOfTheLast) {
  Surface surface(2, 5, 3);
  EXPECT_EQ(surface.GetSurfaceIndex(), 2);
  EXPECT_EQ(surface.GetVertexBufferIndex(), 5);
  EXPECT_EQ(surface.GetTextureID(), -1);
  EXPECT_EQ(surface.GetTag(), -1);
  EXPECT_TRUE(surface.GetName().empty());
  const std::uint32_t counter = surface.GetPrimsCounter();
  EXPECT_EQ(surface.AddPrim(0, 1, 2), 0);
  EXPECT_EQ(surface.AddPrim(2, 1, 3), 1);
  EXPECT_EQ(surface.GetPrimsCounter(), counter + 2);
  // Two indices on a triangle surface are accepted unchecked: 8 / 3 = 2.
  EXPECT_EQ(surface.AddPrim(4, 5), 1);
  EXPECT_EQ(surface.GetNumPrims(), 2u);
  (void)surface.mGetPrims();
  EXPECT_EQ(surface.GetPrimsCounter(), counter + 4);
  surface.ClearPrims();
  EXPECT_EQ(surface.GetPrimsCounter(), counter + 5);
  EXPECT_EQ(surface.GetNumPrims(), 0u);

  Surface lines(0, 0, 2);
  lines.ReservePrims(10);
  EXPECT_GE(lines.GetPrims().capacity(), 20u);
  EXPECT_EQ(lines.AddPrim(0, 1), 0);
  Surface quads(0, 0, 4);
  EXPECT_EQ(quads.AddPrim(0, 1, 2, 3), 0);
  Surface points(0, 0, 1);
  points.AddPrim(0);
  EXPECT_EQ(points.AddPrim(1), 1);
}

TEST(Surface, NegativeTextureIDsBecomeMinusOne) {
  Surface surface(0, 0, 3);
  surface.SetTextureID(12);
  EXPECT_EQ(surface.GetTextureID(), 12);
  surface.SetTextureID(-7);
  EXPECT_EQ(surface.GetTextureID(), -1);
}

TEST(Mesh, IndicesFollowTheMeshIndexAndGuidsAreNew) {
  Mesh a(4, 2), b(4, 2);
  EXPECT_EQ(a.GetIndex(), 4u);
  EXPECT_EQ(a.GetSurfaceIndex(), 4);
  EXPECT_EQ(a.GetVertexBufferIndex(), 4);
  EXPECT_EQ(a.GetPrimSize(), 2u);
  EXPECT_FALSE(a.GetGuid().IsNull());
  EXPECT_NE(a.GetGuid(), b.GetGuid());
  EXPECT_EQ(&a.GetSurface(), static_cast<Surface*>(&a));
  EXPECT_EQ(&a.GetVertexBuffer(), static_cast<VertexBuffer*>(&a));
}

}  // namespace
}  // namespace v3d
