#include "sim/SceneFile.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string_view>
#include <vector>

#include "foundation/img/ImageIO.h"

namespace sim {
namespace {

using json = nlohmann::json;

constexpr std::uintmax_t kMaxFileBytes = 16u << 20;
constexpr double kMaxLength = 1e5;  // mm

// Where in the file a value sits, for messages: "objects[2].texture".
class Context {
 public:
  Context(const std::string& source, std::string path)
      : m_source(source), m_path(std::move(path)) {}

  Context Child(const std::string& key) const { return {m_source, Where(key)}; }
  Context Element(std::size_t index) const {
    return {m_source, m_path + "[" + std::to_string(index) + "]"};
  }
  std::string Where(const std::string& key) const {
    return m_path.empty() ? key : m_path + "." + key;
  }
  [[noreturn]] void Fail(const std::string& text) const {
    throw SceneFileError(m_source + ": " + (m_path.empty() ? "" : m_path + ": ") + text);
  }
  [[noreturn]] void Fail(const std::string& key, const std::string& text) const {
    Child(key).Fail(text);
  }

 private:
  const std::string& m_source;
  std::string m_path;
};

std::string Show(const json& value) {
  std::string text = value.dump();
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return text;
}

std::string ShowNumber(double x) {
  std::ostringstream out;
  out << x;
  return out.str();
}

void CheckObject(const json& value, const Context& context) {
  if (!value.is_object()) context.Fail("expected an object, got " + Show(value));
}

// what names the kind of entry in the message ("a sphere"), if given.
void CheckKeys(const json& object, const Context& context,
               const std::vector<std::string_view>& allowed, const std::string& what = "") {
  for (const auto& item : object.items()) {
    bool known = false;
    for (std::string_view key : allowed) known = known || item.key() == key;
    if (!known) {
      std::string list;
      for (std::string_view key : allowed) list += (list.empty() ? "" : ", ") + std::string(key);
      context.Fail("unknown key \"" + item.key() + "\"" + (what.empty() ? "" : " for " + what) +
                   " (expected one of: " + list + ")");
    }
  }
}

// A number in [lo, hi] (lo excluded when positive is set).
double GetNumber(const json& object, const Context& context, const char* key, double fallback,
                 double lo, double hi, bool loExcluded = false) {
  const auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_number()) context.Fail(key, "expected a number, got " + Show(*it));
  const double x = it->get<double>();
  if (!std::isfinite(x) || x < lo || x > hi || (loExcluded && x == lo)) {
    context.Fail(key, std::string("must be a number ") + (loExcluded ? "> " : ">= ") +
                          ShowNumber(lo) + " and <= " + ShowNumber(hi) + ", got " + Show(*it));
  }
  return x;
}

double GetLength(const json& object, const Context& context, const char* key, double fallback) {
  return GetNumber(object, context, key, fallback, 0, kMaxLength, true);
}

long long GetInteger(const json& object, const Context& context, const char* key,
                     long long fallback, long long lo, long long hi) {
  const auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_number_integer()) context.Fail(key, "expected an integer, got " + Show(*it));
  if (it->is_number_unsigned() && it->get<std::uint64_t>() > static_cast<std::uint64_t>(hi)) {
    context.Fail(key, "must be at most " + std::to_string(hi) + ", got " + Show(*it));
  }
  const long long x = it->get<long long>();
  if (x < lo || x > hi) {
    context.Fail(key, "must be an integer in " + std::to_string(lo) + "…" + std::to_string(hi) +
                          ", got " + Show(*it));
  }
  return x;
}

std::uint64_t GetSeed(const json& object, const Context& context, const char* key,
                      std::uint64_t fallback) {
  const auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_number_unsigned()) {
    context.Fail(key, "expected an integer >= 0, got " + Show(*it));
  }
  return it->get<std::uint64_t>();
}

std::string GetString(const json& object, const Context& context, const char* key,
                      const std::string& fallback) {
  const auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_string()) context.Fail(key, "expected a string, got " + Show(*it));
  return it->get<std::string>();
}

