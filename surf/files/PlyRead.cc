// PLY import: the header (PlyHeader.h), then the body in file order through
// a cursor of the body's encoding. The vertex and face elements fill the
// mesh; every other element and property is skipped by its declared types.

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <unordered_map>

#include "foundation/img/ImageIO.h"
#include "foundation/utils/MappedFile.h"
#include "surf/files/PlyFile.h"
#include "surf/files/PlyHeader.h"

namespace surf {
namespace {

constexpr int kMarks = 10;
// Instances between progress reports.
constexpr std::uint64_t kReportEvery = 1 << 16;

std::uint16_t SwapBytes(std::uint16_t v) { return __builtin_bswap16(v); }
std::uint32_t SwapBytes(std::uint32_t v) { return __builtin_bswap32(v); }
std::uint64_t SwapBytes(std::uint64_t v) { return __builtin_bswap64(v); }

template <typename T>
T Load(const std::uint8_t* p, bool swap) {
  using Bits = std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                  std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>;
  Bits bits;
  std::memcpy(&bits, p, sizeof(T));
  if (swap) bits = SwapBytes(bits);
  return std::bit_cast<T>(bits);
}

double Decode(const std::uint8_t* p, PlyType type, bool swap) {
  switch (type) {
    case PlyType::kInt8: return static_cast<std::int8_t>(*p);
    case PlyType::kUint8: return *p;
    case PlyType::kInt16: return Load<std::int16_t>(p, swap);
    case PlyType::kUint16: return Load<std::uint16_t>(p, swap);
    case PlyType::kInt32: return Load<std::int32_t>(p, swap);
    case PlyType::kUint32: return Load<std::uint32_t>(p, swap);
    case PlyType::kFloat32:
      if (!swap) {
        float value;
        std::memcpy(&value, p, 4);
        return value;
      }
      return Load<float>(p, swap);
    case PlyType::kFloat64: return Load<double>(p, swap);
  }
  return 0.0;
}

// Binary values, either byte order; positions are byte offsets.
class BinaryCursor {
 public:
  BinaryCursor(std::span<const std::uint8_t> bytes, std::size_t start, bool swap)
      : m_bytes(bytes), m_pos(start), m_swap(swap) {}

  bool Read(PlyType type, double& value) {
    const std::size_t size = PlyTypeSize(type);
    if (m_bytes.size() - m_pos < size) return false;
    value = Decode(m_bytes.data() + m_pos, type, m_swap);
    m_pos += size;
    return true;
  }

  bool Skip(PlyType type, std::uint64_t count) {
    const std::uint64_t size = PlyTypeSize(type);
    if (count > (m_bytes.size() - m_pos) / size) return false;
    m_pos += static_cast<std::size_t>(count * size);
    return true;
  }

  // For the loops over whole records.
  const std::uint8_t* Here() const { return m_bytes.data() + m_pos; }
  std::size_t Remaining() const { return m_bytes.size() - m_pos; }
  void Advance(std::size_t bytes) { m_pos += bytes; }
  bool Swapped() const { return m_swap; }

  std::size_t Position() const { return m_pos; }
  std::string Where() const { return "byte " + std::to_string(m_pos); }
  bool AtEnd() const { return m_pos == m_bytes.size(); }

 private:
  std::span<const std::uint8_t> m_bytes;
  std::size_t m_pos;
  bool m_swap;
};

// ASCII values separated by blanks and line ends; positions are lines.
class AsciiCursor {
 public:
  AsciiCursor(std::span<const std::uint8_t> bytes, std::size_t start, std::size_t firstLine)
      : m_text(reinterpret_cast<const char*>(bytes.data()), bytes.size()), m_pos(start), m_line(firstLine) {}

  bool Read(PlyType type, double& value) {
    const std::string_view word = NextWord();
    if (word.empty()) return false;
    const char* first = word.data();
    if (*first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, word.data() + word.size(), value);
    if (ec == std::errc::result_out_of_range) {
      m_bad = std::string(word) + " is out of range";
      return false;
    }
    if (ec != std::errc() || end != word.data() + word.size()) {
      m_bad = "\"" + std::string(word.substr(0, 32)) + "\" is not a number";
      return false;
    }
    if (type != PlyType::kFloat32 && type != PlyType::kFloat64 && value != std::floor(value)) {
      m_bad = std::string(word) + " is not an integer";
      return false;
    }
    return true;
  }

  bool Skip(PlyType type, std::uint64_t count) {
    double ignored;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (!Read(type, ignored)) return false;
    }
    return true;
  }

