#pragma once

#include "foundation/math/Homography.h"
#include "foundation/math/Vec.h"

namespace img {

// An ellipse in an image (pixels, radians): centre (cx, cy), semi-axis rx
// along its own x direction and ry along its own y direction, its x
// direction turned by theta from the image x axis towards the image y axis.
// The point at parameter t is c + R(theta)·(rx·cos t, ry·sin t). Pixel
// centres lie at integer coordinates.
struct Ellipse {
  double cx = 0.0;
  double cy = 0.0;
  double rx = 0.0;
  double ry = 0.0;
  double theta = 0.0;

  math::Vec2d Centre() const { return {cx, cy}; }
  math::Vec2d PointAt(double t) const;
  // The outward unit normal at parameter t.
  math::Vec2d NormalAt(double t) const;
  double MinorAxis() const { return rx < ry ? rx : ry; }
  double MajorAxis() const { return rx < ry ? ry : rx; }
};

// The conic matrix C of the ellipse (xᵀ·C·x = 0 for the homogeneous points
// x on it), scaled so that xᵀ·C·x = u² + v² − 1 for the point
// c + R(theta)·(rx·u, ry·v): −1 at the centre, negative inside.
math::Mat33d ToConic(const Ellipse& e);

// The ellipse of a conic matrix (any scale or sign); false when the conic
// is no real ellipse (a hyperbola, parabola, point or empty set).
bool FromConic(const math::Mat33d& conic, Ellipse& e);

// The conic seen through a homography that maps plane A to plane B, given
// the conic in plane B: C_A = Hᵀ·C_B·H.
math::Mat33d PullBackConic(const math::Mat33d& conicB, const math::Mat33d& aToB);

// The image of a circle's true centre, given the circle's image conic and
// the image of the plane's line at infinity (the vanishing line l, as a
// homogeneous line): the pole of l with respect to the conic, C⁻¹·l. False
// when the conic is singular or the pole lies at infinity.
bool ProjectedCircleCentre(const math::Mat33d& conic, const math::Vec<3, double>& vanishingLine,
                           math::Vec2d& centre);

// The vanishing line (image of the line at infinity) of a plane-to-image
// homography: H⁻ᵀ·(0, 0, 1). False for a singular homography.
bool VanishingLine(const math::Mat33d& planeToImage, math::Vec<3, double>& line);

}  // namespace img
