#include "surf/files/ThreeMfFile.h"

#include <lodepng.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "Model/COM/NMR_DLLInterfaces.h"
#include "surf/mesh/MeshArrays.h"
#include "surf/files/SafeWrite.h"

namespace surf {
namespace {

using NMR::PLib3MFBase;

constexpr char kTexturePath[] = "/3D/Texture/texture.png";
constexpr char kTextureRelationship[] = "http://schemas.microsoft.com/3dmanufacturing/2013/01/3dtexture";

// Releases a lib3mf instance when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  ~Handle() {
    if (m_instance) NMR::lib3mf_release(m_instance);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  PLib3MFBase** Out() { return &m_instance; }
  PLib3MFBase* Get() const { return m_instance; }

 private:
  PLib3MFBase* m_instance = nullptr;
};

std::string Hex(unsigned long value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
}

// Prints a failed step with the result code and the instance's last error.
bool Fail(const char* step, LIB3MFRESULT result, PLib3MFBase* instance) {
  DWORD errorCode = 0;
  LPCSTR errorText = nullptr;
  if (instance) NMR::lib3mf_getlasterror(instance, &errorCode, &errorText);
  std::cerr << step << ": " << Hex(static_cast<unsigned long>(result)) << "\nerror #" << Hex(errorCode) << ": "
            << (errorText ? errorText : "") << "\n";
  return false;
}

std::vector<unsigned char> EncodePng(const img::RGBImage& image) {
  std::vector<unsigned char> rgba(static_cast<std::size_t>(image.size) * 4);
  for (std::int32_t i = 0; i < image.size; ++i) {
    const img::RGB8& p = image.data[i];
    rgba[4 * i] = p.r;
    rgba[4 * i + 1] = p.g;
    rgba[4 * i + 2] = p.b;
    rgba[4 * i + 3] = 255;
  }
  std::vector<unsigned char> png;
  if (lodepng::encode(png, rgba, image.width, image.height, LCT_RGBA, 8) != 0) png.clear();
  return png;
}

bool AddTexture(PLib3MFBase* model, PLib3MFBase* mesh, const img::RGBImage& image,
                const std::vector<std::uint32_t>& originalIndices, const VertexUnification& unified,
                const std::vector<math::Vec2f>& texCoords) {
  constexpr char kStep[] = "Could not add texture.";
  std::vector<unsigned char> png = EncodePng(image);
  if (png.empty()) {
    std::cerr << kStep << " (PNG encoding failed)\n";
    return false;
  }
  Handle attachment, texture, handler, defaultHandler;
  std::string path = kTexturePath, relationship = kTextureRelationship;
  LIB3MFRESULT r = NMR::lib3mf_model_addattachmentutf8(model, path.data(), relationship.data(), attachment.Out());
  if (r != LIB3MF_OK) return Fail(kStep, r, model);
  r = NMR::lib3mf_attachment_readfrombuffer(attachment.Get(), png.data(), png.size());
  if (r != LIB3MF_OK) return Fail(kStep, r, attachment.Get());
  r = NMR::lib3mf_model_addtexture2dfromattachment(model, attachment.Get(), texture.Out());
  if (r != LIB3MF_OK) return Fail(kStep, r, model);
  r = NMR::lib3mf_texture2d_setcontenttype(texture.Get(), NMR::MODELTEXTURETYPE_PNG);
  if (r != LIB3MF_OK) return Fail(kStep, r, texture.Get());
  DWORD textureID = 0;
  r = NMR::lib3mf_resource_getresourceid(texture.Get(), &textureID);
  if (r != LIB3MF_OK) return Fail(kStep, r, texture.Get());
  r = NMR::lib3mf_meshobject_createpropertyhandler(mesh, handler.Out());
  if (r != LIB3MF_OK) return Fail(kStep, r, mesh);

  for (std::size_t t = 0; t < unified.keptTriangles.size(); ++t) {
    const std::size_t original = unified.keptTriangles[t];
    NMR::MODELMESHTEXTURE2D corners{};
    corners.m_nTextureID = textureID;
    for (int k = 0; k < 3; ++k) {
      const math::Vec2f& uv = texCoords[originalIndices[3 * original + k]];
      corners.m_fU[k] = uv[0];
      corners.m_fV[k] = 1.f - uv[1];
    }
    r = NMR::lib3mf_propertyhandler_settexture(handler.Get(), static_cast<DWORD>(t), &corners);
    if (r != LIB3MF_OK) return Fail(kStep, r, handler.Get());
  }
  // A mesh with triangle properties needs an object-level default.
  r = NMR::lib3mf_object_createdefaultpropertyhandler(mesh, defaultHandler.Out());
  if (r != LIB3MF_OK) return Fail(kStep, r, mesh);
  r = NMR::lib3mf_defaultpropertyhandler_settexture(defaultHandler.Get(), textureID, 0.f, 0.f);
  if (r != LIB3MF_OK) return Fail(kStep, r, defaultHandler.Get());
  return true;
}

bool WriteModel(const std::filesystem::path& file, const std::vector<math::Vec3f>& positions,
                const std::vector<std::uint32_t>& indices, const std::vector<math::Vec2f>& texCoords,
                const img::RGBImage& image) {
  const VertexUnification unified = UnifyIdenticalVertices(positions, indices);
  std::vector<NMR::MODELMESHVERTEX> vertices(unified.numVertices);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    if (unified.mapping[i] < 0) continue;
    NMR::MODELMESHVERTEX& v = vertices[static_cast<std::size_t>(unified.mapping[i])];
    for (int k = 0; k < 3; ++k) v.m_fPosition[k] = positions[i][k];
  }
  std::vector<NMR::MODELMESHTRIANGLE> triangles(unified.indices.size() / 3);
  for (std::size_t t = 0; t < triangles.size(); ++t) {
    for (int k = 0; k < 3; ++k) triangles[t].m_nIndices[k] = unified.indices[3 * t + k];
  }

