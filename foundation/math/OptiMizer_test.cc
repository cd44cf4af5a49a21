#include "foundation/math/OptiMizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <random>

namespace math {
namespace {

using ::testing::HasSubstr;

// y = a·exp(b·t) applied to a 1-row source of t values.
class ExpTransform : public OptiTransform {
 public:
  ExpTransform() {
    AddParamNameIndexPair("a");
    AddParamNameIndexPair("b");
  }
  bool Compute(Eigen::MatrixXd& D, const Eigen::MatrixXd& S) override {
    D = (S.array() * m_params[1]).exp() * m_params[0];
    return true;
  }
};

class Params3 : public OptiParameterSet {
 public:
  Params3() {
    for (const char* name : {"x", "y", "z"}) AddParamNameIndexPair(name);
  }
  int applied = 0;
  void ApplyParams() override { ++applied; }
};

TEST(OptiParameterSet, SelectionKeepsGivenOrderAndRepeats) {
  Params3 set;
  ASSERT_TRUE(set.SelectActiveParams("  z x\tz "));
  EXPECT_EQ(set.GetActiveIndices(), (std::vector<std::size_t>{2, 0, 2}));
  EXPECT_TRUE(set.SelectActiveParams(""));
  EXPECT_EQ(set.GetNumActiveParams(), 0u);
}

TEST(OptiParameterSet, UnknownNameIsReportedOthersStaySelected) {
  Params3 set;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(set.SelectActiveParams("y w x"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error in OptiParameterSet::SelectActiveParams: Could not find parameter name in map: w\n");
  EXPECT_EQ(set.GetActiveIndices(), (std::vector<std::size_t>{1, 0}));
}

TEST(OptiParameterSet, NamesMustBeNewAndNonEmpty) {
  Params3 set;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(set.AddParamNameIndexPair(""));
  EXPECT_FALSE(set.AddParamNameIndexPair("y"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("'paramName' is empty."));
  EXPECT_THAT(err, HasSubstr("'paramName' is already in use."));
  EXPECT_TRUE(set.AddParamNameIndexPair("w"));
  std::size_t index = 0;
  ASSERT_TRUE(set.GetParamIndex("w", index));
  EXPECT_EQ(index, 3u);
  EXPECT_EQ(set.GetParam(3), 0.0);
}

TEST(OptiParameterSet, SetActiveParamsAdvancesPositionAndChecksLength) {
  Params3 set;
  set.SelectActiveParams("z y");
  const double values[4] = {9, 1, 2, 7};
  std::size_t position = 1;
  ASSERT_TRUE(set.SetActiveParams(position, values, 4));
  EXPECT_EQ(position, 3u);
  EXPECT_EQ(set.GetParam(2), 1.0);
  EXPECT_EQ(set.GetParam(1), 2.0);
  EXPECT_EQ(set.applied, 1);
  std::vector<double> active;
  set.GetActiveParams(active);
  EXPECT_EQ(active, (std::vector<double>{1, 2}));

  testing::internal::CaptureStderr();
  EXPECT_FALSE(set.SetActiveParams(position, values, 4));  // one value left, two needed
  EXPECT_FALSE(set.SetActiveParams(position, nullptr, 4));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("Error in OptiParameterSet::SetActiveParams: 'params' array too small."));
  EXPECT_THAT(err, HasSubstr("Error in OptiParameterSet::SetActiveParams: Null pointer exception"));
  EXPECT_EQ(set.applied, 1);
}

TEST(OptiTransformLinear, ComposedRunEqualsSequentialApplication) {
  std::mt19937 rng(7);
  std::normal_distribution<double> g(0.0, 1.0);
  Eigen::MatrixXd M1 = Eigen::MatrixXd::NullaryExpr(3, 3, [&] { return g(rng); });
  Eigen::MatrixXd M2 = Eigen::MatrixXd::NullaryExpr(2, 3, [&] { return g(rng); });
  Eigen::VectorXd b1 = Eigen::VectorXd::NullaryExpr(3, [&] { return g(rng); });
  Eigen::VectorXd b2 = Eigen::VectorXd::NullaryExpr(2, [&] { return g(rng); });
  Eigen::MatrixXd S = Eigen::MatrixXd::NullaryExpr(3, 5, [&] { return g(rng); });

  OptiErrorFunc func(S, Eigen::MatrixXd::Zero(2, 5));
  func.AddTransform(std::make_shared<OptiTransformLinear>(M1, b1));
  func.AddTransform(std::make_shared<OptiTransformLinear>(M2, b2));
  ASSERT_TRUE(func.Evaluate());
  const Eigen::MatrixXd expected = (M2 * ((M1 * S).colwise() + b1)).colwise() + b2;
  EXPECT_LT((func.GetDestination() - expected).norm(), 1e-12);
  EXPECT_NEAR(func.GetRMS(), std::sqrt(expected.squaredNorm() / 10.0), 1e-12);
  std::vector<double> errors{42.0};
  ASSERT_TRUE(func.GetErrors(errors));
  ASSERT_EQ(errors.size(), 11u);
  EXPECT_EQ(errors[0], 42.0);
  EXPECT_NEAR(errors[1 + 2], expected(0, 1), 1e-12);  // column by column
}

TEST(OptiTransformLinear, DimensionMismatchesAreReported) {
  OptiTransformLinear a(Eigen::MatrixXd::Identity(3, 3), Eigen::VectorXd::Zero(3));
  OptiTransformLinear b(Eigen::MatrixXd::Identity(2, 2), Eigen::VectorXd::Zero(2));
  OptiTransformLinear badB(Eigen::MatrixXd::Identity(3, 3), Eigen::VectorXd::Zero(2));
  OptiTransformLinear result;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(OptiTransformLinear::ComposeTransformation(result, a, b));
  EXPECT_FALSE(OptiTransformLinear::ComposeTransformation(result, OptiTransformLinear(), a));
  Eigen::MatrixXd D;
  EXPECT_FALSE(badB.Compute(D, Eigen::MatrixXd::Zero(3, 4)));
  OptiErrorFunc func(Eigen::MatrixXd::Zero(3, 4), Eigen::MatrixXd::Zero(2, 4));
  func.AddTransform(std::make_shared<OptiTransformLinear>(a.GetM(), a.GetB()));
  ASSERT_TRUE(func.Evaluate());
  std::vector<double> errors;
  EXPECT_FALSE(func.GetErrors(errors));
  EXPECT_FALSE(func.AddTransform(nullptr));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("ComposeTransformation: Matrix dimensions don't fit (3)."));
  EXPECT_THAT(err, HasSubstr("ComposeTransformation: Matrix dimensions don't fit (1)."));
  EXPECT_THAT(err, HasSubstr("Error in OptiTransformLinear::Compute: m_b.rows() != D.rows(),"));
  EXPECT_THAT(err, HasSubstr("Error in OptiErrorFunc::GetErrors: 'm_R' and 'm_D' are not of equal size."));
  EXPECT_THAT(err, HasSubstr("Error in OptiErrorFunc::AddTransform: Invalid pointer 'transform'."));
}

TEST(OptiTransformFrame, ZeroParametersKeepBaseAndDeltaFollowsConvention) {
  auto frame = std::make_shared<Frame<double>>(FTrans(1.0, 2.0, 3.0) * FRotY(0.3));
  const Frame<double> base = *frame;
  OptiTransformFrame t(frame);
  t.SelectActiveParams("tx ty tz rx ry rz");
  const double zero[6] = {0, 0, 0, 0, 0, 0};
  std::size_t pos = 0;
  ASSERT_TRUE(t.SetActiveParams(pos, zero, 6));
  EXPECT_EQ(*frame, base);

  const double p[6] = {0.5, -1.0, 2.0, 0.1, -0.2, 0.3};
  pos = 0;
  ASSERT_TRUE(t.SetActiveParams(pos, p, 6));
  const Frame<double> expected =
      base * FTrans(0.5, -1.0, 2.0) * FRotZ(0.3) * FRotY(-0.2) * FRotX(0.1);
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(frame->m[k], expected.m[k], 1e-14);
  Eigen::MatrixXd D;
  ASSERT_TRUE(t.Compute(D, Eigen::Vector3d(1, 1, 1)));
  const Vec3d q = expected.MultP(Vec3d(1, 1, 1));
  for (int r = 0; r < 3; ++r) EXPECT_NEAR(D(r, 0), q[r], 1e-14);
}

TEST(OptiMizerLM, FitsExponentialExactly) {
  Eigen::MatrixXd t(1, 12), y(1, 12);
  for (int i = 0; i < 12; ++i) {
    t(0, i) = 0.25 * i;
    y(0, i) = 2.5 * std::exp(-0.7 * t(0, i));
  }
  auto model = std::make_shared<ExpTransform>();
  model->SetParam(1.0, 0);
  model->SetParam(0.0, 1);
  model->SelectActiveParams("a b");
  auto func = std::make_shared<OptiErrorFunc>(t, y);
  func->AddTransform(model);
  OptiMizerLM lm;
  lm.AddParameterSet(model);
  lm.AddErrorFunc(func);
  ASSERT_TRUE(lm.Optimize());
  EXPECT_NEAR(model->GetParam(0), 2.5, 1e-8);
  EXPECT_NEAR(model->GetParam(1), -0.7, 1e-8);
  EXPECT_LT(func->GetRMS(), 1e-9);  // sets hold the final estimate, not the last trial
}

TEST(OptiMizerLM, LinearLeastSquaresMatchesNormalEquations) {
  // y = c0 + c1·t + c2·t² with noise: the minimum is the linear LSQ solution.
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 0.1);
  const int n = 40;
  Eigen::MatrixXd A(n, 3);
  Eigen::VectorXd y(n);
  for (int i = 0; i < n; ++i) {
    const double t = -1.0 + 2.0 * i / (n - 1);
    A.row(i) << 1.0, t, t * t;
    y(i) = 0.3 - 1.2 * t + 0.8 * t * t + noise(rng);
  }
  const Eigen::Vector3d expected = A.colPivHouseholderQr().solve(y);
  // One 3-row linear map applied to the basis (1, t, t²) per column.
  auto coeffs = std::make_shared<OptiTransformLinear>(Eigen::MatrixXd::Zero(1, 3), Eigen::VectorXd::Zero(1));
  class CoeffSet : public OptiParameterSet {
   public:
    explicit CoeffSet(std::shared_ptr<OptiTransformLinear> t) : m_t(std::move(t)) {
      for (const char* name : {"c0", "c1", "c2"}) AddParamNameIndexPair(name);
    }
    void ApplyParams() override {
      m_t->SetLinear(Eigen::Map<Eigen::MatrixXd>(m_params.data(), 1, 3), Eigen::VectorXd::Zero(1));
    }
    std::shared_ptr<OptiTransformLinear> m_t;
  };
  auto set = std::make_shared<CoeffSet>(coeffs);
  set->SelectActiveParams("c0 c1 c2");
  auto func = std::make_shared<OptiErrorFunc>(A.transpose(), y.transpose());
  func->AddTransform(coeffs);
  OptiMizerLM lm;
  lm.AddParameterSet(set);
  lm.AddErrorFunc(func);
  ASSERT_TRUE(lm.Optimize());
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(set->GetParam(k), expected(k), 1e-6);
  const double rmsAtMinimum = std::sqrt((A * expected - y).squaredNorm() / n);
  EXPECT_NEAR(func->GetRMS(), rmsAtMinimum, 1e-9);
}

TEST(OptiMizerLM, RecoversRigidPoseFromPointSets) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-100.0, 100.0);
  const Frame<double> truth = FTrans(10.0, -20.0, 30.0) * FRotZ(0.2) * FRotY(-0.1) * FRotX(0.15);
  Eigen::MatrixXd S(3, 10), R(3, 10);
  for (int i = 0; i < 10; ++i) {
    const Vec3d p(u(rng), u(rng), u(rng));
    const Vec3d q = truth.MultP(p);
    for (int r = 0; r < 3; ++r) S(r, i) = p[r], R(r, i) = q[r];
  }
  auto frame = std::make_shared<Frame<double>>();
  auto pose = std::make_shared<OptiTransformFrame>(frame);
  pose->SelectActiveParams("tx ty tz rx ry rz");
  auto func = std::make_shared<OptiErrorFunc>(S, R);
  func->AddTransform(pose);
  OptiMizerLM lm;
  lm.AddParameterSet(pose);
  lm.AddErrorFunc(func);
  ASSERT_TRUE(lm.Optimize());
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(frame->m[k], truth.m[k], 1e-7);
}

