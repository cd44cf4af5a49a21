#include "v3d/GlDisplay.h"

#include <GL/glew.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "v3d/DataTip.h"
#include "v3d/Font.h"
#include "v3d/Navigation.h"
#include "v3d/Scene.h"
#include "v3d/SurfaceClosure.h"

namespace v3d {
namespace {

// The renderer's program: colour material (vertex or global colour) or
// the texture's colour (textured meshes are drawn in white), no lighting, or lighting with the context's
// lights from smooth normals or from the screen-space derivative of the eye
// position (flat). Back faces are lit from behind (two-sided).
constexpr const char* kVertexShader = R"(
varying vec3 vEye;
varying vec3 vNormal;
varying vec4 vColor;
varying vec2 vTexCoord;
void main() {
  vec4 eye = gl_ModelViewMatrix * gl_Vertex;
  vEye = eye.xyz;
  vNormal = gl_NormalMatrix * gl_Normal;
#if !TEXTURE
  vColor = gl_Color;
#endif
  vTexCoord = gl_MultiTexCoord0.xy;
  gl_Position = gl_ProjectionMatrix * eye;
}
)";

constexpr const char* kFragmentShader = R"(
uniform int uNumLights;
uniform sampler2D uSampler;
varying vec3 vEye;
varying vec3 vNormal;
varying vec4 vColor;
varying vec2 vTexCoord;
vec3 Light(int i, vec3 n, vec3 v, vec3 base) {
  vec4 p = gl_LightSource[i].position;
  vec3 l = normalize(p.w == 0.0 ? p.xyz : p.xyz - vEye);
  float diffuse = max(dot(n, l), 0.0);
  float specular = diffuse > 0.0 ? pow(max(dot(n, normalize(l + v)), 0.0), gl_FrontMaterial.shininess) : 0.0;
  return base * (gl_LightSource[i].ambient.rgb + gl_LightSource[i].diffuse.rgb * diffuse) +
         gl_LightSource[i].specular.rgb * gl_FrontMaterial.specular.rgb * specular;
}
void main() {
#if TEXTURE
  vec4 base = texture2D(uSampler, vTexCoord);
#else
  vec4 base = vColor;
#endif
#if LIGHTING
#if FLAT
  vec3 n = normalize(cross(dFdx(vEye), dFdy(vEye)));
#else
  vec3 n = normalize(vNormal);
#endif
  if (dot(n, vEye) > 0.0) n = -n;
  vec3 v = normalize(-vEye);
  vec3 color = gl_LightModel.ambient.rgb * base.rgb + Light(0, n, v, base.rgb);
  if (uNumLights > 1) {  // the usual single light (a headlight) skips the loop
    for (int i = 1; i < 8; ++i) {
      if (i >= uNumLights) break;
      color += Light(i, n, v, base.rgb);
    }
  }
  gl_FragColor = vec4(color, base.a);
#else
  gl_FragColor = base;
#endif
}
)";

// The program variant for lighting, flat shading and texture: each is its
// own compiled program, since the software renderer runs both sides of a
// branch on a uniform.
std::string VariantHeader(int variant) {
  return std::string("#version 120\n#define LIGHTING ") + ((variant & 1) ? "1" : "0") + "\n#define FLAT " +
         ((variant & 2) ? "1" : "0") + "\n#define TEXTURE " + ((variant & 4) ? "1" : "0") + "\n";
}

GLenum GlFormat(gl::Enum format) { return static_cast<GLenum>(format); }

GLint InternalFormat(const Texture& texture) {
  switch (texture.GetNumComponents()) {
    case 1:
      return texture.GetFormat() == gl::kRed ? GL_RED : GL_LUMINANCE;
    case 2:
      return texture.GetFormat() == gl::kRg ? GL_RG : GL_LUMINANCE_ALPHA;
    case 3:
      return GL_RGB;
    default:
      return GL_RGBA;
  }
}

