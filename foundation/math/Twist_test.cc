#include "foundation/math/Twist.h"

#include <gtest/gtest.h>

#include <numbers>
#include <random>

namespace math {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(Twist, ZeroRotationIsAPureTranslation) {
  const Frame<double> f = Twist(Vec3d(1, -2, 3), Vec3d()).Exp();
  EXPECT_EQ(f, FTrans(1.0, -2.0, 3.0));
  const Twist back = Twist::Log(f);
  EXPECT_EQ(back.GetTrans(), Vec3d(1, -2, 3));
  EXPECT_EQ(back.GetRot(), Vec3d());
}

TEST(Twist, ExpOfARotationAboutZMatchesTheElementaryFrame) {
  const Frame<double> f = Twist(Vec3d(), Vec3d(0, 0, 0.4)).Exp();
  const Frame<double> r = FRotZ(0.4);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(f.m[i], r.m[i], 1e-15);
}

TEST(Twist, ScrewMotionAlongItsAxis) {
  // A twist with v parallel to w translates along the axis by |v| (v' θ).
  const Frame<double> f = Twist(Vec3d(0, 0, 5), Vec3d(0, 0, kPi / 2)).Exp();
  EXPECT_NEAR(f.GetTrans()[2], 5, 1e-12);
  EXPECT_NEAR(f.GetTrans()[0], 0, 1e-12);
  // v orthogonal to w: a rotation about an axis through a point off the origin.
  const Frame<double> g = Twist(Vec3d(1, 0, 0), Vec3d(0, 0, kPi)).Exp();
  // Rotation by π about the z axis through c where v = −w × c, c = (0, 1/π, 0).
  const Vec3d c(0, 1 / kPi, 0);
  const Vec3d fixed = g * c;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(fixed[k], c[k], 1e-12);
}

TEST(Twist, LogInvertsExpOverRandomTwists) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int i = 0; i < 2000; ++i) {
    const Vec3d axis = Vec3d(u(rng), u(rng), u(rng)).GetNormalized();
    const double angle = (kPi - 1e-3) * (0.5 + 0.5 * u(rng)) + 1e-6;
    const Twist t(Vec3d(50 * u(rng), 50 * u(rng), 50 * u(rng)), axis * angle);
    const Twist back = Twist::Log(t.Exp());
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(back.GetRot()[k], t.GetRot()[k], 1e-9) << i;
      EXPECT_NEAR(back.GetTrans()[k], t.GetTrans()[k], 1e-7) << i;
    }
  }
}

TEST(Twist, LogOfHalfTurnsGivesPiTimesTheAxis) {
  for (const Vec3d& axis : {Vec3d(1, 0, 0), Vec3d(0, 1, 0), Vec3d(0, 0, 1), Vec3d(1, 1, 0) / std::sqrt(2.0),
                            Vec3d(-1, 2, 2) / 3.0}) {
    const Frame<double> f = Twist(Vec3d(1, 2, 3), axis * kPi).Exp();
    const Twist back = Twist::Log(f);
    EXPECT_NEAR(back.GetAngle(), kPi, 1e-9);
    // ±axis describe the same half turn; the motion must be reproduced.
    const Frame<double> again = back.Exp();
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(again.m[i], f.m[i], 1e-9) << i;
  }
}

TEST(Twist, LogKeepsPrecisionForTinyRotations) {
  const Twist t(Vec3d(1, 0, 0), Vec3d(1e-10, -2e-10, 3e-11));
  const Twist back = Twist::Log(t.Exp());
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(back.GetRot()[k], t.GetRot()[k], 1e-14);
  EXPECT_NEAR(back.GetTrans()[0], 1, 1e-9);
}

}  // namespace
}  // namespace math
