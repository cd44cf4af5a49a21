#pragma once

#include <filesystem>

#include "foundation/img/UniImage.h"

namespace img {

// Decodes PNG, BMP, JPEG, TGA, PGM/PPM, GIF, PSD and HDR files (16-bit
// samples reduced to 8 bits). A grey image from a colour file is
// (r + g + b) / 3 in integer arithmetic. Grey+alpha files, files that cannot
// be read or decoded give false and leave the image unchanged.
bool LoadUniImage(UniImage<uint8>& image, const std::filesystem::path& path);
// A one-channel file is replicated into all components; alpha is dropped.
bool LoadUniImage(UniImage<RGB8>& image, const std::filesystem::path& path);

// Each replaces an existing file and returns true when the encoder produced
// data and it was written; false for an empty image or an unwritable file.
bool SaveBMP(const UniImage<uint8>& image, const std::filesystem::path& path);
bool SavePNG(const UniImage<uint8>& image, const std::filesystem::path& path);
bool SavePNG(const UniImage<RGB8>& image, const std::filesystem::path& path);
// quality 1–100 (clamped).
bool SaveJPEG(const UniImage<RGB8>& image, const std::filesystem::path& path, int quality);

// Grey from colour per pixel: mode 0 (r + g + b) / 3 (integer), 1 red,
// 2 green, 3 blue, 4 0.3·r + 0.6·g + 0.1·b truncated. Any other mode is
// treated as mode 0.
UniImage<uint8> ConvertImageRGBToGray(const UniImage<RGB8>& image, int mode);

}  // namespace img