std::vector<double> GetNumbers(const json& object, const Context& context, const char* key,
                               std::size_t count, double lo, double hi, bool loExcluded) {
  const json& value = object.at(key);
  if (!value.is_array() || value.size() != count) {
    context.Fail(key,
                 "expected an array of " + std::to_string(count) + " numbers, got " + Show(value));
  }
  std::vector<double> result;
  const Context inner = context.Child(key);
  for (std::size_t i = 0; i < count; ++i) {
    const Context element = inner.Element(i);
    if (!value[i].is_number()) element.Fail("expected a number, got " + Show(value[i]));
    const double x = value[i].get<double>();
    if (!std::isfinite(x) || x < lo || x > hi || (loExcluded && x == lo)) {
      element.Fail(std::string("must be a number ") + (loExcluded ? "> " : ">= ") + ShowNumber(lo) +
                   " and <= " + ShowNumber(hi) + ", got " + Show(value[i]));
    }
    result.push_back(x);
  }
  return result;
}

math::Vec3d GetVec3(const json& object, const Context& context, const char* key,
                    const math::Vec3d& fallback, double limit = kMaxLength) {
  if (!object.contains(key)) return fallback;
  const std::vector<double> v = GetNumbers(object, context, key, 3, -limit, limit, false);
  return {v[0], v[1], v[2]};
}