bool IsFinite(const math::Vec3f& p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

GLenum PrimitiveOf(std::uint32_t primSize) {
  switch (PrimitiveModeOf(primSize)) {
    case PrimitiveMode::kPoints:
      return GL_POINTS;
    case PrimitiveMode::kLines:
      return GL_LINES;
    case PrimitiveMode::kQuads:
      return GL_QUADS;
    default:
      return GL_TRIANGLES;
  }
}

void LoadMatrix(const math::Frame4d& frame) { glLoadMatrixd(frame.data()); }

// Mesa's software renderers allocate every frame's vertices and triangle
// bins afresh (tens of MB for a million triangles) and free them when the
// frame is done; glibc would give the freed top of the heap back to the
// kernel each time and fault the same pages in again for the next frame.
// Freed memory is kept for the next frame instead (the process keeps its
// peak heap).
void KeepFrameMemory(const std::string& renderer) {
  static bool kept = false;
  if (kept || (renderer.find("llvmpipe") == std::string::npos &&
               renderer.find("softpipe") == std::string::npos)) {
    return;
  }
  kept = true;
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 16 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

// GL eye coordinates (y up, looking along −z) from camera coordinates.
math::Frame4d EyeFromCamera() {
  math::Frame4d flip;
  flip(1, 1) = -1.0;
  flip(2, 2) = -1.0;
  return flip;
}

// Möller–Trumbore: the ray parameter of the hit, or a negative value.
double IntersectTriangle(const math::Vec3d& origin, const math::Vec3d& direction, const math::Vec3d& a,
                         const math::Vec3d& b, const math::Vec3d& c) {
  const math::Vec3d e1 = b - a, e2 = c - a;
  const math::Vec3d p = direction ^ e2;
  const double det = math::Dot(e1, p);
  if (std::abs(det) < 1e-14) return -1.0;
  const double inv = 1.0 / det;
  const math::Vec3d s = origin - a;
  const double u = math::Dot(s, p) * inv;
  if (u < 0.0 || u > 1.0) return -1.0;
  const math::Vec3d q = s ^ e1;
  const double v = math::Dot(direction, q) * inv;
  if (v < 0.0 || u + v > 1.0) return -1.0;
  return math::Dot(e2, q) * inv;
}

}  // namespace

struct GuidHash {
  std::size_t operator()(const utils::Guid& guid) const {
    std::uint64_t a = 0, b = 0;
    std::copy_n(guid.Data(), 8, reinterpret_cast<std::uint8_t*>(&a));
    std::copy_n(guid.Data() + 8, 8, reinterpret_cast<std::uint8_t*>(&b));
    return static_cast<std::size_t>(a ^ (b * 0x9E3779B97F4A7C15ull));
  }
};

// The buffers of one mesh on the display, keyed by the mesh's GUID.
struct MeshBuffers {
  GLuint position = 0, normal = 0, color = 0, texCoord = 0, index = 0;
  std::uint32_t counters[5] = {0, 0, 0, 0, 0};  // positions, normals, colours, tex coords, prims
  std::uint32_t primSize = 0;
  std::size_t numVertices = 0;
  GLsizei numIndices = 0;
  bool hasNormals = false, hasColors = false, hasTexCoords = false;
  bool translucentColors = false;  // some vertex colour has alpha below 255
  bool allDrawn = false;           // no primitive left out
  // Whether the mesh encloses space, found once it is drawn a second time
  // unchanged (a picture drawn once does not wait for it).
  int drawsUnchanged = 0;
  bool closureKnown = false;
  Closure closure = Closure::kOpen;
  math::Vec3f low, high;               // the box of the positions, for a closed mesh
  std::vector<std::uint32_t> indices;  // the drawn indices (kept without buffer objects)
  std::uint64_t lastFrame = 0;
};

struct GlDisplay::Impl {
  struct Variant {
    ProgramBuild program;
    GLint uNumLights = -1, uSampler = -1;
  };
  std::array<Variant, 8> variants;  // bit 0 lighting, 1 flat, 2 texture
  bool programsFailed = false;
  std::unordered_map<utils::Guid, MeshBuffers, GuidHash> meshes;
  std::size_t uploads = 0;
  std::size_t culledDraws = 0;
  std::uint64_t frame = 0;
  int numLights = 0;
  bool depthOnly = false;  // the picking pass
  std::unique_ptr<Font> defaultFont;

  void DeleteBuffers(MeshBuffers& b) {
    GLuint names[5] = {b.position, b.normal, b.color, b.texCoord, b.index};
    if (GLEW_VERSION_1_5) glDeleteBuffers(5, names);
    b = MeshBuffers();
  }
};

GlDisplay::GlDisplay() : m_impl(std::make_unique<Impl>()) {}

GlDisplay::~GlDisplay() = default;

void GlDisplay::MakeCurrent(bool on) {
  if (on) {
    if (m_currentDepth++ == 0 || !IsCurrent()) SwitchContext(true);
  } else if (m_currentDepth > 0 && --m_currentDepth == 0) {
    SwitchContext(false);
  }
}

void GlDisplay::SetScene(Scene* scene) {
  if (m_scene == scene) return;
  if (m_scene) m_scene->SetDisplay(nullptr);
  m_scene = scene;
  if (m_scene) m_scene->SetDisplay(this);
}

void GlDisplay::InitGL(const Color4f& clearColor) {
  static bool glewLoaded = false;
  if (!glewLoaded) {
    // Not experimental: the version flags must follow the context's version
    // string, not which entry points happen to resolve.
    const GLenum result = glewInit();
    // Without a GLX display (EGL contexts) GLEW loads the OpenGL entry points
    // and then reports that it has no GLX: that is no failure here.
    if (result != GLEW_OK && result != GLEW_ERROR_NO_GLX_DISPLAY) {
      throw std::runtime_error(std::string("v3d::GlDisplay::InitGL - GLEW could not load OpenGL: ") +
                               reinterpret_cast<const char*>(glewGetErrorString(result)));
    }
    glewLoaded = true;
  }
  if (!glGetString(GL_VERSION)) throw std::runtime_error("v3d::GlDisplay::InitGL - No OpenGL context is current.");
  m_clearColor = clearColor;
  glClearDepth(1.0);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_DEPTH_TEST);
  glClearColor(clearColor.r, clearColor.g, clearColor.b, clearColor.a);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  const Viewport& vp = GetViewport();
  glViewport(vp.x, vp.y, vp.width, vp.height);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  const GLfloat specular[4] = {1.f, 1.f, 1.f, 1.f};
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 40.f);
  glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
  glEnable(GL_COLOR_MATERIAL);
  glEnable(GL_LIGHTING);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glEnable(GLEW_VERSION_1_2 ? GL_RESCALE_NORMAL : GL_NORMALIZE);

  struct Version {
    int major, minor;
    GLboolean supported;
  };
  const Version versions[] = {{4, 1, GLEW_VERSION_4_1}, {4, 0, GLEW_VERSION_4_0}, {3, 3, GLEW_VERSION_3_3},
                              {3, 2, GLEW_VERSION_3_2}, {3, 1, GLEW_VERSION_3_1}, {3, 0, GLEW_VERSION_3_0},
                              {2, 1, GLEW_VERSION_2_1}, {2, 0, GLEW_VERSION_2_0}, {1, 5, GLEW_VERSION_1_5},
                              {1, 4, GLEW_VERSION_1_4}, {1, 3, GLEW_VERSION_1_3}, {1, 2, GLEW_VERSION_1_2},
                              {1, 1, GLEW_VERSION_1_1}};
  m_info = GlInfo();
  for (const Version& v : versions) {
    if (v.supported) {
      m_info.major = v.major;
      m_info.minor = v.minor;
      break;
    }
  }
  if (m_info.major == 0) {
    std::cout << "INFO: OpenGL 1.1 not supported.\n";
  } else {
    std::cout << "INFO: OpenGL " << m_info.major << "." << m_info.minor << " supported.\n";
  }
  GLint maxTexture = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
  m_info.maxTextureSize = maxTexture;
  std::cout << "INFO: Maximum texture resolution for rendering is " << maxTexture << "x" << maxTexture << "\n"
            << std::flush;
  auto text = [](GLenum name) {
    const GLubyte* s = glGetString(name);
    return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
  };
  m_info.vendor = text(GL_VENDOR);
  m_info.renderer = text(GL_RENDERER);
  m_info.version = text(GL_VERSION);
  KeepFrameMemory(m_info.renderer);
  m_info.buffers = GLEW_VERSION_1_5;
  m_info.shaders = false;
  m_impl->programsFailed = false;
  m_info.shaders = GLEW_VERSION_2_0 && UseVariant(1);
  if (m_info.shaders) glUseProgram(0);
}

