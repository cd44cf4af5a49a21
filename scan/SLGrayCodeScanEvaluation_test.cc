#include <gtest/gtest.h>

#include <random>

#include "scan/SLCodedLightScanEvaluation.h"
#include "scan/WorkerRanges.h"

namespace scan {
namespace {

img::UniImagePtr<img::uint8> Frame(std::uint32_t w, std::uint32_t h, std::uint8_t value) {
  auto image = std::make_shared<img::UniImage<img::uint8>>(w, h);
  *image = value;
  return image;
}

// 3 levels: extent 32, period 8.
struct ThreeLevels {
  SLPatternSequencePtr gray = MakeGrayCodeSequence(true, 32, 1, false, 8);
  SLPatternSequencePtr inverse = MakeGrayCodeSequence(true, 32, 1, true, 8);
  SLScannedImagesStore store;
};

TEST(WorkerRanges, LastWorkerTakesTheRest) {
  using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
  EXPECT_EQ(SplitRange(10, 3), (Ranges{{0, 3}, {3, 6}, {6, 10}}));
  EXPECT_EQ(SplitRange(2, 4), (Ranges{{0, 0}, {0, 0}, {0, 0}, {0, 2}}));
  EXPECT_EQ(SplitRange(5, 0), (Ranges{{0, 5}}));
  EXPECT_THROW(RunOnWorkers(4, 2, [](std::size_t b, std::size_t) {
                 if (b == 0) throw std::runtime_error("worker");
               }),
               std::runtime_error);
}

TEST(SLCodedLightScanEvaluation, BitsOneOneZeroGiveCodeFour) {
  ThreeLevels t;
  const std::uint8_t gray[3] = {200, 180, 30};
  for (int level = 0; level < 3; ++level) {
    t.store.AddGrayImage(t.gray->Patterns()[level], Frame(3, 2, gray[level]));
    t.store.AddGrayImage(t.inverse->Patterns()[level], Frame(3, 2, 100));
  }
  SLCodedLightScanEvaluation evaluation(t.gray, t.inverse);
  evaluation.SetWorkerCount(8);  // more workers than columns
  evaluation.Evaluate(t.store);
  const auto code = evaluation.GetCodeImage();
  ASSERT_TRUE(code);
  ASSERT_EQ(code->width, 3u);
  for (std::int32_t j = 0; j < code->size; ++j) EXPECT_EQ(code->data[j], 4);
}

TEST(SLCodedLightScanEvaluation, EqualValuesReadZero) {
  ThreeLevels t;
  for (int level = 0; level < 3; ++level) {
    t.store.AddGrayImage(t.gray->Patterns()[level], Frame(2, 2, level == 1 ? 120 : 100));
    t.store.AddGrayImage(t.inverse->Patterns()[level], Frame(2, 2, 100));
  }
  SLCodedLightScanEvaluation evaluation(t.gray, t.inverse);
  evaluation.Evaluate(t.store);
  EXPECT_EQ(evaluation.GetCodeImage()->data[0], 3);  // bits 0, 1, 0 → binary 011

  // Against a mean of exactly 120: 120 is not above it.
  SLPatternSequencePtr phase = std::make_shared<SLPhaseShiftPatternSequence>(true, 32, 1, 8.0, 2);
  t.store.AddGrayImage(phase->Patterns()[0], Frame(2, 2, 100));
  t.store.AddGrayImage(phase->Patterns()[1], Frame(2, 2, 140));
  auto mean = std::make_shared<SLAverageBrightnessEvaluation>(phase);
  mean->Evaluate(t.store);
  EXPECT_FLOAT_EQ(mean->GetMeanImage()->data[0], 120.0f);
  SLCodedLightScanEvaluation thresholded(t.gray, mean);
  thresholded.Evaluate(t.store);
  EXPECT_EQ(thresholded.GetCodeImage()->data[0], 0);
}

TEST(SLCodedLightScanEvaluation, MissingFramesGiveNoCodeImage) {
  ThreeLevels t;
  SLCodedLightScanEvaluation none(t.gray, t.inverse);
  none.Evaluate(t.store);
  ASSERT_TRUE(none.GetCodeImage());
  EXPECT_TRUE(none.GetCodeImage()->IsEmpty());  // no Gray frame at all: 0 × 0

  for (int level = 0; level < 3; ++level) t.store.AddGrayImage(t.gray->Patterns()[level], Frame(4, 4, 0));
  t.store.AddGrayImage(t.inverse->Patterns()[0], Frame(4, 4, 0));
  SLCodedLightScanEvaluation partial(t.gray, t.inverse);
  partial.Evaluate(t.store);
  EXPECT_FALSE(partial.GetCodeImage());

  t.store.AddGrayImage(t.inverse->Patterns()[1], Frame(4, 4, 0));
  t.store.AddGrayImage(t.inverse->Patterns()[2], Frame(4, 3, 0));  // wrong size
  SLCodedLightScanEvaluation mismatched(t.gray, t.inverse);
  mismatched.Evaluate(t.store);
  EXPECT_FALSE(mismatched.GetCodeImage());

  // A threshold source that never found frames.
  SLPatternSequencePtr phase = std::make_shared<SLPhaseShiftPatternSequence>(true, 32, 1, 8.0, 3);
  auto mean = std::make_shared<SLAverageBrightnessEvaluation>(phase);
  EXPECT_THROW(mean->Evaluate(t.store), std::out_of_range);
  SLCodedLightScanEvaluation unthresholded(t.gray, mean);
  unthresholded.Evaluate(t.store);
  EXPECT_FALSE(unthresholded.GetCodeImage());
}

TEST(SLCodedLightScanEvaluation, FastLoopMatchesTheDigitFramework) {
  const auto gray = MakeGrayCodeSequence(true, 1024, 1, false, 16);
  const auto inverse = MakeGrayCodeSequence(true, 1024, 1, true, 16);
  SLPatternSequencePtr phase = std::make_shared<SLPhaseShiftPatternSequence>(true, 1024, 1, 16.0, 3);
  SLScannedImagesStore store;
  std::mt19937 random(11);
  auto noise = [&] {
    auto image = std::make_shared<img::UniImage<img::uint8>>(37, 5);
    for (std::int32_t j = 0; j < image->size; ++j) image->data[j] = std::uint8_t(random() % 256);
    return image;
  };
  for (const auto& sequence : {gray, inverse, phase}) {
    for (const auto& pattern : sequence->Patterns()) store.AddGrayImage(pattern, noise());
  }
  auto mean = std::make_shared<SLAverageBrightnessEvaluation>(phase);
  mean->Evaluate(store);
  SLCodedLightScanEvaluation withInverse(gray, inverse);
  SLCodedLightScanEvaluation withMean(gray, mean);
  for (SLCodedLightScanEvaluation* evaluation : {&withInverse, &withMean}) {
    evaluation->Evaluate(store);
    img::UniImage<img::int32> generic(37, 5);
    evaluation->SLGrayCodeScanEvaluation::DecodeColumns(0, 37, generic);
    const auto fast = evaluation->GetCodeImage();
    for (std::int32_t j = 0; j < generic.size; ++j) ASSERT_EQ(fast->data[j], generic.data[j]) << j;
  }
}

// Digits of a base-3 modular Gray code read from a table, through the
// framework's generic per-pixel path.
class TableDigits : public SLGrayCodeScanEvaluation {
 public:
  TableDigits() : SLGrayCodeScanEvaluation(3, 4) {}
  void Prepare(const SLScannedImagesStore&) override {}
  std::uint32_t DigitAt(std::uint32_t x, std::uint32_t y, std::uint32_t level, ThreadLocalStorage&) const override {
    // n = x + 27·y; its base-3 digit b_level (most significant first) and the one above.
    const std::uint32_t n = x + 27 * y;
    auto digit = [&](int l) { return l < 0 ? 0u : (n / Power(3 - l)) % 3; };
    return (digit(int(level)) + 3 - digit(int(level) - 1)) % 3;
  }
  std::uint32_t Width() const override { return 27; }
  std::uint32_t Height() const override { return 3; }
  bool IsComplete() const override { return true; }

 private:
  static std::uint32_t Power(int e) { return e == 0 ? 1 : 3 * Power(e - 1); }
};

TEST(SLGrayCodeScanEvaluation, ModularDigitsDecodeToTheIndex) {
  TableDigits digits;
  digits.SetWorkerCount(4);
  digits.Evaluate(SLScannedImagesStore{});
  const auto code = digits.GetCodeImage();
  ASSERT_TRUE(code);
  for (std::uint32_t y = 0; y < 3; ++y) {
    for (std::uint32_t x = 0; x < 27; ++x) EXPECT_EQ((*code)(x, y), int(x + 27 * y));
  }
}

}  // namespace
}  // namespace scan