  std::size_t Position() const { return m_pos; }
  std::string Where() const { return "line " + std::to_string(m_line); }
  // Why the last Read failed when the text did not simply end.
  const std::string& Bad() const { return m_bad; }
  bool AtEnd() {
    SkipBlanks();
    return m_pos == m_text.size();
  }

 private:
  void SkipBlanks() {
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos];
      if (c == '\n') {
        ++m_line;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        break;
      }
      ++m_pos;
    }
  }

  std::string_view NextWord() {
    SkipBlanks();
    const std::size_t start = m_pos;
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') break;
      ++m_pos;
    }
    return m_text.substr(start, m_pos - start);
  }

  std::string_view m_text;
  std::size_t m_pos;
  std::size_t m_line;
  std::string m_bad;
};

// The vertex attributes a PLY file may carry, as slots of one vertex.
enum Slot { kX, kY, kZ, kNx, kNy, kNz, kRed, kGreen, kBlue, kAlpha, kU, kV, kSlots };

int SlotOf(const std::string& name) {
  struct Named {
    const char* name;
    int slot;
  };
  static constexpr Named kNames[] = {
      {"x", kX},           {"y", kY},           {"z", kZ},
      {"nx", kNx},         {"ny", kNy},         {"nz", kNz},
      {"red", kRed},       {"green", kGreen},   {"blue", kBlue},
      {"alpha", kAlpha},   {"diffuse_red", kRed}, {"diffuse_green", kGreen},
      {"diffuse_blue", kBlue}, {"u", kU},       {"v", kV},
      {"s", kU},           {"t", kV},           {"texture_u", kU},
      {"texture_v", kV},   {"texture_s", kU},   {"texture_t", kV}};
  for (const Named& n : kNames) {
    if (name == n.name) return n.slot;
  }
  return -1;
}

std::uint8_t ColourByte(double value, PlyType type) {
  if (type == PlyType::kFloat32 || type == PlyType::kFloat64) value *= 255.0;
  if (!(value > 0.0)) return 0;
  return value >= 255.0 ? 255 : static_cast<std::uint8_t>(value + 0.5);
}

void AddTriangle(std::vector<std::uint32_t>& indices, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  indices.push_back(a);
  indices.push_back(b);
  indices.push_back(c);
}

// A face corner's texture coordinate from a "texcoord" list, before the
// vertices are split so that each vertex has one.
struct WedgeCorner {
  std::uint32_t vertex;
  float u, v;
};

class PlyBodyReader {
 public:
  PlyBodyReader(const PlyHeader& header, std::string_view name, std::size_t totalBytes, const ImportOptions& options)
      : m_header(header), m_name(name), m_total(totalBytes), m_options(options) {}

  template <class Cursor>
  bool Read(Cursor& cursor, MeshArrays& mesh) {
    if (!CheckLayout()) return false;
    for (std::size_t e = 0; e < m_header.elements.size(); ++e) {
      const PlyElement& element = m_header.elements[e];
      bool ok = static_cast<int>(e) == m_vertexElement ? Vertices(cursor, element, mesh)
                : static_cast<int>(e) == m_faceElement ? Faces(cursor, element, mesh)
                                                       : SkipElement(cursor, element);
      if (!ok) return false;
    }
    if (!m_wedges.empty()) SplitWedges(mesh);
    if (m_options.marks) *m_options.marks << '\n' << std::flush;
    return true;
  }

 private:
  bool Fail(const std::string& where, const std::string& what) const {
    std::cerr << "Error: LoadPly - " << m_name << ": " << where << ": " << what << ".\n";
    return false;
  }

  template <class Cursor>
  bool Ended(const Cursor& cursor, const PlyElement& element, std::uint64_t i) const {
    std::string what = m_why;
    if constexpr (std::is_same_v<Cursor, AsciiCursor>) {
      if (what.empty()) what = cursor.Bad();
    }
    if (what.empty()) what = "the file ends";
    return Fail(cursor.Where(), what + " inside element \"" + element.name + "\" (instance " + std::to_string(i + 1) +
                                    " of " + std::to_string(element.count) + ")");
  }

