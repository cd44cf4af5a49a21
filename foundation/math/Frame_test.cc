#include "foundation/math/Frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numbers>
#include <random>

#include "foundation/math/Twist.h"

namespace math {
namespace {

constexpr double kPi = std::numbers::pi;

void ExpectFrameNear(const Frame<double>& a, const Frame<double>& b, double tol) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tol) << "element " << i;
}

Frame<double> RandomRigid(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  Vec3d w(u(rng), u(rng), u(rng));
  w = w.GetNormalized() * (std::abs(u(rng)) * 3.0);
  return Twist(Vec3d(100 * u(rng), 100 * u(rng), 100 * u(rng)), w).Exp();
}

TEST(Frame, StorageIsColumnMajorWithNamedColumns) {
  Frame<double> f = FTrans(1.0, 2.0, 3.0);
  EXPECT_EQ(f.m[12], 1.0);
  EXPECT_EQ(f.m[13], 2.0);
  EXPECT_EQ(f.m[14], 3.0);
  EXPECT_EQ(f.m[15], 1.0);
  EXPECT_EQ(f.p(), Vec4d(1, 2, 3, 1));
  EXPECT_EQ(f(1, 3), 2.0);
}

TEST(Frame, ElementaryRotationsMatchTheirColumns) {
  const double t = 0.3, c = std::cos(t), s = std::sin(t);
  const Frame<double> rx = FRotX(t), ry = FRotY(t), rz = FRotZ(t);
  EXPECT_EQ(rx.o(), Vec4d(0, c, s, 0));
  EXPECT_EQ(rx.a(), Vec4d(0, -s, c, 0));
  EXPECT_EQ(ry.n(), Vec4d(c, 0, -s, 0));
  EXPECT_EQ(ry.a(), Vec4d(s, 0, c, 0));
  EXPECT_EQ(rz.n(), Vec4d(c, s, 0, 0));
  EXPECT_EQ(rz.o(), Vec4d(-s, c, 0, 0));
  // A positive rotation about z turns x towards y.
  const Vec3d y = FRotZ(kPi / 2) * Vec3d(1, 0, 0);
  EXPECT_NEAR(y[0], 0, 1e-15);
  EXPECT_NEAR(y[1], 1, 1e-15);
  Frame<double> keep = FTrans(4.0, 5.0, 6.0);
  keep.SetRotX(t);
  EXPECT_EQ(keep.GetTrans(), Vec3d(4, 5, 6));
  EXPECT_EQ(keep.o(), rx.o());
}

TEST(Frame, RotationAboutAnAxisMatchesElementaryAndHandWorkedRotations) {
  const double t = 0.7;
  ExpectFrameNear(FRotAxis(Vec3d(1, 0, 0), t), FRotX(t), 1e-15);
  ExpectFrameNear(FRotAxis(Vec3d(0, 2, 0), t), FRotY(t), 1e-15);  // the axis is normalised
  ExpectFrameNear(FRotAxis(Vec3d(0, 0, -1), t), FRotZ(-t), 1e-15);
  // A third of a turn about (1,1,1) permutes the axes: x -> y -> z -> x.
  Frame<double> cyclic;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) cyclic(r, c) = (r == (c + 1) % 3) ? 1.0 : 0.0;
  }
  ExpectFrameNear(FRotAxis(Vec3d(1, 1, 1), 2 * kPi / 3), cyclic, 1e-15);
  EXPECT_THROW(FRotAxis(Vec3d(0, 0, 0), t), std::invalid_argument);
}

TEST(Frame, CompositionAppliesTheRightFactorFirst) {
  const Frame<double> a = FTrans(10.0, 0.0, 0.0), b = FRotZ(kPi / 2);
  const Vec3d p = (a * b) * Vec3d(1, 0, 0);  // rotate to (0,1,0), then shift
  EXPECT_NEAR(p[0], 10, 1e-12);
  EXPECT_NEAR(p[1], 1, 1e-12);
  const Vec3d q = (b * a) * Vec3d(1, 0, 0);  // shift to (11,0,0), then rotate
  EXPECT_NEAR(q[0], 0, 1e-12);
  EXPECT_NEAR(q[1], 11, 1e-12);
}