void GlDisplay::ReleaseGL() {
  for (auto& [guid, buffers] : m_impl->meshes) m_impl->DeleteBuffers(buffers);
  m_impl->meshes.clear();
  for (auto& variant : m_impl->variants) {
    if (variant.program.program) DeleteProgram(variant.program);
    variant = Impl::Variant();
  }
}

std::size_t GlDisplay::GetNumUploads() const { return m_impl->uploads; }
std::size_t GlDisplay::GetNumCachedMeshes() const { return m_impl->meshes.size(); }
std::size_t GlDisplay::GetNumCulledDraws() const { return m_impl->culledDraws; }

void GlDisplay::LoadDefaultFont(const std::string& path) {
  auto font = std::make_unique<Font>();
  Load(path, *font);
  if (!m_scene) throw std::logic_error("v3d::GlDisplay::LoadDefaultFont - No scene is attached.");
  const std::int32_t id = m_scene->AddFont(font.get());
  m_scene->GetDrawControl().GetDefaultCanvas()->SetFontID(id);
  m_impl->defaultFont = std::move(font);
}

// ---------------------------------------------------------------- textures

std::uint32_t GlDisplay::GenTexture() {
  GLuint name = 0;
  glGenTextures(1, &name);
  return name;
}

void GlDisplay::DeleteTexture(std::uint32_t name) {
  const GLuint n = name;
  glDeleteTextures(1, &n);
}

bool GlDisplay::BindTexture(std::uint32_t name) {
  while (glGetError() != GL_NO_ERROR) {
  }
  glBindTexture(GL_TEXTURE_2D, name);
  return glGetError() == GL_NO_ERROR;
}

bool GlDisplay::SetupTextureParameters(const Texture& texture) {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(texture.GetMinFilter()));
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(texture.GetMagFilter()));
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLint>(texture.GetEnvMode()));
  return glGetError() == GL_NO_ERROR;
}

bool GlDisplay::InitTexture(const Texture& texture) {
  glTexImage2D(GL_TEXTURE_2D, 0, InternalFormat(texture), texture.GetTexWidth(), texture.GetTexHeight(), 0,
               GlFormat(texture.GetFormat()), static_cast<GLenum>(texture.GetType()), nullptr);
  return glGetError() == GL_NO_ERROR;
}

bool GlDisplay::TexSubImage(const Texture& texture, const TextureRegion& region) {
  const std::size_t pixelBytes =
      static_cast<std::size_t>(texture.GetNumComponents()) * static_cast<std::size_t>(texture.GetBytesPerComponent());
  const std::uint8_t* data = texture.GetData().data();
  const GLenum format = GlFormat(texture.GetFormat()), type = static_cast<GLenum>(texture.GetType());
  if (texture.GetTexWidth() == texture.GetWidth() && texture.GetTexHeight() == texture.GetHeight()) {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, texture.GetWidth());
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, region.x);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, region.y);
    glTexSubImage2D(GL_TEXTURE_2D, 0, region.x, region.y, region.width, region.height, format, type, data);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    return glGetError() == GL_NO_ERROR;
  }
  // A capped texture: the region's part of the allocated texture, sampled
  // from the image at the nearest pixel.
  const double sx = static_cast<double>(texture.GetWidth()) / texture.GetTexWidth();
  const double sy = static_cast<double>(texture.GetHeight()) / texture.GetTexHeight();
  const int x0 = static_cast<int>(std::floor(region.x / sx)), y0 = static_cast<int>(std::floor(region.y / sy));
  const int x1 = std::min(texture.GetTexWidth(), static_cast<int>(std::ceil((region.x + region.width) / sx)));
  const int y1 = std::min(texture.GetTexHeight(), static_cast<int>(std::ceil((region.y + region.height) / sy)));
  if (x1 <= x0 || y1 <= y0) return true;
  std::vector<std::uint8_t> scaled(static_cast<std::size_t>(x1 - x0) * (y1 - y0) * pixelBytes);
  for (int y = y0; y < y1; ++y) {
    const int srcY = std::min(texture.GetHeight() - 1, static_cast<int>((y + 0.5) * sy));
    for (int x = x0; x < x1; ++x) {
      const int srcX = std::min(texture.GetWidth() - 1, static_cast<int>((x + 0.5) * sx));
      std::copy_n(data + (static_cast<std::size_t>(srcY) * texture.GetWidth() + srcX) * pixelBytes, pixelBytes,
                  scaled.data() + (static_cast<std::size_t>(y - y0) * (x1 - x0) + (x - x0)) * pixelBytes);
    }
  }
  glTexSubImage2D(GL_TEXTURE_2D, 0, x0, y0, x1 - x0, y1 - y0, format, type, scaled.data());
  return glGetError() == GL_NO_ERROR;
}

// ---------------------------------------------------------------- programs