  // Which elements and properties carry the mesh, and that they are of the
  // right kind.
  bool CheckLayout() {
    m_vertexElement = m_header.Find("vertex");
    m_faceElement = m_header.Find("face");
    if (m_vertexElement < 0) return Fail("header", "there is no \"vertex\" element");
    const PlyElement& vertices = m_header.elements[m_vertexElement];
    for (const PlyProperty& p : vertices.properties) {
      if (p.isList && SlotOf(p.name) >= 0) {
        return Fail("line " + std::to_string(p.line),
                    "property \"" + p.name + "\" of element \"vertex\" is a list where a scalar is expected");
      }
    }
    for (const char* axis : {"x", "y", "z"}) {
      if (vertices.Find(axis) < 0) return Fail("header", std::string("the vertices have no \"") + axis + "\" property");
    }
    if (m_faceElement < 0) return true;
    const PlyElement& faces = m_header.elements[m_faceElement];
    m_indexProperty = faces.Find("vertex_indices");
    if (m_indexProperty < 0) m_indexProperty = faces.Find("vertex_index");
    if (m_indexProperty < 0) return Fail("header", "the faces have no \"vertex_indices\" property");
    if (!faces.properties[m_indexProperty].isList) {
      return Fail("line " + std::to_string(faces.properties[m_indexProperty].line),
                  "property \"" + faces.properties[m_indexProperty].name +
                      "\" of element \"face\" is a scalar where a list is expected");
    }
    m_texcoordProperty = faces.Find("texcoord");
    if (m_texcoordProperty >= 0 && !faces.properties[m_texcoordProperty].isList) m_texcoordProperty = -1;
    return true;
  }

  // Progress at a byte position of the body.
  bool Progress(std::size_t position) {
    const double fraction = m_total > 0 ? static_cast<double>(position) / static_cast<double>(m_total) : 1.0;
    while (m_marks < kMarks && fraction * kMarks >= m_marks + 1) {
      ++m_marks;
      if (m_options.marks) *m_options.marks << '>' << std::flush;
    }
    if (m_options.progress && m_options.progress(0.95 * fraction)) return Fail("byte " + std::to_string(position), "cancelled");
    return true;
  }

  // The item count of a list; false at the end of the body or for a
  // negative count.
  template <class Cursor>
  bool ListCount(Cursor& cursor, const PlyProperty& p, std::uint64_t& count) {
    double value;
    if (!cursor.Read(p.countType, value)) return false;
    if (value < 0.0) {
      m_why = "the list \"" + p.name + "\" has a negative count";
      return false;
    }
    count = static_cast<std::uint64_t>(value);
    return true;
  }

  template <class Cursor>
  bool SkipList(Cursor& cursor, const PlyProperty& p) {
    std::uint64_t count;
    return ListCount(cursor, p, count) && cursor.Skip(p.type, count);
  }

  // Which vertex attributes the file has, and where each property goes.
  struct VertexLayout {
    std::vector<int> slots;  // per property, -1 for none
    bool normals = false, colours = false, texCoords = false;
    PlyType colourType = PlyType::kUint8;
  };

  static VertexLayout LayoutOf(const PlyElement& element) {
    VertexLayout layout;
    bool has[kSlots] = {};
    for (const PlyProperty& p : element.properties) {
      layout.slots.push_back(p.isList ? -1 : SlotOf(p.name));
      if (layout.slots.back() >= 0) has[layout.slots.back()] = true;
    }
    layout.normals = has[kNx] && has[kNy] && has[kNz];
    layout.colours = has[kRed] && has[kGreen] && has[kBlue];
    layout.texCoords = has[kU] && has[kV];
    if (layout.colours) {
      layout.colourType = element.properties[element.Find(element.Find("red") >= 0 ? "red" : "diffuse_red")].type;
    }
    return layout;
  }

  static void Store(const double* value, const VertexLayout& layout, std::size_t i, MeshArrays& mesh) {
    mesh.positions[i] = math::Vec3f(float(value[kX]), float(value[kY]), float(value[kZ]));
    if (layout.normals) mesh.normals[i] = math::Vec3f(float(value[kNx]), float(value[kNy]), float(value[kNz]));
    if (layout.colours) {
      const PlyType t = layout.colourType;
      mesh.colors[i] = v3d::Color4ub(ColourByte(value[kRed], t), ColourByte(value[kGreen], t),
                                     ColourByte(value[kBlue], t), ColourByte(value[kAlpha], t));
    }
    if (layout.texCoords) mesh.texCoords[i] = math::Vec2f(float(value[kU]), 1.f - float(value[kV]));
  }