  Handle model, mesh, buildItem, writer;
  LIB3MFRESULT r = NMR::lib3mf_createmodel(model.Out());
  if (r != LIB3MF_OK) return Fail("Could not create Model", r, nullptr);
  r = NMR::lib3mf_model_addmeshobject(model.Get(), mesh.Out());
  if (r != LIB3MF_OK) return Fail("Could not add mesh object", r, model.Get());
  r = NMR::lib3mf_meshobject_setgeometry(mesh.Get(), vertices.data(), static_cast<DWORD>(vertices.size()),
                                         triangles.data(), static_cast<DWORD>(triangles.size()));
  if (r != LIB3MF_OK) return Fail("Could not set mesh geometry", r, mesh.Get());
  if (!image.IsEmpty() && !texCoords.empty() &&
      !AddTexture(model.Get(), mesh.Get(), image, indices, unified, texCoords)) {
    return false;
  }
  r = NMR::lib3mf_model_addbuilditem(model.Get(), mesh.Get(), nullptr, buildItem.Out());
  if (r != LIB3MF_OK) return Fail("Could not create build item", r, model.Get());
  r = NMR::lib3mf_model_querywriter(model.Get(), "3mf", writer.Out());
  if (r != LIB3MF_OK) return Fail("Could not create model reader", r, model.Get());
  r = NMR::lib3mf_writer_writetofileutf8(writer.Get(), file.c_str());
  if (r != LIB3MF_OK) return Fail("Could not write file", r, writer.Get());
  return true;
}

// Appends the mesh object's triangles, moved by the build item's transform
// (a 3×4 matrix of rows applied to column vectors).
bool AppendMeshObject(PLib3MFBase* object, const NMR::MODELTRANSFORM& transform, MeshArrays& mesh) {
  DWORD vertexCount = 0, triangleCount = 0;
  LIB3MFRESULT r = NMR::lib3mf_meshobject_getvertexcount(object, &vertexCount);
  if (r == LIB3MF_OK) r = NMR::lib3mf_meshobject_gettrianglecount(object, &triangleCount);
  if (r != LIB3MF_OK) return Fail("Could not read mesh object", r, object);
  std::vector<NMR::MODELMESHVERTEX> vertices(vertexCount);
  std::vector<NMR::MODELMESHTRIANGLE> triangles(triangleCount);
  r = NMR::lib3mf_meshobject_getvertices(object, vertices.data(), vertexCount, nullptr);
  if (r == LIB3MF_OK) r = NMR::lib3mf_meshobject_gettriangleindices(object, triangles.data(), triangleCount, nullptr);
  if (r != LIB3MF_OK) return Fail("Could not read mesh object", r, object);
  const auto base = static_cast<std::uint32_t>(mesh.positions.size());
  for (const NMR::MODELMESHVERTEX& v : vertices) {
    math::Vec3f p;
    for (int row = 0; row < 3; ++row) {
      const float* m = transform.m_fFields[row];
      p[row] = m[0] * v.m_fPosition[0] + m[1] * v.m_fPosition[1] + m[2] * v.m_fPosition[2] + m[3];
    }
    mesh.positions.push_back(p);
  }
  for (const NMR::MODELMESHTRIANGLE& t : triangles) {
    for (int k = 0; k < 3; ++k) {
      if (t.m_nIndices[k] >= vertexCount) {
        std::cerr << "Error: Load3mf - A triangle uses vertex " << t.m_nIndices[k] << " of " << vertexCount << ".\n";
        return false;
      }
      mesh.indices.push_back(base + t.m_nIndices[k]);
    }
  }
  return true;
}

