// The renderer against scenes of known geometry, drawn offscreen on Mesa's
// software renderer: silhouettes, texture colours, constant-size data tips,
// picking and the vertex-buffer cache.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "v3d/DataTip.h"
#include "v3d/GeoTools.h"
#include "v3d/LockGuard.h"
#include "v3d/Navigation.h"
#include "v3d/OffscreenDisplay.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

constexpr double kPi = std::numbers::pi;

// A UV sphere with outward normals: `segments` around, segments / 2 from
// pole to pole.
std::unique_ptr<Geo> MakeSphere(double radius, int segments, const Color4ub& color = {255, 255, 255, 255}) {
  auto geo = std::make_unique<Geo>(3);
  Mesh& mesh = *geo->GetMesh(0);
  mesh.SetGlobalColor(color);
  const int rings = segments / 2;
  for (int i = 0; i <= rings; ++i) {
    const double theta = kPi * i / rings;
    for (int j = 0; j < segments; ++j) {
      const double phi = 2 * kPi * j / segments;
      const math::Vec3d n(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta));
      mesh.AddVertex(math::Vec3f(n * radius));
    }
  }
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      const std::uint32_t a = i * segments + j, b = i * segments + (j + 1) % segments;
      const std::uint32_t c = a + segments, d = b + segments;
      if (i > 0) mesh.AddPrim(a, b, c);
      if (i + 1 < rings) mesh.AddPrim(b, d, c);
    }
  }
  CalcVertexNormals(*geo);
  return geo;
}

// A camera at `position` looking along +z (image x right, y down).
std::unique_ptr<Camera> CameraAt(const math::Vec3d& position, float fovDeg = 45.f) {
  auto camera = std::make_unique<Camera>();
  camera->SetFrame(math::FTrans(position));
  const float fov = static_cast<float>(fovDeg * kPi / 180.0);
  camera->SetFov(fov, fov);
  return camera;
}

struct Coverage {
  double area = 0.0, cx = 0.0, cy = 0.0;
  int minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
};

// Pixels whose colour passes the test; centres at (x + 0.5, y + 0.5).
template <typename Test>
Coverage Measure(const img::RGBImage& image, Test&& test) {
  Coverage c;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      if (!test(image(x, y))) continue;
      c.area += 1.0;
      c.cx += x + 0.5;
      c.cy += y + 0.5;
      c.minX = std::min<int>(c.minX, x);
      c.maxX = std::max<int>(c.maxX, x);
      c.minY = std::min<int>(c.minY, y);
      c.maxY = std::max<int>(c.maxY, y);
    }
  }
  if (c.area > 0) {
    c.cx /= c.area;
    c.cy /= c.area;
  }
  return c;
}

bool Bright(const img::RGB8& p) { return p.r > 127 && p.g > 127 && p.b > 127; }

class GlRender : public ::testing::Test {
 protected:
  void SetUp() override {
    display = std::make_unique<OffscreenDisplay>(640, 480);
    display->SetScene(&scene);
  }
  void TearDown() override { display->SetScene(nullptr); }

  Scene scene;
  std::unique_ptr<OffscreenDisplay> display;
};

// The silhouette of a sphere of radius R whose centre lies on the optical
// axis at distance D is a circle of radius f·tan(asin(R/D)) pixels around
// the image centre, f = (H/2) / tan(fov/2).
TEST_F(GlRender, SphereSilhouetteHasTheProjectedAreaAndCentre) {
  const double radius = 50.0, distance = 300.0;
  auto sphere = MakeSphere(radius, 512);
  sphere->SetRenderFlags(kRenderFlagNoLighting);
  scene.AddNode(sphere.get());
  scene.SetCamera(0, CameraAt({0.0, 0.0, -distance}));
  const img::RGBImage image = display->Render();
  ASSERT_EQ(image.width, 640u);
  ASSERT_EQ(image.height, 480u);

  const double f = 240.0 / std::tan(kPi / 8.0);
  const double r = f * std::tan(std::asin(radius / distance));
  const Coverage c = Measure(image, Bright);
  EXPECT_NEAR(c.area, kPi * r * r, 2.0 * kPi * r) << "expected radius " << r;
  EXPECT_NEAR(std::sqrt(c.area / kPi), r, 1.0);
  EXPECT_NEAR(c.cx, 320.0, 1.0);
  EXPECT_NEAR(c.cy, 240.0, 1.0);
  scene.RemoveNode(sphere.get());
}