TEST(Frame, InverseUndoesAndTwiceReturns) {
  std::mt19937 rng(7);
  for (int i = 0; i < 100; ++i) {
    const Frame<double> f = RandomRigid(rng);
    ExpectFrameNear(f * f.GetInverse(), Frame<double>(), 1e-12);
    Frame<double> g = f;
    g.Inv().Inv();
    ExpectFrameNear(g, f, 1e-12);
    const Vec3d p(3, -4, 5);
    const Vec3d back = f.GetInverse() * (f * p);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(back[k], p[k], 1e-11);
  }
}

TEST(Frame, OrthoNormalizeLeavesOrthonormalFramesBitForBit) {
  std::mt19937 rng(11);
  for (int i = 0; i < 50; ++i) {
    const Frame<double> f = RandomRigid(rng);
    ASSERT_TRUE(f.IsOrthoNorm(1e-9));
    Frame<double> g = f;
    g.OrthoNormalize();
    EXPECT_EQ(std::memcmp(f.m, g.m, sizeof f.m), 0);
  }
}

TEST(Frame, OrthoNormalizeKeepsAAndThePlaneOfOAndA) {
  Frame<double> f;
  f.SetN(Vec4d(0.9, 0.2, 0.1, 0));
  f.SetO(Vec4d(0.1, 2.0, 0.3, 0));
  f.SetA(Vec4d(0.0, 0.1, 3.0, 0));
  const Vec4d a0 = f.a().GetNormalized(), o0 = f.o();
  f.OrthoNormalize();
  EXPECT_TRUE(f.IsOrthoNorm(1e-12));
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(f.a()[k], a0[k], 1e-15);
  // The new o lies in the plane of the old o and a: normal to their cross.
  EXPECT_NEAR(Dot(f.o(), (o0 ^ a0).GetNormalized()), 0.0, 1e-12);
  EXPECT_GT(Dot(f.o(), o0), 0.0);
  EXPECT_EQ(f.n()[3], 0.0);
  // Right-handed: n × o = a.
  const Vec4d c = f.n() ^ f.o();
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], f.a()[k], 1e-12);
}

TEST(Frame, ColumnsWrittenAndReadBackSurviveOrthoNormalize) {
  std::mt19937 rng(3);
  const Frame<double> f = RandomRigid(rng);
  Frame<double> g;
  g.SetN(f.n());
  g.SetO(f.o());
  g.SetA(f.a());
  g.SetP(f.p());
  g.OrthoNormalize();
  ExpectFrameNear(g, f, 0);
}

TEST(Frame, GetRotVectorOfIdentityAndKnownRotations) {
  Vec4d axis(9, 9, 9, 9);
  double angle = 5;
  Frame<double>().GetRotVector(axis, angle);
  EXPECT_EQ(angle, 0.0);
  EXPECT_EQ(axis, Vec4d());

  FRotY(0.7).GetRotVector(axis, angle);
  EXPECT_NEAR(angle, 0.7, 1e-12);
  EXPECT_NEAR(axis[1], 1, 1e-12);

  // Near and at π the largest diagonal candidate takes over.
  for (double a : {kPi - 1e-6, kPi}) {
    const Vec3d u = Vec3d(1, 2, -2) / 3.0;
    const Frame<double> r = Twist(Vec3d(), u * a).Exp();
    r.GetRotVector(axis, angle);
    EXPECT_NEAR(angle, a, 1e-7);
    const double sign = axis[0] > 0 ? 1 : -1;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(sign * axis[k], u[k], 1e-6);
  }
}

TEST(Frame, GetRotVectorMatchesTwistRotation) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int i = 0; i < 200; ++i) {
    const Vec3d axisTrue = Vec3d(u(rng), u(rng), u(rng)).GetNormalized();
    const double angleTrue = 0.01 + 3.1 * std::abs(u(rng));
    Vec4d axis;
    double angle;
    Twist(Vec3d(1, 2, 3), axisTrue * angleTrue).Exp().GetRotVector(axis, angle);
    EXPECT_NEAR(angle, angleTrue, 1e-7);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(axis[k], axisTrue[k], 1e-6);
  }
}

TEST(Frame, FloatFramesTransformFloatPoints) {
  const Frame<float> f(FTrans(1.0, 2.0, 3.0) * FRotX(kPi / 2));
  const Vec3f p = f * Vec3f(0, 1, 0);
  EXPECT_NEAR(p[0], 1, 1e-6);
  EXPECT_NEAR(p[1], 2, 1e-6);
  EXPECT_NEAR(p[2], 4, 1e-6);
}

}  // namespace
}  // namespace math
