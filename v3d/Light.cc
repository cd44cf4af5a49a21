#include "v3d/Light.h"

#include "v3d/GeoTools.h"

namespace v3d {

Light::Light() : Geo("Light") {
  CreateParallelepiped(*this, {-5.f, -5.f, -5.f}, {10.f, 0.f, 0.f}, {0.f, 10.f, 0.f},
                       {0.f, 0.f, 10.f});
  CalcVertexNormals(*this);
}

}  // namespace v3d