Albedo GetAlbedo(const json& object, const Context& context, const char* key,
                 const Albedo& fallback) {
  const auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (it->is_number()) {
    const auto a = static_cast<float>(GetNumber(object, context, key, 0, 0, 1));
    return {a, a, a};
  }
  if (!it->is_array()) {
    context.Fail(key, "expected a number or [r, g, b] in 0…1, got " + Show(*it));
  }
  const std::vector<double> v = GetNumbers(object, context, key, 3, 0, 1, false);
  return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

TextureDescription ReadTexture(const json& value, const Context& context) {
  CheckObject(value, context);
  CheckKeys(value, context, {"file", "checker", "albedo2"});
  TextureDescription t;
  const bool hasFile = value.contains("file"), hasChecker = value.contains("checker");
  if (hasFile == hasChecker) context.Fail("expected either \"file\" or \"checker\"");
  if (hasFile) {
    t.file = GetString(value, context, "file", "");
    if (t.file.empty()) context.Fail("file", "must not be empty");
  } else {
    const std::vector<double> cells = GetNumbers(value, context, "checker", 2, 1, 1024, false);
    if (cells[0] != std::floor(cells[0]) || cells[1] != std::floor(cells[1])) {
      context.Fail("checker", "expected two whole cell counts, got " + Show(value["checker"]));
    }
    t.cellsS = static_cast<int>(cells[0]);
    t.cellsT = static_cast<int>(cells[1]);
  }
  t.albedo2 = GetAlbedo(value, context, "albedo2", t.albedo2);
  return t;
}

ObjectKind ReadKind(const json& object, const Context& context) {
  const auto it = object.find("type");
  if (it == object.end()) context.Fail("missing \"type\" (sphere, torus, vase, box, blob or mesh)");
  const std::string type = GetString(object, context, "type", "");
  for (ObjectKind kind : {ObjectKind::kSphere, ObjectKind::kTorus, ObjectKind::kVase,
                          ObjectKind::kBox, ObjectKind::kBlob, ObjectKind::kMesh}) {
    if (type == ToString(kind)) return kind;
  }
  context.Fail("type", "unknown object type \"" + type +
                           "\" (expected sphere, torus, vase, box, blob or mesh)");
}

ObjectDescription ReadObject(const json& value, const Context& context) {
  CheckObject(value, context);
  ObjectDescription o;
  o.kind = ReadKind(value, context);
  auto keys = [&](std::initializer_list<std::string_view> own) {
    std::vector<std::string_view> all = {"type",         "name",   "position",
                                         "rotation_deg", "albedo", "texture"};
    if (o.kind != ObjectKind::kMesh) all.push_back("resolution");
    all.insert(all.end(), own.begin(), own.end());
    CheckKeys(value, context, all, std::string("a ") + ToString(o.kind));
  };
  switch (o.kind) {
    case ObjectKind::kSphere:
      keys({"radius"});
      o.sphere.radius = GetLength(value, context, "radius", o.sphere.radius);
      break;
    case ObjectKind::kTorus:
      keys({"major_radius", "minor_radius"});
      o.torus.majorRadius = GetLength(value, context, "major_radius", o.torus.majorRadius);
      o.torus.minorRadius = GetLength(value, context, "minor_radius", o.torus.minorRadius);
      break;
    case ObjectKind::kVase:
      keys({"radius", "height", "ribs", "rib_depth"});
      o.vase.radius = GetLength(value, context, "radius", o.vase.radius);
      o.vase.height = GetLength(value, context, "height", o.vase.height);
      o.vase.ribs = static_cast<int>(GetInteger(value, context, "ribs", o.vase.ribs, 0, 1000));
      o.vase.ribDepth = GetNumber(value, context, "rib_depth", o.vase.ribDepth, 0, kMaxLength);
      break;
    case ObjectKind::kBox:
      keys({"size", "chamfer"});
      if (value.contains("size")) {
        const std::vector<double> s = GetNumbers(value, context, "size", 3, 0, kMaxLength, true);
        o.box.size = math::Vec3d(s[0], s[1], s[2]);
      }
      o.box.chamfer = GetLength(value, context, "chamfer", o.box.chamfer);
      break;
    case ObjectKind::kBlob:
      keys({"radius", "bumps", "bump_height", "bump_widths", "seed"});
      o.blob.radius = GetLength(value, context, "radius", o.blob.radius);
      o.blob.bumps = static_cast<int>(GetInteger(value, context, "bumps", o.blob.bumps, 0, 1000));
      o.blob.bumpHeight = GetNumber(value, context, "bump_height", o.blob.bumpHeight, 0, 0.5);
      if (value.contains("bump_widths")) {
        const std::vector<double> w = GetNumbers(value, context, "bump_widths", 2, 0, 3.14159, true);
        if (w[0] > w[1]) context.Fail("bump_widths", "the first width must not exceed the second");
        o.blob.minBumpWidth = w[0];
        o.blob.maxBumpWidth = w[1];
      }
      o.blob.seed = GetSeed(value, context, "seed", o.blob.seed);
      break;
    case ObjectKind::kMesh:
    case ObjectKind::kPanel:
      keys({"file", "scale"});
      o.file = GetString(value, context, "file", "");
      if (o.file.empty()) context.Fail("a mesh needs a \"file\"");
      o.scale = GetNumber(value, context, "scale", o.scale, 0, 1e6, true);
      break;
  }
  o.name = GetString(value, context, "name", ToString(o.kind));
  o.position = GetVec3(value, context, "position", o.position);
  o.rotationDeg = GetVec3(value, context, "rotation_deg", o.rotationDeg, 3600);
  o.resolution = GetNumber(value, context, "resolution", o.resolution, 1e-3, 1e3);
  o.albedo = GetAlbedo(value, context, "albedo", o.albedo);
  if (value.contains("texture")) {
    o.hasTexture = true;
    o.texture = ReadTexture(value["texture"], context.Child("texture"));
  }
  return o;
}

PanelDescription ReadPanel(const json& value, const Context& context) {
  CheckObject(value, context);
  CheckKeys(value, context, {"name", "size", "position", "rotation_deg", "albedo", "texture"});
  PanelDescription p;
  p.name = GetString(value, context, "name", p.name);
  if (value.contains("size")) {
    const std::vector<double> s = GetNumbers(value, context, "size", 2, 0, kMaxLength, true);
    p.spec = {s[0], s[1]};
  }
  p.position = GetVec3(value, context, "position", p.position);
  p.rotationDeg = GetVec3(value, context, "rotation_deg", p.rotationDeg, 3600);
  p.albedo = GetAlbedo(value, context, "albedo", p.albedo);
  if (value.contains("texture")) {
    p.hasTexture = true;
    p.texture = ReadTexture(value["texture"], context.Child("texture"));
  }
  return p;
}

const json* GetArray(const json& root, const Context& context, const char* key) {
  const auto it = root.find(key);
  if (it == root.end()) return nullptr;
  if (!it->is_array()) context.Fail(key, "expected an array, got " + Show(*it));
  return &*it;
}

json ToJson(const math::Vec3d& v) { return json::array({v[0], v[1], v[2]}); }
json ToJson(const Albedo& a) { return json::array({double(a[0]), double(a[1]), double(a[2])}); }
json ToJson(const TextureDescription& t) {
  json j = json::object();
  if (t.file.empty()) {
    j["checker"] = json::array({t.cellsS, t.cellsT});
  } else {
    j["file"] = t.file.generic_string();
  }
  j["albedo2"] = ToJson(t.albedo2);
  return j;
}

math::Frame4d PoseOf(const math::Vec3d& position, const math::Vec3d& rotationDeg) {
  const double k = std::numbers::pi / 180;
  return math::FTrans(position) * math::FRotZ(rotationDeg[2] * k) *
         math::FRotY(rotationDeg[1] * k) * math::FRotX(rotationDeg[0] * k);
}

// The text after "Class::Method - " of a library message.
std::string Reason(const std::exception& e) {
  const std::string text = e.what();
  const std::size_t dash = text.find(" - ");
  return dash == std::string::npos ? text : text.substr(dash + 3);
}

std::shared_ptr<const AlbedoTexture> BuildTexture(const TextureDescription& t, const Albedo& albedo,
                                                  const std::filesystem::path& base,
                                                  const Context& context) {
  if (t.file.empty()) return AlbedoTexture::MakeChecker(t.cellsS, t.cellsT, albedo, t.albedo2);
  const std::filesystem::path path = t.file.is_absolute() ? t.file : base / t.file;
  img::RGBImage image;
  if (!img::LoadUniImage(image, path) || image.IsEmpty()) {
    context.Fail("file", "cannot read the image \"" + path.string() + "\"");
  }
  return std::make_shared<const AlbedoTexture>(std::move(image));
}

// A checker carries the albedo in its cells; an image is scaled by it.
void ApplyTexture(TriMesh& mesh, Albedo& albedo, bool hasTexture, const TextureDescription& t,
                  const std::filesystem::path& base, const Context& context) {
  if (!hasTexture) return;
  if (mesh.texCoords.size() != mesh.positions.size()) {
    context.Fail("the mesh has no texture coordinates for a texture");
  }
  mesh.texture = BuildTexture(t, albedo, base, context.Child("texture"));
  if (t.file.empty()) albedo = Albedo(1.f, 1.f, 1.f);
}

}  // namespace