TEST(OptiMizerLM, NeedsMoreErrorsThanParameters) {
  auto set = std::make_shared<ExpTransform>();
  set->SelectActiveParams("a b");
  OptiMizerLM lm;
  lm.AddParameterSet(set);
  auto func = std::make_shared<OptiErrorFunc>(Eigen::MatrixXd::Zero(1, 2), Eigen::MatrixXd::Zero(1, 2));
  func->AddTransform(set);
  lm.AddErrorFunc(func);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(lm.Optimize());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("Error in OptiMizerLM::OnStartOptimize: Number of errors has to be greater than "
                             "number of parameters."));
  EXPECT_THAT(err, HasSubstr("Error in OptiMizer::Optimize: OnStartOptimize failed."));

  func->SetSource(Eigen::MatrixXd::Zero(1, 3));
  func->SetReference(Eigen::MatrixXd::Zero(1, 3));
  EXPECT_TRUE(lm.Optimize());

  set->SelectActiveParams("");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(lm.Optimize());
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("Number of parameters is zero."));

  testing::internal::CaptureStderr();
  EXPECT_FALSE(lm.AddErrorFunc(nullptr));
  EXPECT_FALSE(lm.AddParameterSet(nullptr));
  err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("Error in OptiMizer::AddErrorFunc: Invalid pointer 'optiErrorFunc'"));
  EXPECT_THAT(err, HasSubstr("Error in OptiMizer::AddParameterSet: Invalid pointer 'optiParameterSet'"));
}