ProgramBuild GlDisplay::BuildProgram(const std::string& vertexSource, const std::string& fragmentSource) {
  ProgramBuild build;
  if (!GLEW_VERSION_2_0) return build;
  build.supported = true;
  build.vertexShader = glCreateShader(GL_VERTEX_SHADER);
  build.fragmentShader = glCreateShader(GL_FRAGMENT_SHADER);
  if (!build.vertexShader || !build.fragmentShader) return build;
  auto compile = [&](GLuint shader, const std::string& source, const char* what) {
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return true;
    char log[2048] = {};
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    build.log += std::string("The ") + what + " shader does not compile: " + log;
    return false;
  };
  const bool compiled = compile(build.vertexShader, vertexSource, "vertex") &
                        compile(build.fragmentShader, fragmentSource, "fragment");
  if (!compiled) return build;
  const GLuint program = glCreateProgram();
  if (!program) return build;
  glAttachShader(program, build.vertexShader);
  glAttachShader(program, build.fragmentShader);
  glLinkProgram(program);
  GLint linked = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (!linked) {
    char log[2048] = {};
    glGetProgramInfoLog(program, sizeof log, nullptr, log);
    build.log += std::string("The program does not link: ") + log;
    glDeleteProgram(program);
    return build;
  }
  build.program = program;
  return build;
}

void GlDisplay::DeleteProgram(const ProgramBuild& build) {
  if (!GLEW_VERSION_2_0) return;
  if (build.program) glDeleteProgram(build.program);
  if (build.vertexShader) glDeleteShader(build.vertexShader);
  if (build.fragmentShader) glDeleteShader(build.fragmentShader);
}

// ---------------------------------------------------------------- geometry

namespace {

template <typename T>
void UploadArray(GLuint& name, const std::vector<T>& data, GLenum target = GL_ARRAY_BUFFER) {
  if (!name) glGenBuffers(1, &name);
  glBindBuffer(target, name);
  glBufferData(target, static_cast<GLsizeiptr>(data.size() * sizeof(T)), data.data(), GL_STATIC_DRAW);
  glBindBuffer(target, 0);
}

// The indices of the primitives whose vertices exist and are finite; counts
// the primitives left out.
std::vector<std::uint32_t> DrawableIndices(const Mesh& mesh, std::size_t& leftOut) {
  const std::uint32_t primSize = std::max<std::uint32_t>(mesh.GetPrimSize(), 1);
  const std::uint32_t drawSize = PrimitiveModeOf(primSize) == PrimitiveMode::kTriangles ? 3 : primSize;
  const auto& prims = mesh.GetPrims();
  const auto& positions = mesh.GetVertexCoords();
  const std::size_t n = positions.size();
  std::vector<bool> finite(n);
  bool allFinite = true;
  for (std::size_t i = 0; i < n; ++i) allFinite &= static_cast<bool>(finite[i] = IsFinite(positions[i]));
  std::vector<std::uint32_t> indices;
  indices.reserve(prims.size());
  leftOut = 0;
  const std::size_t numPrims = prims.size() / primSize;
  for (std::size_t p = 0; p < numPrims; ++p) {
    const std::uint32_t* prim = prims.data() + p * primSize;
    bool ok = primSize >= drawSize;
    for (std::uint32_t k = 0; ok && k < drawSize; ++k) ok = prim[k] < n && (allFinite || finite[prim[k]]);
    if (!ok) {
      ++leftOut;
      continue;
    }
    indices.insert(indices.end(), prim, prim + drawSize);
  }
  return indices;
}

}  // namespace

static void SyncBuffers(MeshBuffers& b, const Mesh& mesh, bool useBuffers, std::size_t& uploads) {
  const std::uint32_t counters[5] = {mesh.GetVertexCoordsCounter(), mesh.GetVertexNormalsCounter(),
                                     mesh.GetVertexColorsCounter(), mesh.GetVertexTexCoordsCounter(),
                                     mesh.GetPrimsCounter()};
  const bool sizeChanged = b.numVertices != mesh.GetNumVertices() || b.primSize != mesh.GetPrimSize();
  bool uploaded = false;
  const std::size_t n = mesh.GetNumVertices();
  b.hasNormals = mesh.HasVertexNormals() && mesh.GetVertexNormals().size() == n;
  b.hasColors = mesh.HasVertexColors() && mesh.GetVertexColors().size() == n;
  b.hasTexCoords = mesh.HasVertexTexCoords() && mesh.GetVertexTexCoords().size() == n;
  if (counters[0] != b.counters[0] || counters[4] != b.counters[4] || sizeChanged) {
    std::size_t leftOut = 0;
    b.indices = DrawableIndices(mesh, leftOut);
    if (leftOut) {
      std::cerr << "WARNING - Geo: " << leftOut
                << " primitives with missing or non-finite vertices are not drawn (mesh \""
                << mesh.Surface::GetName() << "\").\n";
    }
    b.numIndices = static_cast<GLsizei>(b.indices.size());
    b.allDrawn = leftOut == 0;
    b.drawsUnchanged = 0;
    b.closureKnown = false;
    b.closure = Closure::kOpen;
    if (useBuffers) {
      UploadArray(b.position, mesh.GetVertexCoords());
      UploadArray(b.index, b.indices, GL_ELEMENT_ARRAY_BUFFER);
      std::vector<std::uint32_t>().swap(b.indices);
    }
    uploaded = true;
  }
  if (useBuffers && b.hasNormals && (counters[1] != b.counters[1] || sizeChanged || !b.normal)) {
    UploadArray(b.normal, mesh.GetVertexNormals());
    uploaded = true;
  }
  if (b.hasColors && (counters[2] != b.counters[2] || sizeChanged || (useBuffers && !b.color))) {
    const auto& colors = mesh.GetVertexColors();
    b.translucentColors = std::any_of(colors.begin(), colors.end(), [](const Color4ub& c) { return c.a < 255; });
    if (useBuffers) UploadArray(b.color, colors);
    uploaded = true;
  }
  if (useBuffers && b.hasTexCoords && (counters[3] != b.counters[3] || sizeChanged || !b.texCoord)) {
    UploadArray(b.texCoord, mesh.GetVertexTexCoords());
    uploaded = true;
  }
  std::copy(counters, counters + 5, b.counters);
  b.numVertices = n;
  b.primSize = mesh.GetPrimSize();
  if (uploaded) ++uploads;
}