SceneDescription ParseSceneDescription(std::string_view text, const std::string& sourceName,
                                       const std::filesystem::path& baseDirectory) {
  const Context root(sourceName, "");
  json document;
  try {
    document = json::parse(text.begin(), text.end());
  } catch (const json::exception& e) {  // syntax errors and numbers out of range
    root.Fail(std::string("not valid JSON: ") + e.what());
  }
  CheckObject(document, root);
  CheckKeys(document, root,
            {"version", "objects", "panels", "turntable", "ambient_light", "noise_sigma",
             "latency_ms", "frame_rate_hz"});
  if (GetInteger(document, root, "version", 1, 0, INT32_MAX) != 1) {
    root.Fail("version", "only version 1 is known, got " + Show(document["version"]));
  }
  SceneDescription d;
  d.baseDirectory = baseDirectory;
  if (const json* objects = GetArray(document, root, "objects")) {
    for (std::size_t i = 0; i < objects->size(); ++i) {
      d.objects.push_back(ReadObject((*objects)[i], root.Child("objects").Element(i)));
    }
  }
  if (const json* panels = GetArray(document, root, "panels")) {
    for (std::size_t i = 0; i < panels->size(); ++i) {
      d.panels.push_back(ReadPanel((*panels)[i], root.Child("panels").Element(i)));
    }
  }
  if (document.contains("turntable")) {
    const json& t = document["turntable"];
    const Context context = root.Child("turntable");
    CheckObject(t, context);
    CheckKeys(t, context, {"centre", "axis", "angle_deg"});
    d.turntableCentre = GetVec3(t, context, "centre", d.turntableCentre);
    d.turntableAxis = GetVec3(t, context, "axis", d.turntableAxis);
    if (!(d.turntableAxis.Length() > 0)) context.Fail("axis", "must not be zero");
    d.turntableAngleDeg = GetNumber(t, context, "angle_deg", 0, -3600, 3600);
  }
  RigSettings& s = d.settings;
  s.ambientLight = GetNumber(document, root, "ambient_light", s.ambientLight, 0, 1);
  s.noiseSigma = GetNumber(document, root, "noise_sigma", s.noiseSigma, 0, 255);
  s.latencyMs = GetNumber(document, root, "latency_ms", s.latencyMs, 0, 10000);
  s.frameRateHz = GetNumber(document, root, "frame_rate_hz", s.frameRateHz, 0, 1000, true);
  return d;
}