// Off the axis: a sphere centred at camera coordinates (X, Y, Z) appears as
// an ellipse; its extreme pixels along the image axes are the tangent rays
// of the sphere in the xz and yz planes.
TEST_F(GlRender, OffAxisSphereSpansItsTangentRays) {
  const double radius = 30.0, X = 60.0, Y = -40.0, Z = 400.0;
  auto sphere = MakeSphere(radius, 512);
  sphere->SetRenderFlags(kRenderFlagNoLighting);
  sphere->SetFrame(math::FTrans(X, Y, Z));
  scene.AddNode(sphere.get());
  scene.SetCamera(0, CameraAt({0.0, 0.0, 0.0}));
  const Coverage c = Measure(display->Render(), Bright);
  const double f = 240.0 / std::tan(kPi / 8.0);
  // Tangent directions in a plane through the eye: the centre's angle ± asin(R / distance in that plane).
  auto extremes = [&](double a) {
    const double planeDistance = std::hypot(a, Z), centre = std::atan2(a, Z), half = std::asin(radius / planeDistance);
    return std::pair{f * std::tan(centre - half), f * std::tan(centre + half)};
  };
  const auto [left, right] = extremes(X);
  const auto [top, bottom] = extremes(Y);
  EXPECT_NEAR(c.minX, 320.0 + left, 1.0);
  EXPECT_NEAR(c.maxX + 1, 320.0 + right, 1.0);
  EXPECT_NEAR(c.minY, 240.0 + top, 1.0);
  EXPECT_NEAR(c.maxY + 1, 240.0 + bottom, 1.0);
  scene.RemoveNode(sphere.get());
}

// A quad carrying a 2 × 2 colour image (BGR memory order, as the scans'
// textures are) shows each texel in its quarter, the image's top row at the
// top of the picture.
TEST_F(GlRender, TexturedQuadShowsItsTextureColours) {
  img::RGBImage picture(2, 2);
  picture(0, 0) = img::RGB8::FromRGB(230, 20, 10);
  picture(1, 0) = img::RGB8::FromRGB(10, 200, 30);
  picture(0, 1) = img::RGB8::FromRGB(20, 40, 220);
  picture(1, 1) = img::RGB8::FromRGB(240, 230, 40);
  Texture texture;
  texture.SetImage(picture);
  texture.SetFilters(gl::kNearest, gl::kNearest);
  const std::int32_t id = scene.AddTexture(&texture);
  ASSERT_GE(id, 0);

  Geo quad(4);
  Mesh& mesh = *quad.GetMesh(0);
  mesh.AddVertexTexCoords();
  const float s = 100.f;
  const math::Vec3f corners[4] = {{-s, -s, 0.f}, {s, -s, 0.f}, {s, s, 0.f}, {-s, s, 0.f}};
  const math::Vec2f uv[4] = {{0.f, 0.f}, {1.f, 0.f}, {1.f, 1.f}, {0.f, 1.f}};
  for (int k = 0; k < 4; ++k) {
    mesh.AddVertex(corners[k]);
    mesh.mGetVertexTexCoords()[k] = uv[k];
  }
  mesh.AddPrim(0, 1, 2, 3);
  mesh.SetTextureID(id);
  quad.SetRenderFlags(kRenderFlagNoLighting);
  scene.AddNode(&quad);
  scene.SetCamera(0, CameraAt({0.0, 0.0, -300.0}));
  const img::RGBImage image = display->Render();
  // The quad spans ±f·100/300 pixels about the centre; sample the quarters' middles.
  const double half = 240.0 / std::tan(kPi / 8.0) * s / 300.0;
  auto at = [&](double u, double v) {
    return image(static_cast<std::uint32_t>(320 + (u - 0.5) * 2 * half), static_cast<std::uint32_t>(240 + (v - 0.5) * 2 * half));
  };
  EXPECT_EQ(at(0.25, 0.25), picture(0, 0));
  EXPECT_EQ(at(0.75, 0.25), picture(1, 0));
  EXPECT_EQ(at(0.25, 0.75), picture(0, 1));
  EXPECT_EQ(at(0.75, 0.75), picture(1, 1));
  EXPECT_EQ(image(5, 5), img::RGB8::FromRGB(0, 0, 0));
  scene.RemoveNode(&quad);
  scene.RemoveTexture(&texture);
}

