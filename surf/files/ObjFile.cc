#include "surf/files/ObjFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iostream>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/img/ImageIO.h"
#include "surf/files/SafeWrite.h"

namespace surf {
namespace {

namespace fs = std::filesystem;

constexpr int kMarks = 10;
constexpr std::int64_t kNone = -1;

// Reads one line without its end (LF or CRLF) into line; false at the end
// of the stream. A line longer than the limit sets tooLong.
bool ReadLine(std::istream& in, std::string& line, bool& tooLong) {
  line.clear();
  tooLong = false;
  std::streambuf* buffer = in.rdbuf();
  bool any = false;
  for (int c = buffer->sbumpc(); c != std::char_traits<char>::eof(); c = buffer->sbumpc()) {
    any = true;
    if (c == '\n') break;
    if (line.size() >= kMaxObjLineLength) {
      tooLong = true;
      return true;
    }
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

std::vector<std::string_view> SplitWords(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const std::size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The text after the first word, without surrounding blanks.
std::string_view RestOfLine(std::string_view line, std::string_view keyword) {
  std::size_t start = line.find(keyword) + keyword.size();
  std::size_t end = line.size();
  while (start < end && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
  while (end > start && std::isspace(static_cast<unsigned char>(line[end - 1]))) --end;
  return line.substr(start, end - start);
}

bool ParseFloat(std::string_view word, float& value) {
  if (!word.empty() && word[0] == '+') word.remove_prefix(1);
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  return error == std::errc() && end == word.data() + word.size();
}

template <std::size_t N>
bool ParseFloats(const std::vector<std::string_view>& words, math::Vec<N, float>& v) {
  if (words.size() < N + 1) return false;
  for (std::size_t k = 0; k < N; ++k) {
    if (!ParseFloat(words[k + 1], v[k])) return false;
  }
  return true;
}

// One integer at the start of text; advances text past it.
bool ParseIndex(std::string_view& text, std::int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

struct Corner {
  std::int64_t position = kNone, texCoord = kNone, normal = kNone;  // 1-based as in the file
};

// "p/t/n", "p//n", "p/t" or "p".
bool ParseCorner(std::string_view text, Corner& corner) {
  if (!ParseIndex(text, corner.position)) return false;
  if (text.empty()) return true;
  if (text[0] != '/') return false;
  text.remove_prefix(1);
  if (!text.empty() && text[0] != '/' && !ParseIndex(text, corner.texCoord)) return false;
  if (text.empty()) return true;
  if (text[0] != '/') return false;
  text.remove_prefix(1);
  return ParseIndex(text, corner.normal) && text.empty();
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

fs::path Resolve(const fs::path& folder, std::string_view name) {
  std::string text(name);
  std::replace(text.begin(), text.end(), '\\', '/');
  const fs::path path(text);
  return path.is_absolute() ? path : folder / path;
}

// What the OBJ text holds before the vertices are built.
struct ObjContent {
  std::vector<math::Vec3f> positions;
  std::vector<math::Vec2f> texCoords;
  std::vector<math::Vec3f> normals;
  std::vector<Corner> corners;  // three per triangle
  std::string materialFile;
  std::size_t lineNumber = 0;
};

class ObjParser {
 public:
  ObjParser(const ImportOptions& options, std::uint64_t totalBytes)
      : m_options(options), m_totalBytes(totalBytes) {}

  bool Parse(std::istream& in, ObjContent& content) {
    std::string line;
    bool tooLong = false;
    std::uint64_t bytes = 0;
    int marks = 0;
    while (ReadLine(in, line, tooLong)) {
      ++content.lineNumber;
      if (tooLong) return Fail(content, "a line longer than " + std::to_string(kMaxObjLineLength) + " characters");
      if (!ParseLine(line, content)) return false;
      bytes += line.size() + 1;
      if (m_totalBytes > 0 && bytes * kMarks >= (marks + 1) * m_totalBytes && marks < kMarks) {
        ++marks;
        if (m_options.marks) *m_options.marks << '>' << std::flush;
        if (m_options.progress && m_options.progress(0.9 * bytes / m_totalBytes)) {
          return Fail(content, "cancelled");
        }
      }
    }
    if (m_options.marks) *m_options.marks << '\n' << std::flush;
    return true;
  }

 private:
  bool ParseLine(std::string_view line, ObjContent& content) {
    const std::vector<std::string_view> words = SplitWords(line);
    if (words.empty()) return true;
    const std::string_view keyword = words[0];
    if (keyword == "v") {
      math::Vec3f p;
      if (!ParseFloats(words, p)) return Report("  vertex error in OBJ", content);
      content.positions.push_back(p);
    } else if (keyword == "vt") {
      math::Vec2f t;
      if (!ParseFloats(words, t)) return Report("  texture coordinate error in OBJ", content);
      content.texCoords.push_back(t);
    } else if (keyword == "vn") {
      math::Vec3f n;
      if (!ParseFloats(words, n)) return Report("  surface normal error in OBJ", content);
      content.normals.push_back(n);
    } else if (keyword == "f") {
      if (words.size() != 4) {
        return Fail(content, "a face with " + std::to_string(words.size() - 1) +
                                 " corners; only triangles are read");
      }
      for (std::size_t k = 1; k < 4; ++k) {
        Corner corner;
        if (!ParseCorner(words[k], corner)) return Report("  index error in OBJ", content);
        content.corners.push_back(corner);
      }
    } else if (keyword == "mtllib") {
      content.materialFile = std::string(RestOfLine(line, "mtllib"));
    }
    return true;
  }

  static bool Report(const char* message, const ObjContent& content) {
    std::cerr << message << " (line " << content.lineNumber << ")\n";
    return false;
  }
  static bool Fail(const ObjContent& content, const std::string& what) {
    std::cerr << "Error: ParseObj - line " << content.lineNumber << ": " << what << ".\n";
    return false;
  }

  const ImportOptions& m_options;
  std::uint64_t m_totalBytes;
};

// Checks that every index lies in 1…count; absent indices pass.
bool CheckIndices(const ObjContent& content) {
  for (const Corner& c : content.corners) {
    const bool bad = c.position < 1 || static_cast<std::uint64_t>(c.position) > content.positions.size() ||
                     (c.texCoord != kNone &&
                      (c.texCoord < 1 || static_cast<std::uint64_t>(c.texCoord) > content.texCoords.size())) ||
                     (c.normal != kNone &&
                      (c.normal < 1 || static_cast<std::uint64_t>(c.normal) > content.normals.size()));
    if (bad) {
      std::cerr << "  index error in OBJ: the corner " << c.position << "/" << c.texCoord << "/" << c.normal
                << " is outside " << content.positions.size() << " positions, " << content.texCoords.size()
                << " texture coordinates and " << content.normals.size() << " normals\n";
      return false;
    }
  }
  return true;
}

// Builds the vertex arrays from the corners.
MeshArrays BuildMesh(const ObjContent& content) {
  const std::vector<Corner>& corners = content.corners;
  const bool textured = !content.texCoords.empty() && !corners.empty() &&
                        std::all_of(corners.begin(), corners.end(), [](const Corner& c) { return c.texCoord != kNone; });
  const bool sameTexIndices =
      textured && content.texCoords.size() == content.positions.size() &&
      std::all_of(corners.begin(), corners.end(), [](const Corner& c) { return c.texCoord == c.position; });
  const bool normalsByPosition =
      !content.normals.empty() && !corners.empty() &&
      std::all_of(corners.begin(), corners.end(), [](const Corner& c) { return c.normal == c.position; });

  MeshArrays mesh;
  mesh.indices.reserve(corners.size());
  if (!textured || sameTexIndices) {
    mesh.positions = content.positions;
    for (const Corner& c : corners) mesh.indices.push_back(static_cast<std::uint32_t>(c.position - 1));
    if (textured) mesh.texCoords = content.texCoords;
    if (normalsByPosition && content.normals.size() == content.positions.size()) mesh.normals = content.normals;
  } else {
    std::map<std::pair<std::int64_t, std::int64_t>, std::uint32_t> vertexOfPair;
    for (const Corner& c : corners) {
      const auto [it, added] = vertexOfPair.try_emplace({c.position, c.texCoord},
                                                        static_cast<std::uint32_t>(mesh.positions.size()));
      if (added) {
        mesh.positions.push_back(content.positions[static_cast<std::size_t>(c.position - 1)]);
        mesh.texCoords.push_back(content.texCoords[static_cast<std::size_t>(c.texCoord - 1)]);
        if (normalsByPosition) mesh.normals.push_back(content.normals[static_cast<std::size_t>(c.normal - 1)]);
      }
      mesh.indices.push_back(it->second);
    }
  }
  for (math::Vec2f& t : mesh.texCoords) t[1] = 1.f - t[1];
  return mesh;
}

// The texture named by the first map_Kd line of the material file. False
// when the material file or the image cannot be read.
bool LoadMaterialTexture(const fs::path& mtlPath, img::RGBImage& texture) {
  // Only regular files: a name such as /dev/stdin must not block the reader.
  std::error_code error;
  std::ifstream in;
  if (fs::is_regular_file(mtlPath, error)) in.open(mtlPath, std::ios::binary);
  if (!in.is_open()) {
    std::cerr << "Error: ParseObj - Can't open material file " << mtlPath.string() << "\n";
    return false;
  }
  std::string line;
  bool tooLong = false;
  while (ReadLine(in, line, tooLong)) {
    if (tooLong) break;
    const std::vector<std::string_view> words = SplitWords(line);
    if (words.empty() || Lower(words[0]) != "map_kd") continue;
    const std::string_view name = RestOfLine(line, words[0]);
    const fs::path image = Resolve(mtlPath.parent_path(), name);
    if (name.empty() || !fs::is_regular_file(image, error) || !img::LoadUniImage(texture, image)) {
      std::cerr << "Error: ParseObj - Could not load the texture image " << image.string() << " named in "
                << mtlPath.string() << "\n";
      return false;
    }
    return true;
  }
  std::cout << "failed!\n";
  return true;
}

void AppendFloat(std::string& out, float value) {
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  out.append(buffer, end);
}

void AppendIndex(std::string& out, std::uint32_t index) {
  char buffer[16];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer), index + 1);
  out.append(buffer, end);
}

std::string ObjText(const MeshArrays& mesh, const std::string& mtlName) {
  std::string out;
  out.reserve(mesh.positions.size() * 40 + mesh.indices.size() * 12);
  out += "# Mesh file generated with Tarvelin Software Pro\n";
  if (!mtlName.empty()) out += "mtllib " + mtlName + "\nusemtl default\n";
  const auto line = [&](const char* keyword, const float* v, int n) {
    out += keyword;
    for (int k = 0; k < n; ++k) {
      out += ' ';
      AppendFloat(out, v[k]);
    }
    out += '\n';
  };
  for (const math::Vec3f& p : mesh.positions) line("v", p.data(), 3);
  for (const math::Vec2f& t : mesh.texCoords) {
    const float flipped[2] = {t[0], 1.f - t[1]};
    line("vt", flipped, 2);
  }
  for (const math::Vec3f& n : mesh.normals) line("vn", n.data(), 3);
  const bool tex = !mesh.texCoords.empty(), nrm = !mesh.normals.empty();
  for (std::size_t i = 0; i < mesh.indices.size(); i += 3) {
    out += 'f';
    for (std::size_t k = 0; k < 3; ++k) {
      out += ' ';
      AppendIndex(out, mesh.indices[i + k]);
      if (tex || nrm) out += '/';
      if (tex) AppendIndex(out, mesh.indices[i + k]);
      if (nrm) {
        out += '/';
        AppendIndex(out, mesh.indices[i + k]);
      }
    }
    out += '\n';
  }
  return out;
}

bool WriteText(const fs::path& path, const std::string& text) {
  return WriteStreamSafely(path, [&](std::ostream& out) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return out.good();
  });
}

}  // namespace

bool ParseObj(std::istream& in, const fs::path& folder, MeshArrays& mesh, const ImportOptions& options,
              std::uint64_t totalBytes) {
  ObjContent content;
  ObjParser parser(options, totalBytes);
  if (!parser.Parse(in, content) || !CheckIndices(content)) return false;
  MeshArrays built = BuildMesh(content);
  if (!content.materialFile.empty() && !LoadMaterialTexture(Resolve(folder, content.materialFile), built.texture)) {
    return false;
  }
  if (options.progress) options.progress(1.0);
  mesh = std::move(built);
  return true;
}

bool LoadObj(const fs::path& path, MeshArrays& mesh, const ImportOptions& options) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  if (!in || fs::is_directory(path, error)) {
    std::cerr << "Can't open " << path.string() << "\n";
    return false;
  }
  const std::uintmax_t size = fs::file_size(path, error);
  return ParseObj(in, path.parent_path(), mesh, options, error ? 0 : size);
}

bool SaveMtl(const fs::path& path, const std::string& textureFileName) {
  return WriteText(path,
                   "newmtl default\n"
                   "Ka 0.6 0.6 0.6\n"
                   "Kd 0.6 0.6 0.6\n"
                   "Ks 0.9 0.9 0.9\n"
                   "d  1.0\n"
                   "Ns 0.0\n"
                   "illum 2\n"
                   "map_Kd " +
                       textureFileName + "\n");
}

bool SaveObj(const fs::path& path, const MeshArrays& mesh, const ObjExportOptions& options) {
  std::string error;
  if (!mesh.IsValid(&error)) {
    std::cerr << "Error: SaveObj - " << error << ".\n";
    return false;
  }
  std::string mtlName;
  if (!mesh.texture.IsEmpty()) {
    if (options.textureQuality < 1 || options.textureQuality > 100) {
      std::cerr << "Error: Texture quality is " << options.textureQuality << ", it is out of limit range 1-100\n";
      return false;
    }
    if (options.textureFormat != "png" && options.textureFormat != "jpg") {
      std::cerr << "Error: SaveObj - Unknown texture format " << options.textureFormat << "\n";
      return false;
    }
    const std::string stem = path.stem().string();
    const std::string imageName = stem + "." + options.textureFormat;
    mtlName = stem + ".mtl";
    const fs::path folder = path.parent_path();
    const bool imageWritten = WriteFileSafely(folder / imageName, [&](const fs::path& temporary) {
      return options.textureFormat == "png" ? img::SavePNG(mesh.texture, temporary)
                                            : img::SaveJPEG(mesh.texture, temporary, options.textureQuality);
    });
    if (!imageWritten || !SaveMtl(folder / mtlName, imageName)) {
      std::cerr << "Error: SaveObj - Could not write the texture or material beside " << path.string() << "\n";
      return false;
    }
  }
  if (!WriteText(path, ObjText(mesh, mtlName))) {
    std::cerr << "Error: SaveObj - Could not write " << path.string() << "\n";
    return false;
  }
  return true;
}

}  // namespace surf