SceneDescription ReadSceneFile(const std::filesystem::path& path) {
  const std::string source = path.string();
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throw SceneFileError(source + ": cannot read the file (" + error.message() + ")");
  if (size > kMaxFileBytes) {
    throw SceneFileError(source + ": " + std::to_string(size) +
                         " bytes is too large for a scene file");
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) throw SceneFileError(source + ": cannot read the file");
  return ParseSceneDescription(text.str(), source, path.parent_path());
}

std::string WriteSceneDescription(const SceneDescription& d) {
  json root = json::object();
  root["version"] = 1;
  json objects = json::array();
  for (const ObjectDescription& o : d.objects) {
    json j = json::object();
    j["type"] = ToString(o.kind);
    j["name"] = o.name;
    switch (o.kind) {
      case ObjectKind::kSphere:
        j["radius"] = o.sphere.radius;
        break;
      case ObjectKind::kTorus:
        j["major_radius"] = o.torus.majorRadius;
        j["minor_radius"] = o.torus.minorRadius;
        break;
      case ObjectKind::kVase:
        j["radius"] = o.vase.radius;
        j["height"] = o.vase.height;
        j["ribs"] = o.vase.ribs;
        j["rib_depth"] = o.vase.ribDepth;
        break;
      case ObjectKind::kBox:
        j["size"] = ToJson(o.box.size);
        j["chamfer"] = o.box.chamfer;
        break;
      case ObjectKind::kBlob:
        j["radius"] = o.blob.radius;
        j["bumps"] = o.blob.bumps;
        j["bump_height"] = o.blob.bumpHeight;
        j["bump_widths"] = {o.blob.minBumpWidth, o.blob.maxBumpWidth};
        j["seed"] = o.blob.seed;
        break;
      case ObjectKind::kMesh:
      case ObjectKind::kPanel:
        j["file"] = o.file.generic_string();
        j["scale"] = o.scale;
        break;
    }
    j["position"] = ToJson(o.position);
    j["rotation_deg"] = ToJson(o.rotationDeg);
    if (o.kind != ObjectKind::kMesh) j["resolution"] = o.resolution;
    j["albedo"] = ToJson(o.albedo);
    if (o.hasTexture) j["texture"] = ToJson(o.texture);
    objects.push_back(std::move(j));
  }
  root["objects"] = std::move(objects);
  json panels = json::array();
  for (const PanelDescription& p : d.panels) {
    json j = json::object();
    j["name"] = p.name;
    j["size"] = json::array({p.spec.width, p.spec.height});
    j["position"] = ToJson(p.position);
    j["rotation_deg"] = ToJson(p.rotationDeg);
    j["albedo"] = ToJson(p.albedo);
    if (p.hasTexture) j["texture"] = ToJson(p.texture);
    panels.push_back(std::move(j));
  }
  root["panels"] = std::move(panels);
  root["turntable"] = {{"centre", ToJson(d.turntableCentre)},
                       {"axis", ToJson(d.turntableAxis)},
                       {"angle_deg", d.turntableAngleDeg}};
  root["ambient_light"] = d.settings.ambientLight;
  root["noise_sigma"] = d.settings.noiseSigma;
  root["latency_ms"] = d.settings.latencyMs;
  root["frame_rate_hz"] = d.settings.frameRateHz;
  return root.dump(2) + "\n";
}