// Per-vertex colours are interpolated; the global colour stands in without them.
TEST_F(GlRender, VertexColoursAndGlobalColour) {
  auto left = MakeSphere(20.0, 64, {0, 0, 255, 255});
  left->SetFrame(math::FTrans(-40.0, 0.0, 0.0));
  auto right = MakeSphere(20.0, 64);
  right->SetFrame(math::FTrans(40.0, 0.0, 0.0));
  Mesh& mesh = *right->GetMesh(0);
  mesh.AddVertexColors();
  for (auto& colour : mesh.mGetVertexColors()) colour = {255, 0, 0, 255};
  for (Geo* geo : {left.get(), right.get()}) {
    geo->SetRenderFlags(kRenderFlagNoLighting);
    scene.AddNode(geo);
  }
  scene.SetCamera(0, CameraAt({0.0, 0.0, -300.0}));
  const img::RGBImage image = display->Render();
  const Coverage blue = Measure(image, [](const img::RGB8& p) { return p.b > 200 && p.r < 50; });
  const Coverage red = Measure(image, [](const img::RGB8& p) { return p.r > 200 && p.b < 50; });
  EXPECT_LT(blue.cx, 320.0);
  EXPECT_GT(red.cx, 320.0);
  EXPECT_NEAR(blue.area, red.area, 0.02 * red.area);
  for (Geo* geo : {left.get(), right.get()}) scene.RemoveNode(geo);
}

// A data tip spans the same pixels whether the camera is near or far.
TEST_F(GlRender, DataTipKeepsItsSizeOnScreenWhenTheCameraZooms) {
  Geo plane(4);  // a parent far larger than the tip
  DataTip tip;
  scene.AddNode(&plane);
  scene.AddNode(&tip, &plane);
  tip.SetPosition({0.f, 0.f, 0.f});
  tip.SetRenderFlags(kRenderFlagNoLighting);
  tip.GetMesh(0)->SetGlobalColor({255, 255, 0, 255});
  auto yellow = [](const img::RGB8& p) { return p.r > 200 && p.g > 200 && p.b < 80; };
  std::vector<double> widths;
  for (double distance : {100.0, 400.0, 1600.0}) {
    scene.SetCamera(0, CameraAt({0.0, 0.0, -distance}));
    const img::RGBImage image = display->Render();
    const Coverage c = Measure(image, yellow);
    ASSERT_GT(c.area, 0.0) << "at " << distance << " mm";
    widths.push_back(c.maxX - c.minX + 1);
    EXPECT_NEAR(c.cx, 320.0, 1.0);
  }
  EXPECT_NEAR(widths[0], 2 * DataTip::kRadiusPixels, 2.0);
  EXPECT_NEAR(widths[1], widths[0], 1.0);
  EXPECT_NEAR(widths[2], widths[0], 1.0);
  scene.RemoveNode(&tip);
  scene.RemoveNode(&plane);
}