  template <class Cursor>
  bool Vertices(Cursor& cursor, const PlyElement& element, MeshArrays& mesh) {
    const VertexLayout layout = LayoutOf(element);
    const auto n = static_cast<std::size_t>(element.count);
    mesh.positions.resize(n);
    if (layout.normals) mesh.normals.resize(n);
    if (layout.colours) mesh.colors.resize(n);
    if (layout.texCoords) mesh.texCoords.resize(n);
    double value[kSlots] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 255.0, 0, 0};
    if (layout.colourType == PlyType::kFloat32 || layout.colourType == PlyType::kFloat64) value[kAlpha] = 1.0;
    std::size_t i = 0;
    if constexpr (std::is_same_v<Cursor, BinaryCursor>) {
      if (!FixedVertices(cursor, element, layout, value, i, mesh)) return false;
    }
    for (; i < n; ++i) {
      for (std::size_t k = 0; k < layout.slots.size(); ++k) {
        const PlyProperty& p = element.properties[k];
        double read = 0.0;
        const bool ok = p.isList ? SkipList(cursor, p) : cursor.Read(p.type, read);
        if (!ok) return Ended(cursor, element, i);
        if (layout.slots[k] >= 0) value[layout.slots[k]] = read;
      }
      Store(value, layout, i, mesh);
      if (i % kReportEvery == kReportEvery - 1 && !Progress(cursor.Position())) return false;
    }
    return true;
  }

  // The vertices of fixed-size records (no list among their properties),
  // as far as the body holds whole records; done is where they stop.
  bool FixedVertices(BinaryCursor& cursor, const PlyElement& element, const VertexLayout& layout, double* value,
                     std::size_t& done, MeshArrays& mesh) {
    struct Field {
      std::size_t offset;
      PlyType type;
      int slot;
    };
    std::vector<Field> fields;
    std::size_t record = 0;
    for (std::size_t k = 0; k < element.properties.size(); ++k) {
      const PlyProperty& p = element.properties[k];
      if (p.isList) return true;
      if (layout.slots[k] >= 0) fields.push_back({record, p.type, layout.slots[k]});
      record += PlyTypeSize(p.type);
    }
    if (record == 0) return true;
    const std::size_t whole = std::min(mesh.positions.size(), cursor.Remaining() / record);
    const bool swap = cursor.Swapped();
    for (; done < whole; ++done) {
      const std::uint8_t* p = cursor.Here();
      for (const Field& f : fields) value[f.slot] = Decode(p + f.offset, f.type, swap);
      Store(value, layout, done, mesh);
      cursor.Advance(record);
      if (done % kReportEvery == kReportEvery - 1 && !Progress(cursor.Position())) return false;
    }
    return true;
  }

  template <class Cursor>
  bool Faces(Cursor& cursor, const PlyElement& element, MeshArrays& mesh) {
    const std::size_t vertexCount = mesh.positions.size();
    mesh.indices.reserve(3 * static_cast<std::size_t>(element.count));
    std::vector<std::uint32_t> corners;
    std::vector<float> wedge;
    std::uint64_t i = 0;
    if constexpr (std::is_same_v<Cursor, BinaryCursor>) {
      if (!IndexOnlyFaces(cursor, element, vertexCount, i, mesh)) return false;
    }
    for (; i < element.count; ++i) {
      for (std::size_t k = 0; k < element.properties.size(); ++k) {
        const PlyProperty& p = element.properties[k];
        const int which = static_cast<int>(k);
        bool ok;
        if (which == m_indexProperty) {
          ok = Corners(cursor, p, vertexCount, i, corners);
          if (!ok && !m_failed.empty()) return false;
        } else if (which == m_texcoordProperty) {
          ok = ListValues(cursor, p, wedge);
        } else {
          double ignored;
          ok = p.isList ? SkipList(cursor, p) : cursor.Read(p.type, ignored);
        }
        if (!ok) return Ended(cursor, element, i);
      }
      if (m_texcoordProperty >= 0 && !AddWedges(cursor, corners, wedge, i)) return false;
      for (std::size_t c = 2; c < corners.size(); ++c) {
        AddTriangle(mesh.indices, corners[0], corners[c - 1], corners[c]);
      }
      if (i % kReportEvery == kReportEvery - 1 && !Progress(cursor.Position())) return false;
    }
    return true;
  }

  // Faces whose only property is the corner list with a one-byte count and
  // four-byte indices, the common form, read straight from the body. done is
  // where they stop: at the end of the faces, or before a face that is cut
  // off or uses a vertex the file does not have (the general loop reports it).
  bool IndexOnlyFaces(BinaryCursor& cursor, const PlyElement& element, std::size_t vertexCount, std::uint64_t& done,
                      MeshArrays& mesh) {
    const PlyProperty& list = element.properties[0];
    if (element.properties.size() != 1 || PlyTypeSize(list.countType) != 1 || PlyTypeSize(list.type) != 4 ||
        list.type == PlyType::kFloat32) {
      return true;
    }
    const bool swap = cursor.Swapped();
    std::vector<std::uint32_t>& indices = mesh.indices;
    // Room for the rest as triangles, grown for larger polygons.
    std::size_t at = indices.size();
    indices.resize(at + 3 * static_cast<std::size_t>(element.count - done));
    std::uint32_t corners[255];
    bool stopped = false;
    for (; done < element.count && !stopped; ++done) {
      const std::uint8_t* p = cursor.Here();
      const std::size_t count = *p;
      stopped = cursor.Remaining() < 1 + 4 * count;
      for (std::size_t c = 0; c < count && !stopped; ++c) {
        // A negative int32 becomes an index beyond any vertex.
        corners[c] = Load<std::uint32_t>(p + 1 + 4 * c, swap);
        stopped = corners[c] >= vertexCount;
      }
      if (stopped) break;
      if (count >= 3) {
        const std::size_t needed = 3 * (count - 2);
        if (at + needed > indices.size()) indices.resize(at + needed + 3 * static_cast<std::size_t>(element.count - done));
        std::uint32_t* out = indices.data() + at;
        for (std::size_t c = 2; c < count; ++c, out += 3) {
          out[0] = corners[0];
          out[1] = corners[c - 1];
          out[2] = corners[c];
        }
        at += needed;
      }
      cursor.Advance(1 + 4 * count);
      if (done % kReportEvery == kReportEvery - 1 && !Progress(cursor.Position())) {
        indices.resize(at);
        return false;
      }
    }
    indices.resize(at);
    return true;
  }

  // The corners of one face; false with m_failed set for an index outside
  // the vertices.
  template <class Cursor>
  bool Corners(Cursor& cursor, const PlyProperty& p, std::size_t vertexCount, std::uint64_t face,
               std::vector<std::uint32_t>& corners) {
    std::uint64_t count;
    corners.clear();
    if (!ListCount(cursor, p, count)) return false;
    for (std::uint64_t c = 0; c < count; ++c) {
      double index;
      if (!cursor.Read(p.type, index)) return false;
      if (!(index >= 0.0) || index >= static_cast<double>(vertexCount)) {
        m_failed = "face " + std::to_string(face) + " uses vertex " + std::to_string(static_cast<long long>(index)) +
                   ", but the file has " + std::to_string(vertexCount) + " vertices (0 to " +
                   std::to_string(vertexCount == 0 ? 0 : vertexCount - 1) + ")";
        return Fail(cursor.Where(), m_failed);
      }
      corners.push_back(static_cast<std::uint32_t>(index));
    }
    return true;
  }

  template <class Cursor>
  bool ListValues(Cursor& cursor, const PlyProperty& p, std::vector<float>& values) {
    std::uint64_t count;
    values.clear();
    if (!ListCount(cursor, p, count)) return false;
    for (std::uint64_t c = 0; c < count; ++c) {
      double value;
      if (!cursor.Read(p.type, value)) return false;
      values.push_back(static_cast<float>(value));
    }
    return true;
  }

  // Per-corner texture coordinates of a face, in the order of its fan.
  template <class Cursor>
  bool AddWedges(const Cursor& cursor, const std::vector<std::uint32_t>& corners, const std::vector<float>& wedge,
                 std::uint64_t face) {
    if (wedge.size() != 2 * corners.size()) {
      return Fail(cursor.Where(), "face " + std::to_string(face) + " has " + std::to_string(wedge.size()) +
                                      " texture coordinate values for " + std::to_string(corners.size()) + " corners");
    }
    auto at = [&](std::size_t c) { return WedgeCorner{corners[c], wedge[2 * c], 1.f - wedge[2 * c + 1]}; };
    for (std::size_t c = 2; c < corners.size(); ++c) m_wedges.insert(m_wedges.end(), {at(0), at(c - 1), at(c)});
    return true;
  }

  // Gives every distinct (vertex, texture coordinate) pair of the faces a
  // vertex of its own, when the coordinates came per face corner.
  void SplitWedges(MeshArrays& mesh) const {
    if (!mesh.texCoords.empty()) return;  // per-vertex coordinates win
    struct Key {
      std::uint32_t vertex, u, v;
      bool operator==(const Key&) const = default;
    };
    struct Hash {
      std::size_t operator()(const Key& k) const {
        return (std::size_t{k.vertex} * 0x9E3779B97F4A7C15ull) ^ (std::size_t{k.u} << 21) ^ k.v;
      }
    };
    std::unordered_map<Key, std::uint32_t, Hash> ids;
    MeshArrays split;
    split.indices.reserve(m_wedges.size());
    for (const WedgeCorner& w : m_wedges) {
      const Key key{w.vertex, std::bit_cast<std::uint32_t>(w.u), std::bit_cast<std::uint32_t>(w.v)};
      auto [it, inserted] = ids.try_emplace(key, static_cast<std::uint32_t>(split.positions.size()));
      if (inserted) {
        split.positions.push_back(mesh.positions[w.vertex]);
        if (!mesh.normals.empty()) split.normals.push_back(mesh.normals[w.vertex]);
        if (!mesh.colors.empty()) split.colors.push_back(mesh.colors[w.vertex]);
        split.texCoords.emplace_back(w.u, w.v);
      }
      split.indices.push_back(it->second);
    }
    mesh.positions = std::move(split.positions);
    mesh.normals = std::move(split.normals);
    mesh.colors = std::move(split.colors);
    mesh.texCoords = std::move(split.texCoords);
    mesh.indices = std::move(split.indices);
  }

  template <class Cursor>
  bool SkipElement(Cursor& cursor, const PlyElement& element) {
    if (element.properties.empty()) return true;
    for (std::uint64_t i = 0; i < element.count; ++i) {
      for (const PlyProperty& p : element.properties) {
        double ignored;
        const bool ok = p.isList ? SkipList(cursor, p) : cursor.Read(p.type, ignored);
        if (!ok) return Ended(cursor, element, i);
      }
      if (i % kReportEvery == kReportEvery - 1 && !Progress(cursor.Position())) return false;
    }
    return true;
  }

  const PlyHeader& m_header;
  std::string m_name;
  std::size_t m_total;
  const ImportOptions& m_options;
  int m_vertexElement = -1, m_faceElement = -1, m_indexProperty = -1, m_texcoordProperty = -1;
  int m_marks = 0;
  std::string m_failed;  // an index outside the vertices, already reported
  std::string m_why;     // why a value could not be read, when not the end of the file
  std::vector<WedgeCorner> m_wedges;
};

}  // namespace

