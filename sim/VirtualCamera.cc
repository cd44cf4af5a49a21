#include "sim/VirtualCamera.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "sim/ParallelFor.h"

namespace sim {
namespace {

constexpr const char* kExposure = "exposure";
constexpr const char* kGain = "gain";
constexpr std::size_t kNoiseTableSize = std::size_t{1} << 22;

bool Positive(double v) { return std::isfinite(v) && v > 0.0; }

// The printed reflectance over the footprint of the sub-pixel ray through
// pixel coordinates (x, y) of half-size h: the neighbouring rays (x ± h, y)
// and (x, y ± h) meet the hit's plane at the footprint's edges.
bool PrintedReflectance(const RayCaster::PrintedFace& face, const CameraModelRays& rays, const Hit& hit, double x,
                        double y, double h, Albedo& albedo) {
  const math::Vec3d normal{hit.normal[0], hit.normal[1], hit.normal[2]};
  auto onPlane = [&](double px, double py, math::Vec2d& q) {
    Ray ray;
    if (!rays.GetPixelRay(px, py, ray)) return false;
    const double denominator = Dot(ray.direction, normal);
    if (denominator == 0.0) return false;
    const double t = Dot(hit.point - ray.origin, normal) / denominator;
    const math::Vec3d p = face.print_T_world.MultP(ray.origin + ray.direction * t);
    q = {p[0], p[1]};
    return std::isfinite(t) && t > 0.0;
  };
  math::Vec2d left, right, up, down;
  if (!onPlane(x - h, y, left) || !onPlane(x + h, y, right) || !onPlane(x, y - h, up) || !onPlane(x, y + h, down))
    return false;
  const math::Vec3d centre = face.print_T_world.MultP(hit.point);
  albedo = face.print->Reflectance({centre[0], centre[1]}, (right - left) * 0.5, (down - up) * 0.5);
  return true;
}

// Separable Gaussian blur of `channels` interleaved float channels.
void Blur(std::vector<float>& values, std::uint32_t width, std::uint32_t height, int channels, double sigma) {
  const int radius = std::max(1, int(std::ceil(3.0 * sigma)));
  std::vector<float> kernel(std::size_t(2 * radius + 1));
  double sum = 0.0;
  for (int i = -radius; i <= radius; ++i) sum += kernel[std::size_t(i + radius)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (float& k : kernel) k = float(k / sum);
  std::vector<float> work(values.size());
  const int w = int(width), h = int(height), c = channels;
  ParallelFor(h, [&](std::ptrdiff_t y) {
    const float* in = &values[std::size_t(y) * w * c];
    float* out = &work[std::size_t(y) * w * c];
    for (int x = 0; x < w; ++x) {
      for (int k = 0; k < c; ++k) {
        float s = 0.0f;
        for (int i = -radius; i <= radius; ++i) s += kernel[std::size_t(i + radius)] * in[std::clamp(x + i, 0, w - 1) * c + k];
        out[x * c + k] = s;
      }
    }
  });
  ParallelFor(h, [&](std::ptrdiff_t y) {
    float* out = &values[std::size_t(y) * w * c];
    std::fill(out, out + std::size_t(w) * c, 0.0f);
    for (int i = -radius; i <= radius; ++i) {
      const float* in = &work[std::size_t(std::clamp(int(y) + i, 0, h - 1)) * w * c];
      const float k = kernel[std::size_t(i + radius)];
      for (int x = 0; x < w * c; ++x) out[x] += k * in[x];
    }
  });
}

}  // namespace

bool CameraModelRays::GetPixelRay(double x, double y, Ray& ray) const {
  math::Vec3d direction;
  if (!m_model.PixelToCameraRay(direction, {x, y})) return false;
  const math::Frame4d& wTc = m_model.GetFrame_wTc();
  ray.origin = wTc.MultP(math::Vec3d{0.0, 0.0, 0.0});
  ray.direction = wTc.MultV(direction);
  return true;
}

VirtualCamera::VirtualCamera(std::shared_ptr<const cam::CameraModel> model,
                             std::shared_ptr<const cam::CameraModel> projectorModel,
                             std::shared_ptr<VirtualProjector> projector, const Options& options)
    : m_model(std::move(model)),
      m_projectorModel(std::move(projectorModel)),
      m_projector(std::move(projector)),
      m_options(options),
      m_width(m_model ? m_model->GetResX() : 0),
      m_height(m_model ? m_model->GetResY() : 0),
      m_exposureMs(options.exposureMs),
      m_gain(options.gain),
      m_random(options.seed) {
  const std::string prefix = "sim::VirtualCamera::VirtualCamera - ";
  if (!m_model || !m_model->IsValid() || m_width == 0 || m_height == 0)
    throw std::invalid_argument(prefix + "the camera model must be valid and have a resolution.");
  if (!m_projectorModel || !m_projectorModel->IsValid() || !m_projector)
    throw std::invalid_argument(prefix + "a projector and a valid projector model are required.");
  if (!Positive(options.frameRateHz) || !(options.latencyMs >= 0.0) || !Positive(options.exposureMs) ||
      !Positive(options.referenceExposureMs) || !Positive(options.gain) || !Positive(options.cameraGamma) ||
      !(options.noiseSigma >= 0.0) || !(options.ambientLight >= 0.0) || options.supersampling < 1 ||
      options.supersampling > 8 || !(options.defocusSigma >= 0.0 && options.defocusSigma <= 20.0))
    throw std::invalid_argument(prefix + "an option is out of range.");
  m_format = vid::Format{options.color ? vid::subtype::RGB24 : vid::subtype::Y800, std::int32_t(m_width),
                         std::int32_t(m_height), options.frameRateHz};
  std::mt19937 noiseRandom(options.seed * 2654435761u + 17u);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  m_noise.resize(kNoiseTableSize);
  for (float& n : m_noise) n = normal(noiseRandom);
  m_ambient.ResetSize(m_width, m_height);
  m_ambient = math::Vec3f{0.0f, 0.0f, 0.0f};
  m_truth.depth.ResetSize(m_width, m_height);
  m_truth.depth = 0.0f;
  m_views.ResetSize(m_width, m_height);
  m_views = 0;
  m_thread = std::thread([this] { Run(); });
}

VirtualCamera::~VirtualCamera() {
  {
    std::lock_guard lock(m_threadMutex);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
  m_delivery.Detach();
}

void VirtualCamera::SetScene(const RayCaster& caster) {
  GroundTruth truth = ComputeGroundTruth(caster, CameraModelRays(*m_model));
  const int n = m_options.supersampling;
  const std::size_t perPixel = std::size_t(n) * std::size_t(n);
  const double projW = m_projector->GetOptions().width, projH = m_projector->GetOptions().height;
  const math::Vec3d projectorCentre = m_projectorModel->GetFrame_wTc().MultP(math::Vec3d{0.0, 0.0, 0.0});
  const math::Frame4d& pTw = m_projectorModel->GetFrame_cTw();
  const CameraModelRays rays(*m_model);

  std::vector<Sample> samples(std::size_t(m_width) * m_height * perPixel);
  Irradiance ambient(m_width, m_height);
  img::UniImage<std::uint8_t> views(m_width, m_height);
  constexpr std::uint32_t kBand = 16;
  const std::size_t bandSize = std::size_t(m_width) * kBand * perPixel;
  std::vector<Ray> batch(bandSize);
  std::vector<Hit> hits(bandSize);
  std::vector<Segment> segments(bandSize);
  std::vector<std::uint8_t> blocked(bandSize);
  std::vector<std::uint8_t> candidate(bandSize);
  for (std::uint32_t y0 = 0; y0 < m_height; y0 += kBand) {
    const std::uint32_t rows = std::min(kBand, m_height - y0);
    const std::size_t count = std::size_t(m_width) * rows * perPixel;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t pixel = i / perPixel, sub = i % perPixel;
      const double x = double(pixel % m_width) + (double(sub % n) + 0.5) / n - 0.5;
      const double y = double(y0 + pixel / m_width) + (double(sub / n) + 0.5) / n - 0.5;
      if (!rays.GetPixelRay(x, y, batch[i])) batch[i] = Ray();
    }
    caster.Intersect(std::span<const Ray>(batch.data(), count), std::span<Hit>(hits.data(), count));
    // Printed surfaces: their reflectance over each sample's footprint.
    ParallelFor(std::ptrdiff_t(count), [&](std::ptrdiff_t k) {
      Hit& hit = hits[std::size_t(k)];
      if (!hit.IsHit()) return;
      const RayCaster::PrintedFace face = caster.GetPrintedFace(hit.objectId);
      if (!face.print) return;
      const std::size_t i = std::size_t(k), pixel = i / perPixel, sub = i % perPixel;
      const double x = double(pixel % m_width) + (double(sub % n) + 0.5) / n - 0.5;
      const double y = double(y0 + pixel / m_width) + (double(sub / n) + 0.5) / n - 0.5;
      Albedo albedo;
      if (PrintedReflectance(face, rays, hit, x, y, 0.5 / n, albedo)) hit.albedo = albedo;
    });
    // Projector coordinates of every hit, and the segment to the projector.
    ParallelFor(std::ptrdiff_t(count), [&](std::ptrdiff_t k) {
      const std::size_t i = std::size_t(k);
      Sample& s = samples[std::size_t(y0) * m_width * perPixel + i];
      s = Sample{};
      candidate[i] = 0;
      segments[i] = Segment{};
      const Hit& hit = hits[i];
      if (!hit.IsHit()) return;
      const math::Vec3d toProjector = projectorCentre - hit.point;
      const math::Vec3d normal{hit.normal[0], hit.normal[1], hit.normal[2]};
      const double cosine = Dot(normal, toProjector) / toProjector.Length();
      const math::Vec3d p = pTw.MultP(hit.point);
      math::Vec2d uv;
      if (!(cosine > 0.0) || !(p[2] > 0.0) || !m_projectorModel->CameraPointToPixel(uv, p)) return;
      const double u = uv[0] * projW, v = uv[1] * projH;
      if (!(u >= 0.0 && v >= 0.0 && u < projW - 1.0 && v < projH - 1.0)) return;
      const auto px = std::uint32_t(u), py = std::uint32_t(v);
      s.pixel = py * std::uint32_t(projW) + px;
      s.fx = float(u - px);
      s.fy = float(v - py);
      s.direct = hit.albedo * float(cosine);
      candidate[i] = 1;
      segments[i] = Segment{hit.point, projectorCentre};
    });
    caster.Occluded(std::span<const Segment>(segments.data(), count), std::span<std::uint8_t>(blocked.data(), count));
    for (std::size_t i = 0; i < count; ++i)
      if (candidate[i] && blocked[i]) samples[std::size_t(y0) * m_width * perPixel + i].pixel = Sample::kUnlit;
    // Per pixel: ambient part and what the pixel sees.
    for (std::size_t pixel = 0; pixel < std::size_t(m_width) * rows; ++pixel) {
      const std::uint32_t x = std::uint32_t(pixel % m_width), y = y0 + std::uint32_t(pixel / m_width);
      math::Vec3f sum{0.0f, 0.0f, 0.0f};
      bool allLit = true;
      for (std::size_t sub = 0; sub < perPixel; ++sub) {
        const std::size_t i = pixel * perPixel + sub;
        if (hits[i].IsHit()) sum += hits[i].albedo;
        allLit = allLit && samples[std::size_t(y0) * m_width * perPixel + i].pixel != Sample::kUnlit;
      }
      ambient(x, y) = sum * float(m_options.ambientLight / double(perPixel));
      const std::int32_t id = truth.objectId(x, y);
      const bool object = id >= 0 && caster.GetNumTriangles() > 0 && truth.depth(x, y) > 0.0f;
      views(x, y) = std::uint8_t(!object ? PixelView::kNothing : allLit ? PixelView::kLit : PixelView::kShadowed);
    }
  }
  std::lock_guard lock(m_mutex);
  m_samples = std::move(samples);
  m_ambient = std::move(ambient);
  m_truth = std::move(truth);
  m_views = std::move(views);
  m_cache.clear();
  ++m_sceneVersion;
}

std::shared_ptr<const VirtualCamera::Irradiance> VirtualCamera::IrradianceOf(const ShownImage& shown) {
  // Called with m_mutex held.
  if (auto it = m_cache.find(shown.serial); it != m_cache.end()) return it->second;
  auto irradiance = std::make_shared<Irradiance>(m_width, m_height);
  const LightImage& light = *shown.light;
  const std::size_t perPixel = std::size_t(m_options.supersampling) * std::size_t(m_options.supersampling);
  const float scale = 1.0f / float(perPixel);
  const std::uint32_t lw = light.width;
  ParallelFor(std::ptrdiff_t(m_height), [&](std::ptrdiff_t row) {
    const std::uint32_t y = std::uint32_t(row);
    math::Vec3f* out = irradiance->Row(y);
    const Sample* s = m_samples.empty() ? nullptr : &m_samples[std::size_t(y) * m_width * perPixel];
    for (std::uint32_t x = 0; x < m_width; ++x) {
      math::Vec3f sum{0.0f, 0.0f, 0.0f};
      for (std::size_t k = 0; s && k < perPixel; ++k, ++s) {
        if (s->pixel == Sample::kUnlit) continue;
        const math::Vec3f* p = light.data + s->pixel;
        const math::Vec3f top = p[0] * (1.0f - s->fx) + p[1] * s->fx;
        const math::Vec3f bottom = p[lw] * (1.0f - s->fx) + p[lw + 1] * s->fx;
        const math::Vec3f l = top * (1.0f - s->fy) + bottom * s->fy;
        sum += math::Vec3f{s->direct[0] * l[0], s->direct[1] * l[1], s->direct[2] * l[2]};
      }
      out[x] = sum * scale;
    }
  });
  // Keep the images of the last few serials only.
  while (m_cache.size() >= 4) m_cache.erase(m_cache.begin());
  m_cache[shown.serial] = irradiance;
  return irradiance;
}

std::vector<std::uint8_t> VirtualCamera::RenderFrame(double t, bool withNoise) {
  const double latency = m_options.latencyMs * 1e-3;
  std::lock_guard lock(m_mutex);
  const double exposure = m_exposureMs * 1e-3;
  const std::vector<ShownWeight> shown = m_projector->GetShownDuring(t - latency - exposure, t - latency);
  std::vector<std::pair<std::shared_ptr<const Irradiance>, float>> parts;
  for (const ShownWeight& s : shown) parts.emplace_back(IrradianceOf(s.image), float(s.weight));

  const int channels = m_options.color ? 3 : 1;
  std::vector<std::uint8_t> frame(std::size_t(m_width) * m_height * channels);
  const float level = float(255.0 * m_gain * m_exposureMs / m_options.referenceExposureMs);
  const bool gamma = m_options.cameraGamma != 1.0;
  const float inverseGamma = float(1.0 / m_options.cameraGamma);
  const float sigma = withNoise ? float(m_options.noiseSigma) : 0.0f;
  const std::size_t offset = std::uniform_int_distribution<std::size_t>(0, kNoiseTableSize - 1)(m_random);
  // With defocus the linear levels are blurred as a whole first.
  const bool defocus = m_options.defocusSigma > 0.0;
  std::vector<float> linear;
  auto linearAt = [&](std::size_t i, float values[3]) {
    math::Vec3f e = m_ambient.data[i];
    for (const auto& [irradiance, weight] : parts) e += irradiance->data[i] * weight;
    values[0] = e[2], values[1] = e[1], values[2] = e[0];  // b, g, r
    if (channels == 1) values[0] = (e[0] + e[1] + e[2]) / 3.0f;
  };
  if (defocus) {
    linear.resize(std::size_t(m_width) * m_height * channels);
    ParallelFor(std::ptrdiff_t(m_height), [&](std::ptrdiff_t row) {
      for (std::uint32_t x = 0; x < m_width; ++x) {
        const std::size_t i = std::size_t(row) * m_width + x;
        float values[3];
        linearAt(i, values);
        for (int c = 0; c < channels; ++c) linear[i * channels + c] = values[c];
      }
    });
    Blur(linear, m_width, m_height, channels, m_options.defocusSigma);
  }
  ParallelFor(std::ptrdiff_t(m_height), [&](std::ptrdiff_t row) {
    const std::uint32_t y = std::uint32_t(row);
    for (std::uint32_t x = 0; x < m_width; ++x) {
      const std::size_t i = std::size_t(y) * m_width + x;
      float values[3];
      if (defocus) {
        for (int c = 0; c < channels; ++c) values[c] = linear[i * channels + c];
      } else {
        linearAt(i, values);
      }
      for (int c = 0; c < channels; ++c) {
        float v = std::max(0.0f, values[c] * level);
        if (gamma) v = 255.0f * std::pow(std::min(v / 255.0f, 1.0f), inverseGamma);
        if (sigma > 0.0f) v += sigma * m_noise[(offset + i * channels + c) & (kNoiseTableSize - 1)];
        frame[i * channels + c] = std::uint8_t(std::clamp(std::lround(v), 0l, 255l));
      }
    }
  });
  return frame;
}

void VirtualCamera::Run() {
  const double period = 1.0 / m_options.frameRateHz;
  double next = m_projector->Now();
  const std::int32_t stride = vid::DefaultStride(m_format);
  const std::size_t rowBytes = std::size_t(m_width) * (m_options.color ? 3 : 1);
  std::vector<std::uint8_t> buffer(std::size_t(stride) * m_height, 0);
  std::unique_lock lock(m_threadMutex);
  while (!m_stop) {
    const double wait = next - m_projector->Now();
    if (wait > 0.0 && m_wake.wait_for(lock, std::chrono::duration<double>(wait), [&] { return m_stop; })) break;
    const double t = m_projector->Now();
    next = std::max(next + period, t);
    if (!m_delivery.IsAttached() || m_unplugged) continue;
    lock.unlock();
    const std::vector<std::uint8_t> frame = RenderFrame(t, true);
    for (std::uint32_t y = 0; y < m_height; ++y)
      std::copy_n(frame.data() + y * rowBytes, rowBytes, buffer.data() + std::size_t(y) * stride);
    try {
      m_delivery.Deliver(buffer.data(), m_format, stride, t, false);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Error: %s: frame delivery failed: %s\n", m_options.name.c_str(), e.what());
    }
    lock.lock();
  }
}

void VirtualCamera::StartCapture(std::shared_ptr<vid::ImageStore> store, std::shared_ptr<vid::ImageFilter> filter) {
  m_delivery.Attach(std::move(store), std::move(filter));
}

void VirtualCamera::StopCapture() { m_delivery.Detach(); }

vid::PropertyValues VirtualCamera::GetProperties() const {
  std::lock_guard lock(m_mutex);
  return {{kExposure, vid::Property(m_exposureMs)}, {kGain, vid::Property(m_gain)}};
}

std::vector<std::string> VirtualCamera::GetPropertyNames(bool) const { return {kExposure, kGain}; }

vid::Property VirtualCamera::GetProperty(const std::string& name) const {
  std::lock_guard lock(m_mutex);
  if (name == kExposure) return vid::Property(m_exposureMs);
  if (name == kGain) return vid::Property(m_gain);
  return {};
}

vid::PropertyRange VirtualCamera::GetPropertyRange(const std::string& name) const {
  if (name == kExposure) return {0.1, 1000.0, m_options.exposureMs, 0.1, true};
  if (name == kGain) return {0.1, 16.0, m_options.gain, 0.01, true};
  return {};
}

bool VirtualCamera::FormatPropertyValue(std::string& text, double value, const std::string& name) const {
  char buffer[64];
  if (name == kExposure) {
    std::snprintf(buffer, sizeof buffer, "%.1f ms", value);
  } else if (name == kGain) {
    std::snprintf(buffer, sizeof buffer, "%.2fx", value);
  } else {
    text.clear();
    return false;
  }
  text = buffer;
  return true;
}

bool VirtualCamera::SetProperty(const std::string& name, const vid::Property& property) {
  if (!property.valid || property.IsAuto()) return false;
  const vid::PropertyRange range = GetPropertyRange(name);
  if (!range.valid || !(property.value >= range.minimum && property.value <= range.maximum)) return false;
  std::lock_guard lock(m_mutex);
  (name == kExposure ? m_exposureMs : m_gain) = property.value;
  return true;
}

}  // namespace sim
