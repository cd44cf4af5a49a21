#include "CamCalib/Interface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "CamCalib/testing/SyntheticTarget.h"
#include "foundation/img/EllipseGridMapping.h"

namespace CamCalib {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr double kSpacing = 12.0;

CalibGrid Grid(int countX, int countY, int ox, int oy, double markerX = 0.5, double markerY = 0.5) {
  CalibGrid g;
  g.countX = countX, g.countY = countY, g.originX = ox, g.originY = oy;
  g.spacingX = g.spacingY = kSpacing;
  g.markerX = markerX, g.markerY = markerY;
  g.world_T_plate = math::FTrans(100.0, -20.0, 5.0) * math::FRotX(0.5);
  return g;
}

struct Plate {
  math::Mat33d h;
  img::GreyImage image;
};

// 12 × 9 marks tilted by 50° about a skew axis, noise σ = 2.
Plate Tilted() {
  const math::Mat33d h =
      testing::PlateHomography(1900.0, {420.0, 310.0}, 0.75, 0.45, 0.3, {66.0, 48.0}, 470.0);
  return {h, testing::RenderMarks(840, 620, h, testing::GridMarks(12, 9, kSpacing, 5, 4), 200.0,
                                  25.0, 8, 2.0, 5)};
}

double CentreError(const Interface& d, const math::Mat33d& h, double* worst) {
  double sum2 = 0.0;
  *worst = 0.0;
  for (std::size_t k = 0; k < d.GetImagePoints().size(); ++k) {
    math::Vec2d truth;
    math::ApplyHomography(h, {d.GetGridNodes()[k][0] * kSpacing, d.GetGridNodes()[k][1] * kSpacing},
                          truth);
    const double e = (d.GetImagePoints()[k] - truth).Length();
    sum2 += e * e;
    *worst = std::max(*worst, e);
  }
  return std::sqrt(sum2 / double(d.GetImagePoints().size()));
}

TEST(Interface, MapsATiltedPlateAndCorrectsThePerspectiveBias) {
  const Plate plate = Tilted();
  const CalibGrid grid = Grid(12, 9, 5, 4);
  double rms[3], worst[3];
  for (int mode = 0; mode < 3; ++mode) {
    Parameters p = Parameters::ForCameraCalibration(840, 620);
    p.centreMode = mode;
    Interface detector;
    detector.SetPrintMessages(false);
    ASSERT_TRUE(detector.Init(p));
    ASSERT_TRUE(detector.ExtractEllipses(plate.image));
    ASSERT_TRUE(detector.MapEllipses(grid));
    ASSERT_EQ(detector.GetImagePoints().size(), 108u);
    rms[mode] = CentreError(detector, plate.h, &worst[mode]);
    // Plate and world points of the grid description.
    for (std::size_t k = 0; k < 108; ++k) {
      const math::Vec2i n = detector.GetGridNodes()[k];
      EXPECT_EQ(n, (math::Vec2i{int(k % 12), int(k / 12)}));  // row-major
      EXPECT_EQ(detector.GetPlatePoints()[k], (math::Vec3d{n[0] * kSpacing, n[1] * kSpacing, 0.0}));
      const math::Vec3d w = grid.world_T_plate.MultP(detector.GetPlatePoints()[k]);
      EXPECT_NEAR((detector.GetWorldPoints()[k] - w).Length(), 0.0, 1e-12);
    }
    EXPECT_TRUE(detector.GetMessages().empty());
  }
  // The perspective bias: how far the exact image ellipse's centre lies from
  // the image of the circle's centre, at its largest over the plate.
  double bias = 0.0;
  for (const auto& m : testing::GridMarks(12, 9, kSpacing, 5, 4)) {
    math::Vec2d truth;
    math::ApplyHomography(plate.h, m.centre, truth);
    const double r = m.inner > 0.0 ? m.inner : m.outer;  // a ring is mapped by its hole
    bias = std::max(bias, (testing::ImageEllipse(plate.h, m.centre, r).Centre() - truth).Length());
  }
  ASSERT_GT(bias, 0.05);
  // Mode 0 carries it; both corrections remove it.
  EXPECT_GT(worst[0], 0.8 * bias);
  EXPECT_LT(rms[2], 0.02);
  EXPECT_LT(worst[2], 0.05);
  EXPECT_LT(rms[1], 0.02);
  EXPECT_LT(worst[1], 0.05);
}

TEST(Interface, SameAssignmentAsTheFlatPlateMapping) {
  const Plate plate = Tilted();
  Interface detector;
  ASSERT_TRUE(detector.Init(Parameters::ForCameraCalibration(840, 620)));
  ASSERT_TRUE(detector.ExtractEllipses(plate.image));
  ASSERT_TRUE(detector.MapEllipses(Grid(12, 9, 5, 4)));
  img::EllipseGridMapping mapping(12, 9);
  ASSERT_TRUE(
      mapping.Map(detector.GetEllipses(), detector.GetPolarities(), {{5, 4}, {6, 4}, {5, 5}}));
  ASSERT_EQ(mapping.GetMappedCount(), 108);
  for (std::size_t k = 0; k < 108; ++k) {
    const math::Vec2i n = detector.GetGridNodes()[k];
    EXPECT_EQ(mapping.GetIndex(n[0], n[1]), detector.GetNodeEllipses()[k]);
  }
}

// Two plates in one image, marker cells left and right: each grid takes the
// cell nearest to its expected position, and the same ellipses serve both.
TEST(Interface, TwoGridsOfOneImage) {
  const math::Mat33d left =
      testing::PlateHomography(1500.0, {200.0, 300.0}, 0.0, 0.5, 0.0, {36.0, 30.0}, 300.0);
  const math::Mat33d right =
      testing::PlateHomography(1500.0, {620.0, 300.0}, 0.0, -0.5, 0.0, {36.0, 30.0}, 300.0);
  img::GreyImage image =
      testing::RenderMarks(840, 620, left, testing::GridMarks(7, 6, kSpacing, 0, 2));
  const img::GreyImage second =
      testing::RenderMarks(840, 620, right, testing::GridMarks(7, 6, kSpacing, 5, 2));
  for (std::int32_t i = 0; i < image.size; ++i)
    image.data[i] = std::min(image.data[i], second.data[i]);
  Interface detector;
  ASSERT_TRUE(detector.Init(Parameters::ForCameraCalibration(840, 620)));
  ASSERT_TRUE(detector.ExtractEllipses(image));
  for (const auto& [grid, h] : {std::pair{Grid(7, 6, 0, 2, 0.0, 0.5), left},
                                std::pair{Grid(7, 6, 5, 2, 1.0, 0.5), right}}) {
    ASSERT_TRUE(detector.MapEllipses(grid));
    double worst = 0.0;
    EXPECT_EQ(detector.GetImagePoints().size(), 42u);
    EXPECT_LT(CentreError(detector, h, &worst), 0.03);
    EXPECT_LT(worst, 0.1);
  }
}

TEST(Interface, BadInputGivesMessagesAndTheInterfaceStaysUsable) {
  Interface detector;
  detector.SetPrintMessages(false);
  const Plate plate = Tilted();
  EXPECT_FALSE(detector.ExtractEllipses(plate.image));
  EXPECT_THAT(
      detector.GetMessages(),
      ElementsAre("__CamCalib::Interface::ExtractEllipses__ Minimum required state: STATE_INIT."));
  Parameters bad;
  EXPECT_FALSE(detector.Init(bad));  // no image size
  EXPECT_THAT(detector.GetMessages(),
              ElementsAre("__CamCalib::CurveExtractor::Init__ Invalid width or height.",
                          "__CamCalib::Interface::Init__ Could not init CurveExtractor."));
  ASSERT_TRUE(detector.Init(Parameters::ForCameraCalibration(840, 620)));
  // Empty, 1 × 1, larger than initialised, blank.
  for (const auto& [w, h] :
       {std::pair{0u, 0u}, std::pair{1u, 1u}, std::pair{900u, 620u}, std::pair{840u, 620u}}) {
    img::GreyImage image(w, h);
    std::fill(image.data, image.data + image.size, std::uint8_t(128));
    EXPECT_FALSE(detector.ExtractEllipses(image)) << w;
    EXPECT_FALSE(detector.GetMessages().empty());
    EXPECT_FALSE(detector.MapEllipses(Grid(12, 9, 5, 4)));
    EXPECT_THAT(
        detector.GetMessages(),
        Contains("__CamCalib::Interface::MapEllipses__ Could not setup grid for CalibGrid"));
  }
  img::GreyImage empty;
  EXPECT_FALSE(detector.ExtractEllipses(empty));
  EXPECT_THAT(
      detector.GetMessages(),
      ElementsAre("__CamCalib::CurveExtractor::Process__ Source image has invalid size.",
                  "__CamCalib::Interface::ExtractEllipses__ Could not extract curves from image."));
  // A grid that does not fit the plate (marker cell outside), then one that does.
  ASSERT_TRUE(detector.ExtractEllipses(plate.image));
  EXPECT_FALSE(detector.MapEllipses(Grid(12, 9, 11, 4)));
  EXPECT_THAT(
      detector.GetMessages(),
      Contains(
          "__CamCalib::GridMapPoints::SetGrid__ Invalid xNodeOrigin or yNodeOrigin coordinate."));
  EXPECT_TRUE(detector.MapEllipses(Grid(12, 9, 5, 4)));
  EXPECT_EQ(detector.GetImagePoints().size(), 108u);
}

// A plain grid without marker cell: ellipses are found, no grid is mapped.
TEST(Interface, PlainGridGivesItsEllipsesButNoGrid) {
  const math::Mat33d h =
      testing::PlateHomography(1900.0, {420.0, 310.0}, 0.4, 0.0, 0.0, {66.0, 48.0}, 470.0);
  const img::GreyImage image = testing::RenderMarks(
      840, 620, h, testing::GridMarks(12, 9, kSpacing, -1, -1), 200.0, 25.0, 8, 2.0);
  Interface detector;
  detector.SetPrintMessages(false);
  ASSERT_TRUE(detector.Init(Parameters::ForCameraCalibration(840, 620)));
  EXPECT_FALSE(detector.ExtractEllipses(image));
  EXPECT_EQ(detector.GetEllipses().size(), 108u);
  EXPECT_EQ(detector.GetEllipseCentres().size(), 108u);
  EXPECT_THAT(detector.GetMessages(),
              ElementsAre("__CamCalib::EllipseFitting::Process__ Not enough ellipses.",
                          "__CamCalib::Interface::ExtractEllipses__ Could not extract enough "
                          "ellipses from image."));
  EXPECT_FALSE(detector.MapEllipses(Grid(12, 9, 5, 4)));
}

TEST(Interface, TripleWithoutFourthMarkGivesTheFourthIndexMessage) {
  // The normal mark completing the cell is missing.
  const math::Mat33d h =
      testing::PlateHomography(1900.0, {420.0, 310.0}, 0.2, 0.0, 0.0, {66.0, 48.0}, 470.0);
  auto marks = testing::GridMarks(12, 9, kSpacing, 5, 4);
  marks.erase(marks.begin() + 5 * 12 + 6);
  Interface detector;
  detector.SetPrintMessages(false);
  ASSERT_TRUE(detector.Init(Parameters::ForCameraCalibration(840, 620)));
  ASSERT_TRUE(detector.ExtractEllipses(testing::RenderMarks(840, 620, h, marks)));
  EXPECT_FALSE(detector.MapEllipses(Grid(12, 9, 5, 4)));
  EXPECT_THAT(
      detector.GetMessages(),
      ElementsAre(
          "__CamCalib::GridMapEllipses::Process__ The fourth starting index is invalid.",
          "__CamCalib::Interface::MapEllipses__ Could not map ellipses to grid for CalibGrid"));
  EXPECT_EQ(detector.GetMarkerCell()[0], -1);
}

TEST(GridMapEllipses, HomographyNeedsFivePairsAndNullInputIsRefused) {
  Messages messages;
  messages.SetPrint(false);
  GridMapEllipses mapper;
  mapper.SetMessages(&messages);
  math::Mat33d h;
  const std::vector<math::Vec2d> four{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  EXPECT_FALSE(mapper.ComputeHomography(four, four, h));
  EXPECT_FALSE(mapper.ComputeHomography(four, {{0, 0}}, h));
  EXPECT_FALSE(GetHomographyAlgebraic(nullptr, four.data(), h, &messages));
  EXPECT_THAT(
      messages.GetLines(),
      ElementsAre("__CamCalib::GridMapEllipses__ Error while computing homography. At least 5 "
                  "point correspondences are needed!",
                  "__CamCalib::GridMapEllipses__ Error while computing homography. Amount of input "
                  "and output points do not match!",
                  "Error in GetHomographyAlgebraic - An input parameter is a NULL pointer."));
  std::vector<math::Vec2i> nodes;
  std::vector<math::Vec2d> centres;
  std::vector<math::Vec3d> plate, world;
  EXPECT_FALSE(mapper.GetCorrespondences(Grid(3, 3, 0, 0), 2, centres, nodes, plate, world));
  EXPECT_EQ(
      messages.GetLines().back(),
      "__CamCalib::GridMapEllipses::GetCorrespondences__ Minimum required state: STATE_PROCESSED.");
}

}  // namespace
}  // namespace CamCalib
