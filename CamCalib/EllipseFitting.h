#pragma once

#include <vector>

#include "CamCalib/CurveExtractor.h"
#include "CamCalib/Messages.h"
#include "CamCalib/Parameters.h"
#include "foundation/img/Ellipse.h"

namespace CamCalib {

// Ellipses of the edge curves, scored and sorted by polarity.
//
// Each curve with enough points gets a direct least-squares ellipse fit
// (Halir and Flusser's stable form of Fitzgibbon's method). A fit of
// plausible size is then refined on the image gradient around it: every
// pixel within a narrow band of the ellipse whose gradient has the
// ellipse's polarity contributes the line through it across its gradient,
// and the dual conic tangent to these lines is fitted by least squares
// (Ouellet and Hébert, "Precise ellipse estimation without contour point
// extraction", 2009) — twice, the band following the refined ellipse. This
// uses every edge pixel, not only the curve's points, and is what makes the
// centres accurate to a few hundredths of a pixel.
//
// The edge-support score is the mean over points spread along the ellipse
// of the gradient's component along the outward normal divided by the
// gradient's length (points with a gradient below the edge threshold, or
// outside the image, count 0): +1 for a dark mark on a light ground ("normal"
// contrast) seen all round, −1 for a light mark on a dark ground
// ("negative"). Fragments of one edge give the same refined ellipse; only
// the best scored copy is kept.
class EllipseFitting {
 public:
  void SetMessages(Messages* messages) { m_messages = messages; }
  void Init(const Parameters& parameters) { m_p = parameters; }

  // Fits, scores and selects: negative ellipses from the most negative
  // score while it is ≤ −minScore (at most maxNegativeEllipses), normal ones
  // from the most positive while ≥ minScore (at most maxNormalEllipses).
  // Fails with "Not enough ellipses." when fewer than the minimum numbers of
  // either kind were taken; what was taken is kept all the same.
  bool Process(const std::vector<CurveExtractor::Curve>& curves, const img::FloatImage& gradientX,
               const img::FloatImage& gradientY);
  // Forgets the last result.
  void Clear();

  // The taken ellipses: normal ones first (best score first), then the
  // negative ones (most negative first).
  const std::vector<img::Ellipse>& GetEllipses() const { return m_ellipses; }
  // Set for normal contrast, clear for negative.
  const std::vector<bool>& GetPolarities() const { return m_polarities; }
  const std::vector<double>& GetScores() const { return m_scores; }
  int GetNormalCount() const { return m_normalCount; }
  int GetNegativeCount() const { return int(m_ellipses.size()) - m_normalCount; }

  // The direct least-squares ellipse of points (at least 5); false when they
  // fit no ellipse.
  static bool FitDirect(const std::vector<math::Vec2d>& points, img::Ellipse& ellipse);

 private:
  struct Candidate {
    img::Ellipse ellipse;
    double score = 0.0;
  };
  bool Plausible(const img::Ellipse& e) const;
  bool Refine(img::Ellipse& e, double polarity, const img::FloatImage& gx,
              const img::FloatImage& gy) const;
  double Score(const img::Ellipse& e, const img::FloatImage& gx, const img::FloatImage& gy) const;

  Messages* m_messages = nullptr;
  Parameters m_p;
  std::vector<img::Ellipse> m_ellipses;
  std::vector<bool> m_polarities;
  std::vector<double> m_scores;
  int m_normalCount = 0;
};

}  // namespace CamCalib
