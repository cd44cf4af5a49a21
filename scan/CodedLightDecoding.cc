#include "scan/CodedLightDecoding.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <stdexcept>
#include <string>

#include "scan/DecodeKernels.h"
#include "scan/QualityWindow.h"
#include "scan/WorkerRanges.h"

namespace scan {
namespace {

constexpr std::uint32_t kRadius = 2;  // rows above and below a quality pixel
constexpr std::uint32_t kWindow = 2 * kRadius + 1;

// Rows per band: about 8 bands per worker, so that a worker slowed down by
// other processes gets fewer bands, and at least 32 rows, so that the
// 2 · kRadius extra amplitude rows of a band stay a small share of it.
std::uint32_t BandRows(std::uint32_t height, unsigned workers) {
  const std::uint32_t bands = 8 * std::max(1u, workers);
  return std::max<std::uint32_t>(32, (height + bands - 1) / bands);
}

}  // namespace

// Row buffers of one worker: per orientation the phase, mean and code of the
// row being decoded and the amplitudes of the last kWindow rows.
struct CodedLightDecoding::Worker {
  Worker(std::size_t orientations, std::uint32_t width, std::uint32_t height)
      : phase(width),
        mean(width),
        code(width),
        amplitude(orientations * kWindow * std::size_t(width)),
        values(orientations),
        window(orientations, width, height),
        width(width) {}

  // A band starts from rows that read as NaN, so that its result never
  // depends on the band the worker decoded before.
  void Clear() {
    std::fill(amplitude.begin(), amplitude.end(), std::numeric_limits<float>::quiet_NaN());
    window.Clear();
  }

  float* Amplitude(std::size_t orientation, std::uint32_t y) {
    return amplitude.data() + (orientation * kWindow + y % kWindow) * std::size_t(width);
  }

  std::vector<float> phase;
  std::vector<float> mean;
  std::vector<img::int32> code;
  std::vector<float> amplitude;
  std::vector<const float*> values;
  QualityWindow window;
  std::uint32_t width;
};

CodedLightDecoding::CodedLightDecoding(std::vector<CodedLightOrientationFrames> orientations, float minContrast)
    : m_orientations(std::move(orientations)), m_minContrast(minContrast) {
  auto fail = [](const char* what) {
    throw std::invalid_argument(std::string("CodedLightDecoding::CodedLightDecoding - ") + what);
  };
  if (m_orientations.empty()) fail("no orientation.");
  if (m_orientations.front().phase.empty() || !m_orientations.front().phase.front()) fail("no phase frame.");
  m_width = m_orientations.front().phase.front()->width;
  m_height = m_orientations.front().phase.front()->height;
  if (m_width == 0 || m_height == 0) fail("empty frames.");
  auto pointers = [&](const std::vector<SLScannedImagesStore::GrayPtr>& frames) {
    std::vector<const img::uint8*> data;
    for (const auto& frame : frames) {
      if (!frame || !frame->SameSize(m_width, m_height)) fail("frames differ in size.");
      data.push_back(frame->data);
    }
    return data;
  };
  for (const auto& o : m_orientations) {
    if (o.phase.size() < 3) fail("fewer than 3 phase frames.");
    if (!o.inverse.empty() && o.inverse.size() != o.gray.size()) fail("inverse frames do not match the levels.");
    m_phase.push_back(pointers(o.phase));
    m_gray.push_back(pointers(o.gray));
    m_inverse.push_back(pointers(o.inverse));
    m_cosines.emplace_back();
    m_sines.emplace_back();
    kernels::ShiftTables(o.phase.size(), m_cosines.back(), m_sines.back());
  }
}

void CodedLightDecoding::Evaluate(unsigned workerCount) {
  m_correspondences.clear();
  m_quality.reset();
  std::vector<img::UniImagePtr<float>> correspondences;
  for (std::size_t o = 0; o < m_orientations.size(); ++o) {
    correspondences.push_back(std::make_shared<img::UniImage<float>>(m_width, m_height));
  }
  m_correspondences = correspondences;
  m_quality = std::make_shared<img::UniImage<float>>(m_width, m_height);

  const unsigned workers = workerCount == 0 ? HardwareWorkerCount() : workerCount;
  const std::uint32_t bandRows = BandRows(m_height, workers);
  const std::uint32_t bandCount = (m_height + bandRows - 1) / bandRows;
  std::atomic<std::uint32_t> nextBand{0};
  RunOnWorkers(workers, workers, [&](std::size_t, std::size_t) {
    Worker worker(m_orientations.size(), m_width, m_height);
    for (std::uint32_t band = nextBand++; band < bandCount; band = nextBand++) {
      DecodeBand(worker, band * bandRows, std::min(m_height, (band + 1) * bandRows));
    }
  });
}

void CodedLightDecoding::DecodeBand(Worker& worker, std::uint32_t r0, std::uint32_t r1) const {
  worker.Clear();
  std::uint32_t decoded = r0 >= kRadius ? r0 - kRadius : 0;  // next row to decode
  for (std::uint32_t y = r0; y < r1; ++y) {
    for (const std::uint32_t last = std::min(m_height - 1, y + kRadius); decoded <= last; ++decoded) {
      DecodeRow(worker, decoded, decoded >= r0 && decoded < r1);
    }
    for (std::size_t o = 0; o < m_orientations.size(); ++o) worker.values[o] = worker.Amplitude(o, y);
    worker.window.ScoreRow(y, worker.values.data(), m_minContrast, m_quality->Row(y));
  }
}

void CodedLightDecoding::DecodeRow(Worker& worker, std::uint32_t y, bool correspondences) const {
  const std::size_t offset = std::size_t(y) * m_width;
  for (std::size_t o = 0; o < m_orientations.size(); ++o) {
    const bool againstMean = m_inverse[o].empty();
    float* amplitude = worker.Amplitude(o, y);
    // Rows outside the band only need their amplitudes.
    kernels::PhaseShift(m_phase[o].data(), m_phase[o].size(), m_cosines[o].data(), m_sines[o].data(), offset,
                        m_width, correspondences ? worker.phase.data() : nullptr, amplitude,
                        correspondences && againstMean ? worker.mean.data() : nullptr);
    worker.window.AddRow(o, y, amplitude);
    if (!correspondences) continue;
    if (againstMean) {
      kernels::GrayCodeAgainstThreshold(m_gray[o].data(), m_gray[o].size(), offset, worker.mean.data(), m_width,
                                        worker.code.data());
    } else {
      kernels::GrayCodeAgainstInverse(m_gray[o].data(), m_inverse[o].data(), m_gray[o].size(), offset, m_width,
                                      worker.code.data());
    }
    kernels::CombineCodeAndPhase(worker.code.data(), worker.phase.data(), m_orientations[o].scale, m_width,
                                 m_correspondences[o]->Row(y));
  }
}

}  // namespace scan
