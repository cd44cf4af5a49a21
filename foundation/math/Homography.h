#pragma once

#include <span>

#include "foundation/math/Mat.h"
#include "foundation/math/Vec.h"

namespace math {

// A plane-to-plane projective map: q ~ H·(p, 1). Used for grid nodes to
// image points (pixels) and back.
using Mat33d = Mat<3, 3, double>;

Mat33d Identity33();
double Determinant(const Mat33d& m);
// False (m left unchanged in inverse) for a singular or non-finite matrix.
bool Invert(const Mat33d& m, Mat33d& inverse);
Mat33d Transpose(const Mat33d& m);

// H·(p, 1) dehomogenised; false when the point maps to infinity.
bool ApplyHomography(const Mat33d& h, const Vec2d& p, Vec2d& q);

// The homography that maps from[i] to to[i] for four point pairs exactly;
// false when three of the points of either side are collinear. Scaled so
// that h(2, 2) = 1 where possible.
bool HomographyFromFourPoints(const Vec2d from[4], const Vec2d to[4], Mat33d& h);

// The least-squares homography of n ≥ 4 point pairs (normalised direct
// linear transform: both point sets are moved to their centroid and scaled
// to a mean distance of √2 first). False for fewer than 4 pairs, sets of
// different sizes or degenerate configurations.
bool FitHomography(std::span<const Vec2d> from, std::span<const Vec2d> to, Mat33d& h);

}  // namespace math
