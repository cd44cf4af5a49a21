#include "scan/SLGrayCodePhaseCombiner.h"

#include <stdexcept>

#include "scan/DecodeKernels.h"
#include "scan/WorkerRanges.h"

namespace scan {

SLGrayCodePhaseCombiner::SLGrayCodePhaseCombiner(SLGrayCodeScanEvaluationPtr codeEvaluation,
                                                 SLPhaseShiftScanEvaluationPtr phaseEvaluation)
    : m_codeEvaluation(std::move(codeEvaluation)), m_phaseEvaluation(std::move(phaseEvaluation)) {
  if (!m_codeEvaluation || !m_phaseEvaluation) {
    throw std::invalid_argument("SLGrayCodePhaseCombiner::SLGrayCodePhaseCombiner - evaluation is nullptr.");
  }
}

void SLGrayCodePhaseCombiner::Evaluate() {
  m_result.reset();
  const auto code = m_codeEvaluation->GetCodeImage();
  const auto phase = m_phaseEvaluation->GetPhaseImage();
  if (!code || !phase || code->size != phase->size) return;
  const auto& sequence = *m_phaseEvaluation->Sequence();
  const double scale = sequence.Period() / double(sequence.Extent());
  auto result = std::make_shared<img::UniImage<float>>(code->width, code->height);
  const img::int32* codes = code->data;
  const float* phases = phase->data;
  float* out = result->data;
  RunOnWorkers(std::size_t(code->size), m_workerCount == 0 ? HardwareWorkerCount() : m_workerCount,
               [codes, phases, out, scale](std::size_t begin, std::size_t end) {
                 kernels::CombineCodeAndPhase(codes + begin, phases + begin, scale, end - begin, out + begin);
               });
  m_result = std::move(result);
}

}  // namespace scan