Scene BuildScene(const SceneDescription& d, const MeshLoader& loadMesh,
                 const std::string& sourceName) {
  Scene scene;
  for (std::size_t i = 0; i < d.objects.size(); ++i) {
    const ObjectDescription& o = d.objects[i];
    const Context context = Context(sourceName, "objects").Element(i);
    try {
      ProceduralMesh object;
      switch (o.kind) {
        case ObjectKind::kSphere:
          object = MakeSphere(o.sphere, o.resolution);
          break;
        case ObjectKind::kTorus:
          object = MakeTorus(o.torus, o.resolution);
          break;
        case ObjectKind::kVase:
          object = MakeVase(o.vase, o.resolution);
          break;
        case ObjectKind::kBox:
          object = MakeChamferedBox(o.box, o.resolution);
          break;
        case ObjectKind::kBlob:
          object = MakeBlob(o.blob, o.resolution);
          break;
        case ObjectKind::kMesh:
        case ObjectKind::kPanel: {
          if (!loadMesh) context.Fail("mesh objects need a mesh-file reader");
          const std::filesystem::path path =
              o.file.is_absolute() ? o.file : d.baseDirectory / o.file;
          try {
            object.mesh = loadMesh(path);
          } catch (const std::exception& e) {
            context.Fail("file", "cannot load the mesh \"" + path.string() + "\": " + e.what());
          }
          for (math::Vec3f& p : object.mesh.positions) p *= static_cast<float>(o.scale);
          break;
        }
      }
      Albedo albedo = o.albedo;
      ApplyTexture(object.mesh, albedo, o.hasTexture, o.texture, d.baseDirectory, context);
      scene.AddProcedural(o.kind == ObjectKind::kPanel ? ObjectKind::kMesh : o.kind,
                          std::move(object), PoseOf(o.position, o.rotationDeg), albedo, o.name);
    } catch (const std::invalid_argument& e) {
      context.Fail(std::string("cannot build the ") + ToString(o.kind) + ": " + Reason(e));
    }
  }
  for (std::size_t i = 0; i < d.panels.size(); ++i) {
    const PanelDescription& p = d.panels[i];
    const Context context = Context(sourceName, "panels").Element(i);
    try {
      ProceduralMesh panel = MakePanel(p.spec);
      Albedo albedo = p.albedo;
      ApplyTexture(panel.mesh, albedo, p.hasTexture, p.texture, d.baseDirectory, context);
      scene.AddProcedural(ObjectKind::kPanel, std::move(panel), PoseOf(p.position, p.rotationDeg),
                          albedo, p.name);
    } catch (const std::invalid_argument& e) {
      context.Fail("cannot build the panel: " + Reason(e));
    }
  }
  try {
    scene.SetTurntable(
        {d.turntableCentre, d.turntableAxis, d.turntableAngleDeg * std::numbers::pi / 180});
  } catch (const std::invalid_argument& e) {
    Context(sourceName, "turntable").Fail(Reason(e));
  }
  return scene;
}

}  // namespace sim