// Finds whether a mesh encloses space once it is drawn a second time
// unchanged.
static void FindMeshClosure(MeshBuffers& b, const Mesh& mesh) {
  if (b.closureKnown || ++b.drawsUnchanged < 2) return;
  b.closureKnown = true;
  if (!b.allDrawn || mesh.GetPrimSize() != 3) return;
  const auto& positions = mesh.GetVertexCoords();
  b.closure = FindClosure(positions, mesh.GetPrims());
  if (b.closure == Closure::kOpen) return;
  b.low = b.high = positions[0];
  for (const math::Vec3f& p : positions) {
    for (int k = 0; k < 3; ++k) {
      b.low[k] = std::min(b.low[k], p[k]);
      b.high[k] = std::max(b.high[k], p[k]);
    }
  }
}

// No back face of a closed mesh can be seen when the whole mesh lies beyond
// the near plane: the eye is outside it, nothing of it is clipped, and every
// line of sight enters it through a front face first. Gives the winding of
// front faces on screen (mirroring transforms turn it).
static bool BackFacesHidden(const MeshBuffers& b, GLenum& frontFace) {
  if (b.closure == Closure::kOpen) return false;
  GLdouble mv[16], pr[16];  // column-major
  glGetDoublev(GL_MODELVIEW_MATRIX, mv);
  glGetDoublev(GL_PROJECTION_MATRIX, pr);
  for (int c = 0; c < 8; ++c) {
    const double p[3] = {c & 1 ? b.high[0] : b.low[0], c & 2 ? b.high[1] : b.low[1],
                         c & 4 ? b.high[2] : b.low[2]};
    double e[4];
    for (int r = 0; r < 4; ++r)
      e[r] = mv[r] * p[0] + mv[4 + r] * p[1] + mv[8 + r] * p[2] + mv[12 + r];
    const double z = pr[2] * e[0] + pr[6] * e[1] + pr[10] * e[2] + pr[14] * e[3];
    const double w = pr[3] * e[0] + pr[7] * e[1] + pr[11] * e[2] + pr[15] * e[3];
    if (!(w > 0.0 && z > (-1.0 + 1e-6) * w)) return false;
  }
  const double det = mv[0] * (mv[5] * mv[10] - mv[9] * mv[6]) -
                     mv[4] * (mv[1] * mv[10] - mv[9] * mv[2]) +
                     mv[8] * (mv[1] * mv[6] - mv[5] * mv[2]);
  frontFace = (b.closure == Closure::kCounterClockwise) == (det > 0.0) ? GL_CCW : GL_CW;
  return true;
}

bool GlDisplay::UseVariant(int index) {
  Impl::Variant& variant = m_impl->variants[static_cast<std::size_t>(index)];
  if (!variant.program.program && !m_impl->programsFailed) {
    const std::string header = VariantHeader(index);
    ProgramBuild build = BuildProgram(header + kVertexShader, header + kFragmentShader);
    if (!build.program) {
      std::cerr << "WARNING - GlDisplay: the renderer's shader failed, drawing with fixed functions: " << build.log
                << "\n";
      DeleteProgram(build);
      m_impl->programsFailed = true;
      m_info.shaders = false;
      return false;
    }
    variant.program = build;
    variant.uNumLights = glGetUniformLocation(build.program, "uNumLights");
    variant.uSampler = glGetUniformLocation(build.program, "uSampler");
  }
  if (!variant.program.program) return false;
  glUseProgram(variant.program.program);
  glUniform1i(variant.uNumLights, m_impl->numLights);
  glUniform1i(variant.uSampler, 0);
  return true;
}