// The mesh objects of every build item, each placed by its transform.
bool ReadBuildItems(PLib3MFBase* model, MeshArrays& mesh, int& skipped) {
  Handle items;
  LIB3MFRESULT r = NMR::lib3mf_model_getbuilditems(model, items.Out());
  if (r != LIB3MF_OK) return Fail("Could not read build items", r, model);
  BOOL hasNext = false;
  while (NMR::lib3mf_builditemiterator_movenext(items.Get(), &hasNext) == LIB3MF_OK && hasNext) {
    Handle item, object;
    NMR::MODELTRANSFORM transform;
    r = NMR::lib3mf_builditemiterator_getcurrent(items.Get(), item.Out());
    if (r == LIB3MF_OK) r = NMR::lib3mf_builditem_getobjectresource(item.Get(), object.Out());
    if (r == LIB3MF_OK) r = NMR::lib3mf_builditem_getobjecttransform(item.Get(), &transform);
    if (r != LIB3MF_OK) return Fail("Could not read build item", r, items.Get());
    BOOL isMesh = false;
    if (NMR::lib3mf_object_ismeshobject(object.Get(), &isMesh) != LIB3MF_OK || !isMesh) {
      ++skipped;
      continue;
    }
    if (!AppendMeshObject(object.Get(), transform, mesh)) return false;
  }
  return true;
}

}  // namespace

bool Load3mf(const std::filesystem::path& path, MeshArrays& mesh) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    std::cerr << "Can't open " << path.string() << "\n";
    return false;
  }
  Handle model, reader;
  LIB3MFRESULT r = NMR::lib3mf_createmodel(model.Out());
  if (r != LIB3MF_OK) return Fail("Could not create Model", r, nullptr);
  r = NMR::lib3mf_model_queryreader(model.Get(), "3mf", reader.Out());
  if (r != LIB3MF_OK) return Fail("Could not create model reader", r, model.Get());
  r = NMR::lib3mf_reader_readfromfileutf8(reader.Get(), path.c_str());
  if (r != LIB3MF_OK) {
    std::cerr << "Error: Load3mf - " << path.string() << " is not a readable 3MF file.\n";
    return Fail("Could not read file", r, reader.Get());
  }
  MeshArrays read;
  int skipped = 0;
  if (!ReadBuildItems(model.Get(), read, skipped)) return false;
  if (skipped > 0) {
    std::cerr << "Warning: Load3mf - " << path.string() << ": " << skipped
              << " build item(s) made of components were left out; only mesh objects are read.\n";
  }
  if (read.positions.empty()) {
    std::cerr << "Error: Load3mf - " << path.string() << " has no mesh object to read.\n";
    return false;
  }
  mesh = std::move(read);
  return true;
}

std::string Get3mfLibraryVersion() {
  DWORD major = 0, minor = 0, micro = 0;
  if (NMR::lib3mf_getinterfaceversion(&major, &minor, &micro) != LIB3MF_OK) return {};
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(micro);
}

bool Save3mf(const std::filesystem::path& path, const std::vector<math::Vec3f>& positions,
             const std::vector<std::uint32_t>& indices, const std::vector<math::Vec2f>& textureCoordinates,
             const img::RGBImage& textureImage) {
  const bool indicesValid = indices.size() % 3 == 0 &&
                            std::all_of(indices.begin(), indices.end(),
                                        [&](std::uint32_t i) { return i < positions.size(); });
  if (!indicesValid || (!textureCoordinates.empty() && textureCoordinates.size() != positions.size())) {
    std::cerr << "Error: Save3mf - The indices or texture coordinates do not fit the " << positions.size()
              << " vertices.\n";
    return false;
  }
  DWORD major = 0, minor = 0, micro = 0;
  const LIB3MFRESULT r = NMR::lib3mf_getinterfaceversion(&major, &minor, &micro);
  if (r != LIB3MF_OK) {
    std::cerr << "could not get 3MF Library version: " << Hex(static_cast<unsigned long>(r)) << "\n";
    return false;
  }
  if (major != 1) {
    std::cerr << "invalid 3MF Library version: " << major << "." << minor << "." << micro << "\n";
    return false;
  }
  return WriteFileSafely(path, [&](const std::filesystem::path& temporary) {
    return WriteModel(temporary, positions, indices, textureCoordinates, textureImage);
  });
}

}  // namespace surf
