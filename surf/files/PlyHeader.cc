#include "surf/files/PlyHeader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace surf {
namespace {

// A header line longer than this is taken as a sign of a file that is not PLY.
constexpr std::size_t kMaxHeaderLine = 4096;

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool TypeOf(std::string_view name, PlyType& type) {
  struct Named {
    std::string_view name;
    PlyType type;
  };
  static constexpr Named kTypes[] = {
      {"char", PlyType::kInt8},     {"int8", PlyType::kInt8},       {"uchar", PlyType::kUint8},
      {"uint8", PlyType::kUint8},   {"short", PlyType::kInt16},     {"int16", PlyType::kInt16},
      {"ushort", PlyType::kUint16}, {"uint16", PlyType::kUint16},   {"int", PlyType::kInt32},
      {"int32", PlyType::kInt32},   {"uint", PlyType::kUint32},     {"uint32", PlyType::kUint32},
      {"float", PlyType::kFloat32}, {"float32", PlyType::kFloat32}, {"double", PlyType::kFloat64},
      {"float64", PlyType::kFloat64}};
  for (const Named& t : kTypes) {
    if (t.name == name) {
      type = t.type;
      return true;
    }
  }
  return false;
}

class HeaderReader {
 public:
  HeaderReader(PlyHeader& header, std::string& error) : m_header(header), m_error(error) {}

  bool Line(std::string_view line) {
    const std::vector<std::string_view> w = Words(line);
    if (m_header.lines == 1) {
      if (w.size() != 1 || w[0] != "ply") return Fail("the file does not start with \"ply\": it is not a PLY file");
      return true;
    }
    if (w.empty() || w[0] == "comment" || w[0] == "obj_info") return Comment(w, line);
    if (w[0] == "format") return Format(w);
    if (w[0] == "element") return Element(w);
    if (w[0] == "property") return Property(w);
    return Fail("unknown header keyword \"" + std::string(w[0]) + "\"");
  }

  bool Fail(const std::string& what) {
    m_error = "line " + std::to_string(m_header.lines) + ": " + what;
    return false;
  }

  bool m_formatSeen = false;

 private:
  bool Comment(const std::vector<std::string_view>& w, std::string_view line) {
    // "TextureFile" in any case: some writers use "TEXTUREFILE".
    if (w.size() >= 3 && w[0] == "comment" && EqualIgnoringCase(w[1], "TextureFile")) {
      std::string_view name = line.substr(static_cast<std::size_t>(w[1].data() - line.data()) + w[1].size());
      while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
      m_header.textureFile = std::string(name);
    }
    return true;
  }

  bool Format(const std::vector<std::string_view>& w) {
    if (m_formatSeen) return Fail("a second \"format\" line");
    if (w.size() != 3) return Fail("\"format\" needs a format and a version");
    if (w[1] == "ascii") {
      m_header.format = PlyFormat::kAscii;
    } else if (w[1] == "binary_little_endian") {
      m_header.format = PlyFormat::kBinaryLittleEndian;
    } else if (w[1] == "binary_big_endian") {
      m_header.format = PlyFormat::kBinaryBigEndian;
    } else {
      return Fail("unknown format \"" + std::string(w[1]) +
                  "\" (readable: ascii, binary_little_endian, binary_big_endian)");
    }
    if (w[2] != "1.0" && w[2] != "1") return Fail("unsupported version \"" + std::string(w[2]) + "\" (1.0 is read)");
    m_formatSeen = true;
    return true;
  }

  bool Element(const std::vector<std::string_view>& w) {
    if (w.size() != 3) return Fail("\"element\" needs a name and a count");
    PlyElement element;
    element.name = std::string(w[1]);
    element.line = m_header.lines;
    const auto [end, ec] = std::from_chars(w[2].data(), w[2].data() + w[2].size(), element.count);
    if (ec != std::errc() || end != w[2].data() + w[2].size()) {
      return Fail("the count \"" + std::string(w[2]) + "\" of element \"" + element.name +
                  "\" is not a non-negative number");
    }
    m_header.elements.push_back(std::move(element));
    return true;
  }

