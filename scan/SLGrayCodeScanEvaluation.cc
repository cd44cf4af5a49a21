#include "scan/SLGrayCodeScanEvaluation.h"

#include "scan/WorkerRanges.h"

namespace scan {

std::unique_ptr<SLGrayCodeScanEvaluation::ThreadLocalStorage> SLGrayCodeScanEvaluation::CreateThreadLocalStorage()
    const {
  return std::make_unique<ThreadLocalStorage>();
}

unsigned SLGrayCodeScanEvaluation::WorkerCount() const {
  return m_workerCount == 0 ? HardwareWorkerCount() : m_workerCount;
}

void SLGrayCodeScanEvaluation::Evaluate(const SLScannedImagesStore& store) {
  m_codeImage.reset();
  Prepare(store);
  const std::uint32_t w = Width();
  const std::uint32_t h = Height();
  if (w == 0 || h == 0) {
    m_codeImage = std::make_shared<img::UniImage<img::int32>>(0, 0);
    return;
  }
  if (!IsComplete()) return;
  auto code = std::make_shared<img::UniImage<img::int32>>(w, h);
  RunOnWorkers(w, WorkerCount(), [&](std::size_t x0, std::size_t x1) {
    DecodeColumns(static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(x1), *code);
  });
  m_codeImage = std::move(code);
  Finish();
}

void SLGrayCodeScanEvaluation::DecodeColumns(std::uint32_t x0, std::uint32_t x1,
                                             img::UniImage<img::int32>& code) const {
  std::unique_ptr<ThreadLocalStorage> storage = CreateThreadLocalStorage();
  for (std::uint32_t x = x0; x < x1; ++x) {
    for (std::uint32_t y = 0; y < code.height; ++y) {
      PreparePixel(x, y, *storage);
      std::uint32_t value = 0;
      for (std::uint32_t level = 0; level < m_levelCount; ++level) {
        const std::uint32_t digit = DigitAt(x, y, level, *storage);
        value = value * m_base + (digit + value) % m_base;
      }
      code(x, y) = static_cast<img::int32>(value);
    }
  }
}

}  // namespace scan
