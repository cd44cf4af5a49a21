#include "scan/SLPhaseShiftScanEvaluation.h"

#include <stdexcept>
#include <vector>

#include "scan/DecodeKernels.h"
#include "scan/WorkerRanges.h"

namespace scan {

SLPhaseShiftScanEvaluation::SLPhaseShiftScanEvaluation(std::shared_ptr<SLPhaseShiftPatternSequence> sequence)
    : m_sequence(std::move(sequence)) {
  if (!m_sequence) {
    throw std::invalid_argument("SLPhaseShiftScanEvaluation::SLPhaseShiftScanEvaluation - sequence is nullptr.");
  }
}

void SLPhaseShiftScanEvaluation::Evaluate(const SLScannedImagesStore& store) {
  m_phaseImage.reset();
  m_amplitudeImage.reset();
  m_meanImage.reset();
  const auto frames = store.GrayImagesOf(*m_sequence);
  const std::size_t n = frames.size();
  if (n < 3) return;
  const std::uint32_t w = frames.front()->width;
  const std::uint32_t h = frames.front()->height;
  std::vector<const img::uint8*> pixels;
  for (const auto& frame : frames) {
    if (!frame->SameSize(w, h)) return;
    pixels.push_back(frame->data);
  }
  auto phase = std::make_shared<img::UniImage<float>>(w, h);
  auto amplitude = std::make_shared<img::UniImage<float>>(w, h);
  auto mean = std::make_shared<img::UniImage<float>>(w, h);

  std::vector<double> sines;
  std::vector<double> cosines;
  kernels::ShiftTables(n, cosines, sines);
  RunOnWorkers(std::size_t(w) * h, m_workerCount == 0 ? HardwareWorkerCount() : m_workerCount,
               [&](std::size_t begin, std::size_t end) {
                 kernels::PhaseShift(pixels.data(), n, cosines.data(), sines.data(), begin, end - begin,
                                     phase->data + begin, amplitude->data + begin, mean->data + begin);
               });
  m_phaseImage = std::move(phase);
  m_amplitudeImage = std::move(amplitude);
  m_meanImage = std::move(mean);
}

}  // namespace scan