void GlDisplay::DrawGeo(const Geo& geo, const GeoDrawParams& params) {
  Impl& impl = *m_impl;
  const bool useBuffers = m_info.buffers;
  const bool useProgram = m_info.shaders && !impl.depthOnly;
  const std::uint32_t flags = params.flags;
  if (params.scale != 1.f) {
    glPushMatrix();
    glScalef(params.scale, params.scale, params.scale);
  }
  if (flags & kRenderFlagNoDepthTest) glDisable(GL_DEPTH_TEST);
  for (const auto& meshPtr : geo) {
    const Mesh& mesh = *meshPtr;
    if (mesh.GetNumVertices() == 0 || mesh.GetNumPrims() == 0) continue;
    MeshBuffers& b = impl.meshes[mesh.GetGuid()];
    SyncBuffers(b, mesh, useBuffers, impl.uploads);
    b.lastFrame = impl.frame;
    if (b.numIndices == 0) continue;
    FindMeshClosure(b, mesh);

    const std::uint8_t* base = nullptr;  // client-array pointers without buffer objects
    auto bindArray = [&](GLuint name, const void* clientData) -> const void* {
      if (useBuffers) {
        glBindBuffer(GL_ARRAY_BUFFER, name);
        return nullptr;
      }
      return clientData;
    };
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, bindArray(b.position, mesh.GetVertexCoords().data()));

    const Texture* texture = nullptr;
    if (!impl.depthOnly && !(flags & kRenderFlagNoTexture) && b.hasTexCoords && m_scene) {
      Texture* t = m_scene->GetTexture(mesh.GetTextureID());
      if (t && t->HasData() && t->GetGLName()) {
        const std::int32_t limit = m_info.maxTextureSize;
        if (limit > 0 && (t->GetTexWidth() > limit || t->GetTexHeight() > limit)) t->SetTextureResolutionLimit(limit);
        if (!t->GetPendingRegion().IsEmpty()) t->OnUpdate(*this);
        texture = t;
      }
    }
    const bool colors = !impl.depthOnly && b.hasColors && !(flags & kRenderFlagNoVertexColors) && !texture;
    if (colors) {
      glEnableClientState(GL_COLOR_ARRAY);
      glColorPointer(4, GL_UNSIGNED_BYTE, 0, bindArray(b.color, mesh.GetVertexColors().data()));
    } else {
      const Color4ub c = texture ? Color4ub(255, 255, 255, 255) : mesh.GetGlobalColor();
      glColor4ub(c.r, c.g, c.b, c.a);
    }
    // Blending only where something can be seen through (llvmpipe reads the
    // frame buffer for every blended fragment).
    const bool translucent =
        !impl.depthOnly && ((flags & kRenderFlagNoDepthTest) ||
                            (texture ? texture->GetNumComponents() == 2 || texture->GetNumComponents() == 4
                                     : colors ? b.translucentColors : mesh.GetGlobalColor().a < 255));
    if (translucent) {
      glEnable(GL_BLEND);
    } else {
      glDisable(GL_BLEND);
    }
    const bool lines = mesh.GetPrimSize() == 1 || mesh.GetPrimSize() == 2;
    const bool flat = (flags & kRenderFlagFlat) || !b.hasNormals;
    const bool lighting = !impl.depthOnly && !(flags & kRenderFlagNoLighting) && !lines && (b.hasNormals || useProgram);
    if (lighting && b.hasNormals) {
      glEnableClientState(GL_NORMAL_ARRAY);
      glNormalPointer(GL_FLOAT, 0, bindArray(b.normal, mesh.GetVertexNormals().data()));
    }
    if (texture) {
      glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      glTexCoordPointer(2, GL_FLOAT, 0, bindArray(b.texCoord, mesh.GetVertexTexCoords().data()));
      glEnable(GL_TEXTURE_2D);
      glBindTexture(GL_TEXTURE_2D, texture->GetGLName());
    }
    if (useProgram) {
      UseVariant((lighting ? 1 : 0) | (lighting && flat ? 2 : 0) | (texture ? 4 : 0));
    } else {
      if (lighting) {
        glEnable(GL_LIGHTING);
      } else {
        glDisable(GL_LIGHTING);
      }
      glShadeModel(flat ? GL_FLAT : GL_SMOOTH);
    }
    const GLenum mode = PrimitiveOf(mesh.GetPrimSize());
    if (useBuffers) glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.index);
    const void* indices = useBuffers ? nullptr : static_cast<const void*>(b.indices.data());
    const bool overlays = !impl.depthOnly && (flags & (kRenderFlagWireframe | kRenderFlagPoints)) && !lines;
    if (overlays) {
      glEnable(GL_POLYGON_OFFSET_FILL);
      glPolygonOffset(1.f, 1.f);
    }
    GLenum frontFace = GL_CCW;
    const bool cull = !translucent && !lines && BackFacesHidden(b, frontFace);
    if (cull) {
      glFrontFace(frontFace);
      glCullFace(GL_BACK);
      glEnable(GL_CULL_FACE);
      ++impl.culledDraws;
    }
    glDrawElements(mode, b.numIndices, GL_UNSIGNED_INT, indices);
    if (cull) {
      glDisable(GL_CULL_FACE);
      glFrontFace(GL_CCW);
    }
    if (overlays) {
      glDisable(GL_POLYGON_OFFSET_FILL);
      glDisableClientState(GL_COLOR_ARRAY);
      glDisableClientState(GL_TEXTURE_COORD_ARRAY);
      glDisable(GL_TEXTURE_2D);
      if (useProgram) {
        UseVariant(0);
      } else {
        glDisable(GL_LIGHTING);
      }
      if (flags & kRenderFlagWireframe) {
        glColor4ub(20, 20, 20, 255);
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        glDrawElements(mode, b.numIndices, GL_UNSIGNED_INT, indices);
      }
      if (flags & kRenderFlagPoints) {
        glColor4ub(230, 40, 40, 255);
        glPointSize(3.f);
        glPolygonMode(GL_FRONT_AND_BACK, GL_POINT);
        glDrawElements(mode, b.numIndices, GL_UNSIGNED_INT, indices);
        glPointSize(1.f);
      }
      glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }
    (void)base;
    if (useProgram) glUseProgram(0);
    if (texture) glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    if (useBuffers) {
      glBindBuffer(GL_ARRAY_BUFFER, 0);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
  }
  if (flags & kRenderFlagNoDepthTest) glEnable(GL_DEPTH_TEST);
  if (params.scale != 1.f) glPopMatrix();
}

// ---------------------------------------------------------------- the frame

namespace {

// Calls visit(node, world_T_node) for every node below root, depth first.
template <typename Visit>
void Traverse(Node* node, const math::Frame4d& world_T_parent, Visit&& visit) {
  for (Node* child : node->GetChildren()) {
    const math::Frame4d world_T_child = world_T_parent * child->GetFrame();
    visit(child, world_T_child);
    Traverse(child, world_T_child, visit);
  }
}

bool SceneBox(Scene& scene, math::Vec3d& low, math::Vec3d& high) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  low = {kInf, kInf, kInf};
  high = {-kInf, -kInf, -kInf};
  bool any = false;
  Traverse(scene.GetRoot(), scene.GetRoot()->GetFrame(), [&](Node* node, const math::Frame4d& world_T_node) {
    const auto* geo = dynamic_cast<const Geo*>(node);
    if (!geo || !geo->IsVisible() || (geo->GetRenderLayer() != kLayerScene && geo->GetRenderLayer() != kLayerMarkers))
      return;
    if (geo->GetName() == "DefaultGeo") return;
    BoundingBox box = geo->GetBoundingBox();
    if (dynamic_cast<const DataTip*>(geo)) box = BoundingBox::FromMinMax({0.f, 0.f, 0.f}, {0.f, 0.f, 0.f});
    if (!box.IsValid()) return;
    for (int c = 0; c < 8; ++c) {
      const math::Vec3d p(c & 1 ? box.GetMax()[0] : box.GetMin()[0], c & 2 ? box.GetMax()[1] : box.GetMin()[1],
                          c & 4 ? box.GetMax()[2] : box.GetMin()[2]);
      const math::Vec3d q = world_T_node.MultP(p);
      if (!(std::isfinite(q[0]) && std::isfinite(q[1]) && std::isfinite(q[2]))) continue;
      for (int k = 0; k < 3; ++k) {
        low[k] = std::min(low[k], q[k]);
        high[k] = std::max(high[k], q[k]);
      }
      any = true;
    }
  });
  return any;
}

}  // namespace

