#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "foundation/img/EllipseGridMapping.h"
#include "foundation/math/Vec.h"

namespace cam {

// Printing colours of a target: "black", "green", "blue", "white" (read also
// capitalised).
enum class TargetColor { kBlack, kGreen, kBlue, kWhite };

const char* ToString(TargetColor color);
// False for any other name.
bool ParseTargetColor(std::string_view name, TargetColor& color);
// Relative brightness of the printed colour (black 0 … white 1), for
// deciding which marks a camera sees inverted.
double Lightness(TargetColor color);

// A target file that cannot be read. The message names the file and what is
// wrong, e.g. "plate.xml: grid countX: must be an integer >= 2, got \"x\"",
// except for a target of another type, whose message is exactly
// "CalibType is not FlatPlate: " followed by the type.
class TargetFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One printed mark: a disc of diameter `outerDiameter` in `color`; with an
// inner diameter > 0 it is a ring whose hole of that diameter shows the
// background. Millimetres, plate coordinates.
struct FlatPlateMarker {
  math::Vec3d center;
  double innerDiameter = 0.0;
  double outerDiameter = 0.0;
  double tolerance = 0.0;  // mm
  TargetColor color = TargetColor::kBlack;
};

// A flat calibration target: a grid of circular marks on a plate, described
// by its target file (XML, root `calibrationTarget` of type "FlatPlate"):
//
//   <calibrationTarget type="FlatPlate" id="plate-a4" timestamp="2024-05-01">
//     <grid countX="16" countY="11" spacing="16" background="white"/>
//     <markers type="Circles">
//       <marker tolerance="0.1" color="black">
//         <gridIndex x="0" y="0"/> <center x="0" y="0" z="0"/>
//         <diameter inner="0" outer="8"/>
//       </marker> …
//     </markers>
//   </calibrationTarget>
//
// Plate coordinates: x to the right and y down as the printed side is seen,
// z into the plate; grid index x and y run along plate x and y.
class FlatPlateCalibrationTarget {
 public:
  using MarkerMap = std::map<math::Vec2i, FlatPlateMarker, math::LexicalLess<2, int>>;

  FlatPlateCalibrationTarget() = default;
  // Reads a target file; throws TargetFileError. A `markers` element of
  // another type than "Circles" prints "Marker type is not Circles, it is: "
  // and the type to the error stream; its markers are still read.
  explicit FlatPlateCalibrationTarget(const std::filesystem::path& path);
  // The same from text; sourceName prefixes the messages.
  static FlatPlateCalibrationTarget Parse(std::string_view xml, const std::string& sourceName);

  // The target file's text (numbers in shortest round-trip form).
  std::string ToXml() const;
  // False with an "Error: …" line when the file cannot be written.
  bool Save(const std::filesystem::path& path) const;

  // The smallest grid x and the smallest grid y over all markers ((0, 0)
  // without markers).
  math::Vec2i GetGridOrigin() const;
  // Marks seen with inverted contrast: whose centre spot is lighter than
  // what surrounds it (a ring's hole on a dark ring, a light disc on a dark
  // ground).
  bool IsInverted(const FlatPlateMarker& marker) const;
  // The marker cell in grid nodes relative to the grid origin (node 0, 0):
  // false when the target does not have exactly three inverted marks of one
  // cell with a normal fourth.
  bool GetMarkerCell(img::GridMarkerCell& cell) const;

  std::string id;
  std::chrono::year_month_day timestamp{};  // !ok() when the file has none
  int countX = 0;
  int countY = 0;
  double spacing = 0.0;  // mm
  TargetColor background = TargetColor::kWhite;
  MarkerMap markers;
};

}  // namespace cam
