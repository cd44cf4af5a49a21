#pragma once

#include <cstdint>
#include <vector>

#include "CamCalib/Messages.h"
#include "CamCalib/Parameters.h"
#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"

namespace CamCalib {

// Edge curves of a grey image with sub-pixel points (pixel centres at
// integer coordinates). The image is smoothed (an optional Gaussian, then
// the binomial kernel (1 2 1; 2 4 2; 1 2 1)/16 for the given number of
// passes), its gradient taken by central differences; edge points are the
// pixels whose gradient magnitude exceeds the threshold and is a maximum
// across the edge, moved to the peak of a parabola through the magnitudes
// across it; neighbouring edge points whose gradients agree within 45° are
// linked along the edge into curves, and curves shorter than the minimum
// length are dropped.
//
// The smoothed image's gradient stays available for the ellipse fit.
class CurveExtractor {
 public:
  using Curve = std::vector<math::Vec2d>;
  enum State { STATE_NONE = 0, STATE_INIT = 1 };

  void SetMessages(Messages* messages) { m_messages = messages; }

  // Takes the image size and the curve values of the parameters. Fails with
  // "Invalid width or height." for a non-positive size.
  bool Init(const Parameters& parameters);
  // Fails with "Minimum required state: STATE_INIT" before Init and with
  // "Source image has invalid size." for an empty image or one larger than
  // the size given to Init.
  bool Process(const img::UniImage<std::uint8_t>& image);

  int GetState() const { return m_state; }
  const std::vector<Curve>& GetCurves() const { return m_curves; }
  // Gradient of the smoothed image (grey levels per pixel), of the last
  // processed image's size.
  const img::FloatImage& GetGradientX() const { return m_gx; }
  const img::FloatImage& GetGradientY() const { return m_gy; }

 private:
  void Smooth(const img::UniImage<std::uint8_t>& image);
  void Gradient();
  void FindEdgePoints();
  void LinkCurves();

  Messages* m_messages = nullptr;
  int m_state = STATE_NONE;
  int m_width = 0, m_height = 0;
  double m_presmoothSigma = 0.0;
  int m_passes = 2;
  double m_threshold = 0.9;
  int m_minLength = 10;

  img::FloatImage m_smooth, m_work, m_gx, m_gy, m_magnitude;
  img::UniImage<std::int32_t> m_edgeIndex;  // per pixel: edge point index or −1
  struct EdgePoint {
    math::Vec2d point;   // sub-pixel
    math::Vec2d normal;  // unit gradient direction
    std::uint32_t x = 0, y = 0;
  };
  std::vector<EdgePoint> m_edges;
  std::vector<Curve> m_curves;
};

}  // namespace CamCalib
