#pragma once

#include <filesystem>
#include <string>

#include "foundation/img/UniImage.h"

namespace tarvelin {

// Portable Float Map, one channel ("Pf"): a text header "Pf\n<w> <h>\n-1.0\n"
// (negative scale = little-endian) followed by the rows bottom to top.
bool SaveFloatMap(const img::UniImage<float>& image, const std::filesystem::path& path);
// Reads "Pf" files of either byte order; false with a message on a bad file.
bool LoadFloatMap(const std::filesystem::path& path, img::UniImage<float>& image, std::string& error);

// An RGB preview of values in [lo, hi]: a blue–cyan–green–yellow–red ramp;
// values outside the range, NaN, or where mask is 0 (when given) are black.
img::UniImage<img::RGB8> FalseColour(const img::UniImage<float>& image, float lo, float hi,
                                     const img::UniImage<float>* mask = nullptr);
// Values 0…1 as grey levels (clamped).
img::UniImage<img::uint8> GreyPreview(const img::UniImage<float>& image);

}  // namespace tarvelin