void GlDisplay::RenderScene() {
  const Viewport vp = GetViewport();
  glViewport(vp.x, vp.y, vp.width, vp.height);
  glClearColor(m_clearColor.r, m_clearColor.g, m_clearColor.b, m_clearColor.a);
  glDepthMask(GL_TRUE);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!m_scene) return;
  Scene& scene = *m_scene;
  ++m_impl->frame;
  DrawControl& drawControl = scene.GetDrawControl();

  math::Vec3d low, high;
  const bool haveBox = SceneBox(scene, low, high);
  const Camera* camera = scene.GetActiveCamera();
  ViewState view;
  if (camera) {
    view = MakeViewState(*camera, vp.width, vp.height, haveBox ? &low : nullptr, haveBox ? &high : nullptr);
  }
  drawControl.UpdateMarkers(view);

  RenderPass pass;
  pass.display = this;
  pass.visibilityMask = scene.GetGlobalVisibility();
  pass.view = camera ? &view : nullptr;
  const math::Frame4d eye_T_world = EyeFromCamera() * view.camera_T_world;

  auto drawLayer = [&](std::int32_t layer, bool pixels) {
    pass.layer = layer;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (pixels) {
      glOrtho(0.0, vp.width, vp.height, 0.0, -1.0, 1.0);
    } else if (view.perspective) {
      const double n = view.nearMm, f = view.focalPixels;
      glFrustum(-n * vp.width * 0.5 / f, n * vp.width * 0.5 / f, -n * vp.height * 0.5 / f, n * vp.height * 0.5 / f,
                n, view.farMm);
    } else {
      const double f = view.focalPixels;
      glOrtho(-vp.width * 0.5 / f, vp.width * 0.5 / f, -vp.height * 0.5 / f, vp.height * 0.5 / f, view.nearMm,
              view.farMm);
    }
    glMatrixMode(GL_MODELVIEW);
    Traverse(scene.GetRoot(), scene.GetRoot()->GetFrame(), [&](Node* node, const math::Frame4d& world_T_node) {
      const auto* renderable = dynamic_cast<const Renderable*>(node);
      if (!renderable || renderable->GetRenderLayer() != layer || !node->IsVisible()) return;
      if (pixels) {
        glLoadIdentity();
      } else {
        pass.camera_T_node = view.camera_T_world * world_T_node;
        LoadMatrix(eye_T_world * world_T_node);
      }
      node->Render(pass);
    });
  };

  // Lights in world coordinates (a headlight when the scene has none).
  glMatrixMode(GL_MODELVIEW);
  int lights = 0;
  for (int i = 0; i < Scene::kMaxLights; ++i) glDisable(GL_LIGHT0 + i);
  for (int i = 0; i < Scene::kMaxLights; ++i) {
    const Light* light = scene.GetLight(i);
    if (!light || !light->IsEnabled()) continue;
    const GLenum id = GL_LIGHT0 + lights++;
    LoadMatrix(eye_T_world);
    const math::Vec4f& p = light->GetPosition();
    const GLfloat position[4] = {p[0], p[1], p[2], p[3]};
    glLightfv(id, GL_POSITION, position);
    glLightfv(id, GL_AMBIENT, &light->GetAmbient().r);
    glLightfv(id, GL_DIFFUSE, &light->GetDiffuse().r);
    glLightfv(id, GL_SPECULAR, &light->GetSpecular().r);
    glEnable(id);
  }
  if (lights == 0) {
    glLoadIdentity();
    const GLfloat position[4] = {0.f, 0.f, 1.f, 0.f}, ambient[4] = {0.25f, 0.25f, 0.25f, 1.f},
                  diffuse[4] = {0.75f, 0.75f, 0.75f, 1.f}, specular[4] = {0.25f, 0.25f, 0.25f, 1.f};
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glEnable(GL_LIGHT0);
    lights = 1;
  }
  const GLfloat sceneAmbient[4] = {0.f, 0.f, 0.f, 1.f};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, sceneAmbient);
  glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
  m_impl->numLights = lights;

  glDisable(GL_DEPTH_TEST);
  drawLayer(kLayerBackground, true);
  glEnable(GL_DEPTH_TEST);
  if (camera) {
    drawLayer(kLayerScene, false);
    drawLayer(kLayerMarkers, false);
  }
  glDisable(GL_DEPTH_TEST);
  drawLayer(kLayerForeground, true);
  if (const float flash = scene.GetFlashIntensity(); flash > 0.f) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glColor4f(1.f, 1.f, 1.f, flash);
    glBegin(GL_QUADS);
    glVertex2f(-1.f, -1.f);
    glVertex2f(1.f, -1.f);
    glVertex2f(1.f, 1.f);
    glVertex2f(-1.f, 1.f);
    glEnd();
    glEnable(GL_LIGHTING);
  }
  glEnable(GL_DEPTH_TEST);

  // Buffers of meshes that were not drawn in the last frames go.
  for (auto it = m_impl->meshes.begin(); it != m_impl->meshes.end();) {
    if (m_impl->frame - it->second.lastFrame > 2) {
      m_impl->DeleteBuffers(it->second);
      it = m_impl->meshes.erase(it);
    } else {
      ++it;
    }
  }
  m_drawnRedrawID = scene.GetRedrawID();
}

void GlDisplay::Finish() { glFinish(); }

img::RGBImage GlDisplay::ReadPixels() const {
  const Viewport vp = GetViewport();
  img::RGBImage image(static_cast<std::size_t>(std::max(vp.width, 0)), static_cast<std::size_t>(std::max(vp.height, 0)));
  if (vp.width <= 0 || vp.height <= 0) return image;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(vp.width) * vp.height * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(vp.x, vp.y, vp.width, vp.height, GL_BGR, GL_UNSIGNED_BYTE, rows.data());
  const std::size_t rowBytes = static_cast<std::size_t>(vp.width) * 3;
  for (int y = 0; y < vp.height; ++y) {
    std::copy_n(rows.data() + (vp.height - 1 - y) * rowBytes, rowBytes,
                reinterpret_cast<std::uint8_t*>(image.data) + y * rowBytes);
  }
  return image;
}

// ---------------------------------------------------------------- picking