  bool Property(const std::vector<std::string_view>& w) {
    if (m_header.elements.empty()) return Fail("a property before the first element");
    PlyProperty property;
    property.line = m_header.lines;
    if (w.size() >= 2 && w[1] == "list") {
      if (w.size() != 5) return Fail("\"property list\" needs a count type, an item type and a name");
      property.isList = true;
      if (!TypeOf(w[2], property.countType)) return Fail("unknown type \"" + std::string(w[2]) + "\"");
      if (property.countType == PlyType::kFloat32 || property.countType == PlyType::kFloat64) {
        return Fail("the count type of a list must be an integer type");
      }
      if (!TypeOf(w[3], property.type)) return Fail("unknown type \"" + std::string(w[3]) + "\"");
      property.name = std::string(w[4]);
    } else {
      if (w.size() != 3) return Fail("\"property\" needs a type and a name");
      if (!TypeOf(w[1], property.type)) return Fail("unknown type \"" + std::string(w[1]) + "\"");
      property.name = std::string(w[2]);
    }
    m_header.elements.back().properties.push_back(std::move(property));
    return true;
  }

  PlyHeader& m_header;
  std::string& m_error;
};

// False when the declared instances cannot fit into the body.
bool CountsFit(const PlyHeader& header, std::uint64_t bodyBytes, std::string& error) {
  std::uint64_t remaining = bodyBytes;
  for (const PlyElement& element : header.elements) {
    const std::uint64_t minimum = element.MinimumBytes(header.IsBinary());
    if (minimum == 0 || element.count == 0) continue;
    // An ASCII body may end without a separator after its last value.
    const std::uint64_t slack = header.IsBinary() ? 0 : 1;
    if (element.count > (remaining + slack) / minimum) {
      error = "line " + std::to_string(element.line) + ": element \"" + element.name + "\" declares " +
              std::to_string(element.count) + " instances, more than the remaining " + std::to_string(remaining) +
              " bytes of the file can hold (is the file truncated?)";
      return false;
    }
    remaining -= std::min(remaining, element.count * minimum);
  }
  return true;
}

}  // namespace

std::size_t PlyTypeSize(PlyType type) {
  switch (type) {
    case PlyType::kInt8:
    case PlyType::kUint8:
      return 1;
    case PlyType::kInt16:
    case PlyType::kUint16:
      return 2;
    case PlyType::kInt32:
    case PlyType::kUint32:
    case PlyType::kFloat32:
      return 4;
    case PlyType::kFloat64:
      return 8;
  }
  return 0;
}

int PlyElement::Find(const std::string& propertyName) const {
  for (std::size_t i = 0; i < properties.size(); ++i) {
    if (properties[i].name == propertyName) return static_cast<int>(i);
  }
  return -1;
}

std::uint64_t PlyElement::MinimumBytes(bool binary) const {
  std::uint64_t bytes = 0;
  for (const PlyProperty& p : properties) bytes += binary ? PlyTypeSize(p.isList ? p.countType : p.type) : 2;
  return bytes;
}

int PlyHeader::Find(const std::string& elementName) const {
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (elements[i].name == elementName) return static_cast<int>(i);
  }
  return -1;
}

bool ParsePlyHeader(std::span<const std::uint8_t> bytes, PlyHeader& header, std::string& error) {
  PlyHeader read;
  HeaderReader reader(read, error);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('\n', start);
    ++read.lines;
    std::string_view line = text.substr(start, end == std::string_view::npos ? text.size() - start : end - start);
    if (line.size() > kMaxHeaderLine) return reader.Fail("a header line longer than 4096 characters: not a PLY header");
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (end == std::string_view::npos) {
      if (read.lines == 1 && line.empty()) return reader.Fail("the file is empty");
      if (read.lines == 1 || line != "end_header") return reader.Fail("the header has no \"end_header\" line");
    }
    if (line == "end_header" && read.lines > 1) {
      read.bodyStart = end == std::string_view::npos ? text.size() : end + 1;
      break;
    }
    if (!reader.Line(line)) return false;
    start = end + 1;
  }
  if (!reader.m_formatSeen) return reader.Fail("the header has no \"format\" line");
  if (!CountsFit(read, bytes.size() - read.bodyStart, error)) return false;
  header = std::move(read);
  return true;
}

}  // namespace surf