// Picking finds the sphere's surface under the cursor, or within the pick
// radius next to its silhouette, and nothing farther away.
TEST_F(GlRender, PickingReturnsTheSurfacePointWithinThePickRadius) {
  const double radius = 50.0, distance = 300.0;
  auto sphere = MakeSphere(radius, 256);
  sphere->SetFrame(math::FTrans(0.0, 0.0, 10.0));
  scene.AddNode(sphere.get());
  scene.SetCamera(0, CameraAt({0.0, 0.0, -distance + 10.0}));
  ContextScope context(display.get());
  // A quad of the UV sphere spans 2π/256 in both directions: its middle lies
  // up to about 2R(1 − cos(π/256)) inside the sphere.
  const double sag = 2.0 * radius * (1.0 - std::cos(kPi / 256.0)) + 1e-3;
  const ViewState view = MakeViewState(*scene.GetActiveCamera(), 640, 480);

  SurfacePick pick;
  ASSERT_TRUE(display->PickSurface(350, 200, 10.f, pick));
  EXPECT_EQ(pick.nodeID, sphere->GetNodeID());
  const double fromCentre = (pick.world - math::Vec3d(0.0, 0.0, 10.0)).Length();
  EXPECT_LE(fromCentre, radius + 1e-4);
  EXPECT_GE(fromCentre, radius - sag);
  EXPECT_LT(pick.world[2], 10.0);  // the near side
  math::Vec2d pixel;
  ASSERT_TRUE(view.Project(pick.world, pixel));
  EXPECT_NEAR(pixel[0], 350.5, 1e-3);
  EXPECT_NEAR(pixel[1], 200.5, 1e-3);
  EXPECT_DOUBLE_EQ(pick.pixelDistance, 0.0);
  EXPECT_NEAR(pick.local[2], pick.world[2] - 10.0, 1e-9);

  // Just right of the silhouette: the nearest covered pixel within 10 pixels.
  const double r = 240.0 / std::tan(kPi / 8.0) * std::tan(std::asin(radius / distance));
  const int outside = static_cast<int>(320 + r + 5);
  ASSERT_TRUE(display->PickSurface(outside, 240, 10.f, pick));
  EXPECT_GT(pick.pixelDistance, 4.0);
  EXPECT_LE(pick.pixelDistance, 10.0);
  EXPECT_NEAR((pick.world - math::Vec3d(0.0, 0.0, 10.0)).Length(), radius, sag + 1e-4);
  EXPECT_FALSE(display->PickSurface(static_cast<int>(320 + r + 20), 240, 10.f, pick));
  EXPECT_FALSE(display->PickSurface(5, 5, 10.f, pick));
  scene.RemoveNode(sphere.get());
}

// Vertex buffers go up once per mesh and again only when the mesh changes.
TEST_F(GlRender, VertexBuffersAreUploadedOncePerMeshGuid) {
  auto sphere = MakeSphere(20.0, 32);
  scene.AddNode(sphere.get());
  scene.SetCamera(0, CameraAt({0.0, 0.0, -200.0}));
  display->Render();
  display->Render();
  EXPECT_EQ(display->GetNumUploads(), 1u);
  sphere->GetMesh(0)->AddVertexColors();  // a new array
  display->Render();
  EXPECT_EQ(display->GetNumUploads(), 2u);
  display->Render();
  EXPECT_EQ(display->GetNumUploads(), 2u);
  Geo copy(*sphere);  // the same arrays under new GUIDs
  scene.AddNode(&copy);
  display->Render();
  EXPECT_EQ(display->GetNumUploads(), 3u);
  scene.RemoveNode(&copy);
  for (int k = 0; k < 4; ++k) display->Render();
  EXPECT_EQ(display->GetNumCachedMeshes(), 1u);  // the removed copy's buffers are gone
  scene.RemoveNode(sphere.get());
}

