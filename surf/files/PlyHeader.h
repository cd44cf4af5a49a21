#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace surf {

// The header of a PLY file: its format, its elements in file order with
// their properties, and the texture named by a "comment TextureFile" line.

enum class PlyType : std::uint8_t { kInt8, kUint8, kInt16, kUint16, kInt32, kUint32, kFloat32, kFloat64 };

// Bytes of one value of the type in the binary forms.
std::size_t PlyTypeSize(PlyType type);

struct PlyProperty {
  std::string name;
  PlyType type = PlyType::kFloat32;  // of the value, or of each item of a list
  bool isList = false;
  PlyType countType = PlyType::kUint8;  // of a list's item count
  std::size_t line = 0;                 // header line, for messages
};

struct PlyElement {
  std::string name;
  std::uint64_t count = 0;
  std::vector<PlyProperty> properties;
  std::size_t line = 0;

  // The index of the named property, -1 when there is none.
  int Find(const std::string& propertyName) const;
  // The fewest bytes one instance can take in the body: for a binary file
  // the scalars and list counts, for an ASCII file one character and one
  // separator per property.
  std::uint64_t MinimumBytes(bool binary) const;
};

enum class PlyFormat { kAscii, kBinaryLittleEndian, kBinaryBigEndian };

struct PlyHeader {
  PlyFormat format = PlyFormat::kAscii;
  std::vector<PlyElement> elements;
  std::string textureFile;   // from "comment TextureFile NAME", else empty
  std::size_t bodyStart = 0;  // byte offset of the first body byte
  std::size_t lines = 0;      // header lines, "end_header" included

  bool IsBinary() const { return format != PlyFormat::kAscii; }
  // The index of the named element, -1 when there is none.
  int Find(const std::string& elementName) const;
};

// Reads the header at the start of bytes. False with the reason in error
// ("line N: …") for a file that is not PLY, an unknown format or type, a
// property outside an element, a count that is not a number, or a header
// that declares more instances than the rest of the file can hold (so that
// a corrupt count never makes a reader reserve memory the file cannot fill).
bool ParsePlyHeader(std::span<const std::uint8_t> bytes, PlyHeader& header, std::string& error);

}  // namespace surf