TEST(OptiMizerLM, FailingErrorFunctionStopsPreparation) {
  auto set = std::make_shared<ExpTransform>();
  set->SelectActiveParams("a");
  OptiMizerLM lm;
  lm.AddParameterSet(set);
  lm.AddErrorFunc(std::make_shared<OptiErrorFunc>(Eigen::MatrixXd::Zero(1, 4), Eigen::MatrixXd::Zero(2, 4)));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(lm.Optimize());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("Error in OptiMizer::ComputeErrors: Can not progress with error computation.\n"
                             "Error in OptiMizer::PrepareOptimization: Call to GetErrors failed.\n"
                             "Error in OptiMizer::Optimize: Prepare optimization failed.\n"));
}

TEST(OptiMizerLM, ProgressCallbackCancels) {
  Eigen::MatrixXd t(1, 12), y(1, 12);
  for (int i = 0; i < 12; ++i) t(0, i) = 0.25 * i, y(0, i) = 2.5 * std::exp(-0.7 * t(0, i));
  auto model = std::make_shared<ExpTransform>();
  model->SetParam(1.0, 0);
  model->SelectActiveParams("a b");
  auto func = std::make_shared<OptiErrorFunc>(t, y);
  func->AddTransform(model);
  OptiMizerLM lm;
  lm.AddParameterSet(model);
  lm.AddErrorFunc(func);
  int calls = 0;
  lm.SetProgressCallback([&](double fraction) {
    EXPECT_GE(fraction, 0.0);
    EXPECT_LE(fraction, 1.0);
    return ++calls == 5;
  });
  testing::internal::CaptureStderr();
  EXPECT_TRUE(lm.Optimize());
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(lm.WasCancelled());
  EXPECT_EQ(calls, 5);
  EXPECT_GT(std::abs(model->GetParam(0) - 2.5), 1e-3);  // stopped early
}

}  // namespace
}  // namespace math