// A closed mesh drawn a second time unchanged is drawn without its back
// faces, which changes no pixel: a red cube inside a closed white box stays
// hidden whichever way the box's triangles turn and under a mirroring
// frame. With the camera inside the box its inner walls (back faces) show.
TEST_F(GlRender, ClosedMeshesLoseOnlyTheirHiddenBackFaces) {
  auto isRed = [](const img::RGB8& p) { return p.r > 100 && p.g < 60 && p.b < 60; };
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant == 0 ? "counter-clockwise" : variant == 1 ? "clockwise" : "mirrored");
    Geo geo;
    Mesh& box = *CreateParallelepiped(geo, {-60.f, -50.f, -40.f}, {120.f, 0.f, 0.f},
                                      {0.f, 100.f, 0.f}, {0.f, 0.f, 80.f});
    Mesh& inner = *CreateParallelepiped(geo, {-10.f, -10.f, -10.f}, {20.f, 0.f, 0.f},
                                        {0.f, 20.f, 0.f}, {0.f, 0.f, 20.f});
    inner.SetGlobalColor({255, 0, 0, 255});
    if (variant == 1) {
      for (Mesh* mesh : {&box, &inner}) {
        auto& prims = mesh->mGetPrims();
        for (std::size_t t = 0; t < prims.size(); t += 3) std::swap(prims[t + 1], prims[t + 2]);
      }
    }
    CalcVertexNormals(geo);
    math::Frame4d frame = math::FRotY(0.6) * math::FRotX(0.5);
    if (variant == 2) {
      math::Frame4d mirror;
      mirror(0, 0) = -1.0;
      frame = frame * mirror;
    }
    geo.SetFrame(frame);
    scene.AddNode(&geo);
    scene.SetCamera(0, CameraAt({0.0, 0.0, -300.0}));
    const std::size_t culled = display->GetNumCulledDraws();
    const img::RGBImage whole = display->Render();
    EXPECT_EQ(display->GetNumCulledDraws(), culled);
    const img::RGBImage culledImage = display->Render();
    EXPECT_EQ(display->GetNumCulledDraws(), culled + 2);
    EXPECT_EQ(Measure(culledImage, isRed).area, 0.0);
    EXPECT_GT(Measure(culledImage, [](const img::RGB8& p) { return p.r + p.g + p.b > 0; }).area,
              20000.0);
    std::size_t differing = 0;
    for (std::uint32_t y = 0; y < whole.height; ++y) {
      for (std::uint32_t x = 0; x < whole.width; ++x)
        differing += !(whole(x, y) == culledImage(x, y));
    }
    EXPECT_EQ(differing, 0u);

    // Inside the box the near plane cuts it: its back faces stay.
    geo.SetFrame(math::FTrans(0.0, 0.0, -265.0) * frame);
    const img::RGBImage inside = display->Render();
    EXPECT_EQ(display->GetNumCulledDraws(), culled + 3);  // only the red cube, ahead of the camera
    EXPECT_EQ(Measure(inside, [](const img::RGB8& p) { return p.r + p.g + p.b == 0; }).area, 0.0);
    scene.RemoveNode(&geo);
  }
}

// Vertices at NaN, indices past the end and empty meshes are left out of
// the drawing, with a warning, and the rest is drawn.
TEST_F(GlRender, BrokenMeshesDrawWhatIsValid) {
  auto sphere = MakeSphere(40.0, 64);
  sphere->SetRenderFlags(kRenderFlagNoLighting);
  Mesh& bad = *sphere->AddMesh(3);
  bad.AddVertex({std::nanf(""), 0.f, 0.f});
  bad.AddVertex({1.f, 0.f, 0.f});
  bad.AddVertex({0.f, 1.f, 0.f});
  bad.AddPrim(0, 1, 2);
  bad.AddPrim(1, 2, 7);
  sphere->AddMesh(3);  // empty
  scene.AddNode(sphere.get());
  scene.SetCamera(0, CameraAt({0.0, 0.0, -300.0}));
  ::testing::internal::CaptureStderr();
  const Coverage c = Measure(display->Render(), Bright);
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(warnings.find("2 primitives with missing or non-finite vertices are not drawn"), std::string::npos)
      << warnings;
  EXPECT_GT(c.area, 1000.0);
  EXPECT_NEAR(c.cx, 320.0, 1.0);
  scene.RemoveNode(sphere.get());
}

// A canvas string uses the shipped font and lands where it was drawn.
TEST_F(GlRender, CanvasDrawsTextWithTheShippedFont) {
  display->LoadDefaultFont(std::string(TARVELIN_SOURCE_SHARE_DIR) + "/fonts/DejaVuSans-20.fnt");
  Canvas& canvas = *scene.GetDrawControl().GetDefaultCanvas();
  canvas.SetPenColor({255, 255, 255, 255});
  const float width = canvas.DrawString(100.f, 50.f, "Tarvelin 12.5 mm");
  canvas.SetPenColor({0, 255, 0, 255});
  canvas.DrawRect(400.f, 300.f, 40.f, 20.f);
  const img::RGBImage image = display->Render();
  const Coverage text = Measure(image, Bright);
  EXPECT_GE(text.minX, 100);
  EXPECT_LE(text.maxX, 100 + width + 1);
  EXPECT_GE(text.minY, 50);
  EXPECT_LE(text.maxY, 50 + 24);
  EXPECT_GT(text.area, 150.0);
  const Coverage green = Measure(image, [](const img::RGB8& p) { return p.g > 200 && p.r < 50; });
  EXPECT_DOUBLE_EQ(green.area, 40.0 * 20.0);
  EXPECT_EQ(green.minX, 400);
  EXPECT_EQ(green.minY, 300);
}

}  // namespace
}  // namespace v3d
