#include "scan/SLGrayCodePhaseCombiner.h"

#include <cstdint>
#include <stdexcept>

#include "scan/WorkerRanges.h"

namespace scan {
namespace {

// ⌊v⌋ for |v| < 2³¹ through a truncating conversion, which vectorises where
// the floor instruction needs a newer instruction set.
inline double Floor(double v) {
  const double t = static_cast<double>(static_cast<std::int32_t>(v));
  return t > v ? t - 1.0 : t;
}

}  // namespace

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
                 const img::int32* __restrict c = codes;
                 const float* __restrict p = phases;
                 float* __restrict r = out;
                 for (std::size_t j = begin; j < end; ++j) {
                   const double phi = p[j];
                   const double k = Floor(c[j] * 0.5 + 0.75 - phi);
                   r[j] = static_cast<float>((k + phi) * scale);
                 }
               });
  m_result = std::move(result);
}

}  // namespace scan
