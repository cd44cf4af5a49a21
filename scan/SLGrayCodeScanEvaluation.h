#pragma once

#include <cstdint>
#include <memory>

#include "foundation/img/UniImage.h"
#include "scan/SLScannedImagesStore.h"

namespace scan {

// Turns per-pixel digits of an n-ary reflected (modular) Gray code into the
// binary index of the half-period stripe a camera pixel sees. Subclasses
// fetch frames (Prepare) and read one digit per level (DigitAt); the driver
// runs one worker per hardware thread over disjoint column ranges.
//
// Digit recurrence, level 0 the most significant: code = code·base +
// ((digit + code) mod base), in unsigned 32-bit arithmetic.
class SLGrayCodeScanEvaluation {
 public:
  // Per-worker scratch data of a subclass; each worker owns one.
  class ThreadLocalStorage {
   public:
    virtual ~ThreadLocalStorage() = default;
  };

  virtual ~SLGrayCodeScanEvaluation() = default;
  SLGrayCodeScanEvaluation(const SLGrayCodeScanEvaluation&) = delete;
  SLGrayCodeScanEvaluation& operator=(const SLGrayCodeScanEvaluation&) = delete;

  // Prepare, then decode every pixel into the code image. No frames gives a
  // 0 × 0 code image; an incomplete frame set (IsComplete false) gives none.
  virtual void Evaluate(const SLScannedImagesStore& store);
  virtual void Prepare(const SLScannedImagesStore& store) = 0;
  virtual std::unique_ptr<ThreadLocalStorage> CreateThreadLocalStorage() const;
  virtual void PreparePixel(std::uint32_t x, std::uint32_t y, ThreadLocalStorage& storage) const {}
  virtual std::uint32_t DigitAt(std::uint32_t x, std::uint32_t y, std::uint32_t level,
                                ThreadLocalStorage& storage) const = 0;
  virtual void Finish() {}
  virtual std::uint32_t Width() const = 0;
  virtual std::uint32_t Height() const = 0;

  // After Prepare: true when the fetched frames hold all levelCount digits of
  // every pixel of Width() × Height(), so that DigitAt never reads past them.
  virtual bool IsComplete() const = 0;

  // Decodes the columns [x0, x1) of every row into code. The base version
  // calls PreparePixel and DigitAt per pixel; subclasses override it with a
  // loop that reads their frames directly (one virtual call per worker, not
  // per digit). A subclass that changes DigitAt must override this as well.
  virtual void DecodeColumns(std::uint32_t x0, std::uint32_t x1, img::UniImage<img::int32>& code) const;

  // Null before Evaluate and after an incomplete one.
  img::UniImagePtr<img::int32> GetCodeImage() const { return m_codeImage; }
  std::uint32_t Base() const { return m_base; }
  std::uint32_t LevelCount() const { return m_levelCount; }
  // 0 (the default) starts one worker per hardware thread.
  void SetWorkerCount(unsigned count) { m_workerCount = count; }
  unsigned WorkerCount() const;

 protected:
  SLGrayCodeScanEvaluation(std::uint32_t base, std::uint32_t levelCount) : m_base(base), m_levelCount(levelCount) {}

  std::uint32_t m_base;
  std::uint32_t m_levelCount;
  img::UniImagePtr<img::int32> m_codeImage;
  unsigned m_workerCount = 0;
};

using SLGrayCodeScanEvaluationPtr = std::shared_ptr<SLGrayCodeScanEvaluation>;

}  // namespace scan