bool ParsePly(std::span<const std::uint8_t> bytes, MeshArrays& mesh, const ImportOptions& options,
              const std::string& name, std::string* textureFile) {
  PlyHeader header;
  std::string error;
  if (!ParsePlyHeader(bytes, header, error)) {
    std::cerr << "Error: LoadPly - " << name << ": " << error << ".\n";
    return false;
  }
  PlyBodyReader reader(header, name, bytes.size(), options);
  MeshArrays read;
  if (header.IsBinary()) {
    const bool swap = (header.format == PlyFormat::kBinaryBigEndian) == (std::endian::native == std::endian::little);
    BinaryCursor cursor(bytes, header.bodyStart, swap);
    if (!reader.Read(cursor, read)) return false;
  } else {
    AsciiCursor cursor(bytes, header.bodyStart, header.lines + 1);
    if (!reader.Read(cursor, read)) return false;
  }
  if (options.progress && options.progress(1.0)) {
    std::cerr << "Error: LoadPly - " << name << ": cancelled.\n";
    return false;
  }
  if (textureFile) *textureFile = header.textureFile;
  mesh = std::move(read);
  return true;
}

bool LoadPly(const std::filesystem::path& path, MeshArrays& mesh, const ImportOptions& options) {
  utils::MappedFile file;
  std::string error;
  if (!file.Open(path, error)) {
    std::cerr << "Can't open " << path.string() << " (" << error << ")\n";
    return false;
  }
  const std::span<const std::uint8_t> bytes = file.Bytes();
  MeshArrays read;
  std::string textureFile;
  if (!ParsePly(bytes, read, options, path.string(), &textureFile)) return false;
  if (!textureFile.empty() && !read.texCoords.empty()) {
    const std::filesystem::path texturePath = path.parent_path() / textureFile;
    if (!img::LoadUniImage(read.texture, texturePath)) {
      std::cerr << "Warning: LoadPly - " << path.string() << ": the texture " << texturePath.string()
                << " could not be read; the mesh is loaded without it.\n";
    }
  }
  mesh = std::move(read);
  return true;
}

}  // namespace surf