bool GlDisplay::PickSurface(std::int32_t x, std::int32_t y, float radius, SurfacePick& pick) {
  if (!m_scene || !m_scene->GetActiveCamera()) return false;
  const Viewport vp = GetViewport();
  if (vp.width <= 0 || vp.height <= 0) return false;
  Scene& scene = *m_scene;
  ContextScope context(this);
  math::Vec3d low, high;
  const bool haveBox = SceneBox(scene, low, high);
  const ViewState view = MakeViewState(*scene.GetActiveCamera(), vp.width, vp.height, haveBox ? &low : nullptr,
                                       haveBox ? &high : nullptr);

  // The scene layer's depth around the cursor.
  const int r = static_cast<int>(std::ceil(std::max(radius, 0.f)));
  const int x0 = std::max(0, x - r), x1 = std::min(vp.width - 1, x + r);
  const int y0 = std::max(0, y - r), y1 = std::min(vp.height - 1, y + r);
  if (x0 > x1 || y0 > y1) return false;
  glViewport(vp.x, vp.y, vp.width, vp.height);
  glClear(GL_DEPTH_BUFFER_BIT);
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const double n = view.nearMm, f = view.focalPixels;
  if (view.perspective) {
    glFrustum(-n * vp.width * 0.5 / f, n * vp.width * 0.5 / f, -n * vp.height * 0.5 / f, n * vp.height * 0.5 / f, n,
              view.farMm);
  } else {
    glOrtho(-vp.width * 0.5 / f, vp.width * 0.5 / f, -vp.height * 0.5 / f, vp.height * 0.5 / f, n, view.farMm);
  }
  glMatrixMode(GL_MODELVIEW);
  const math::Frame4d eye_T_world = EyeFromCamera() * view.camera_T_world;
  struct Target {
    const Geo* geo;
    math::Frame4d world_T_geo;
  };
  std::vector<Target> targets;
  m_impl->depthOnly = true;
  RenderPass pass;
  pass.display = this;
  pass.visibilityMask = scene.GetGlobalVisibility();
  pass.layer = kLayerScene;
  pass.view = &view;
  Traverse(scene.GetRoot(), scene.GetRoot()->GetFrame(), [&](Node* node, const math::Frame4d& world_T_node) {
    const auto* geo = dynamic_cast<const Geo*>(node);
    if (!geo || geo->GetRenderLayer() != kLayerScene || !geo->IsVisible()) return;
    LoadMatrix(eye_T_world * world_T_node);
    pass.camera_T_node = view.camera_T_world * world_T_node;
    DrawGeo(*geo, {geo->GetEffectiveRenderFlags(0), 1.f});
    targets.push_back({geo, world_T_node});
  });
  m_impl->depthOnly = false;
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  const int w = x1 - x0 + 1, h = y1 - y0 + 1;
  std::vector<float> depth(static_cast<std::size_t>(w) * h, 1.f);
  glReadPixels(x0, vp.height - 1 - y1, w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
  if (m_scene) m_scene->Redraw();  // the frame buffer holds the picking pass now

  // Covered pixels nearest to the cursor first; each is confirmed by a ray.
  struct Candidate {
    double distance;
    int px, py;
  };
  std::vector<Candidate> candidates;
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      if (depth[static_cast<std::size_t>(j) * w + i] >= 1.f) continue;
      const int px = x0 + i, py = y1 - j;  // rows of glReadPixels go up
      const double d = std::hypot(px - x, py - y);
      if (d <= radius) candidates.push_back({d, px, py});
    }
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.distance < b.distance;
  });
  constexpr std::size_t kMaxRays = 16;
  for (std::size_t c = 0; c < std::min(candidates.size(), kMaxRays); ++c) {
    const math::Vec2d pixel = c == 0 && candidates[c].distance == 0.0
                                  ? math::Vec2d(x + 0.5, y + 0.5)
                                  : math::Vec2d(candidates[c].px + 0.5, candidates[c].py + 0.5);
    math::Vec3d origin, direction;
    view.Ray(pixel, origin, direction);
    double best = std::numeric_limits<double>::infinity();
    for (const Target& target : targets) {
      const math::Frame4d geo_T_world = target.world_T_geo.GetInverse();
      const math::Vec3d o = geo_T_world.MultP(origin), d = geo_T_world.MultV(direction);
      for (std::size_t m = 0; m < target.geo->GetNumMeshes(); ++m) {
        const Mesh& mesh = *target.geo->GetMesh(static_cast<std::int64_t>(m));
        const std::uint32_t primSize = mesh.GetPrimSize();
        if (primSize != 3 && primSize != 4) continue;
        const auto& prims = mesh.GetPrims();
        const auto& positions = mesh.GetVertexCoords();
        const std::size_t numPrims = prims.size() / primSize;
        for (std::size_t p = 0; p < numPrims; ++p) {
          const std::uint32_t* prim = prims.data() + p * primSize;
          bool valid = true;
          for (std::uint32_t k = 0; k < primSize; ++k) valid &= prim[k] < positions.size();
          if (!valid) continue;
          for (std::uint32_t t = 0; t + 2 < primSize + (primSize == 4 ? 1 : 0); ++t) {
            const math::Vec3d a(positions[prim[0]]), b(positions[prim[t + 1]]), cc(positions[prim[t + 2]]);
            const double hit = IntersectTriangle(o, d, a, b, cc);
            if (hit > 0.0 && hit < best) {
              best = hit;
              pick.nodeID = target.geo->GetNodeID();
              pick.meshIndex = static_cast<std::int32_t>(m);
              pick.primIndex = static_cast<std::int64_t>(p);
              pick.local = o + d * hit;
              pick.world = target.world_T_geo.MultP(pick.local);
              pick.normal = target.world_T_geo.MultV((b - a) ^ (cc - a)).GetNormalized();
            }
          }
        }
      }
    }
    if (std::isfinite(best)) {
      pick.pixelDistance = candidates[c].distance;
      return true;
    }
  }
  return false;
}

}  // namespace v3d
