#include "vid/GrabberDirectShow.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "vid/FileGraphSource.h"
#include "vid/V4l2GraphSource.h"
#include "vid/VideoInputDevices.h"

namespace vid {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", value);
  return text;
}

std::string DescribeFormat(const Format& f) {
  return MediaSubtype2String(f.mediaSubtype) + " " + std::to_string(f.width) + " x " +
         std::to_string(f.height) + " @ " + Number(f.fps) + " fps";
}

bool AnyOf(const std::vector<std::string>& names, const char* const* group, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (std::find(names.begin(), names.end(), group[i]) != names.end()) return true;
  return false;
}

// Devices whose driver needs its format set once at a lower rate after stopping.
bool NeedsFormatResetOnStop(const std::string& name) {
  for (const char* fragment : {"CameraSeriesB", "CameraSeriesD", "CameraModelE", "CameraModelF"})
    if (name.find(fragment) != std::string::npos) return true;
  return false;
}

// The media type the forced configuration sets: the first allowed format,
// its open fields (0, nil) taken from the device's first type.
MediaType ForcedMediaType(const Format& allowed, const MediaType& first) {
  MediaType type = first;
  if (!allowed.mediaSubtype.IsNull()) {
    type.fourcc = FourccOfSubtype(allowed.mediaSubtype);
    type.format.mediaSubtype =
        allowed.mediaSubtype == subtype::MJPG ? subtype::RGB24 : allowed.mediaSubtype;
  }
  if (allowed.width > 0) type.format.width = allowed.width;
  if (allowed.height > 0) type.format.height = allowed.height;
  if (allowed.fps > 0.0) type.format.fps = allowed.fps;
  return type;
}

}  // namespace

GrabberDirectShow::GrabberDirectShow(const std::filesystem::path& logFile, Options options)
    : m_options(std::move(options)), m_logger(logFile) {
  m_logger.SetFilePriority(Logger::kInfo, -1);
  m_logger.SetFilePriority(Logger::kWarning, 0);
  m_logger.SetFilePriority(Logger::kError, 100);
  if (!m_options.consoleInfo) m_logger.SetConsolePriority(Logger::kInfo, -1);
  if (!m_options.v4l2) m_options.v4l2 = SystemV4l2Calls();
}

GrabberDirectShow::~GrabberDirectShow() {
  if (m_sampler) {
    m_sampler->Stop();
    m_sampler->GetDelivery().Detach();
  }
  if (m_source) m_source->StopStreaming();
}

std::int32_t GrabberDirectShow::Fail(const std::string& message) {
  m_logger.Error(kLogSource, message);
  return kFailed;
}

bool GrabberDirectShow::Init() {
  if (m_state >= STATE_INITIALIZED) return true;
  m_sampler = std::make_unique<Sampler>(m_logger);
  m_state = STATE_INITIALIZED;
  return true;
}

std::int32_t GrabberDirectShow::Open(const CameraInfo& info, bool force) {
  bool applied = false;
  return Open(info, force, applied);
}

std::int32_t GrabberDirectShow::Open(const CameraInfo& info, bool force, bool& propertiesApplied) {
  propertiesApplied = false;
  m_logger.Info(kLogSource, "Connecting to source - name: " + info.source.name);
  m_logger.Info(kLogSource, std::string("force configuration: ") + (force ? "true" : "false"));
  for (std::size_t i = 0; i < info.allowedFormats.size(); ++i)
    m_logger.Info(kLogSource, "allowed format #" + std::to_string(i) + ": " +
                                  DescribeFormat(info.allowedFormats[i]));
  const bool sameSource = m_state >= STATE_OPEN && m_sourceInfo.type == info.source.type &&
                          m_sourceInfo.name == info.source.name && !IsDeviceLost();
  if (sameSource) {
    if (m_state >= STATE_STOPPED) Disconnect();
  } else {
    const std::int32_t result = OpenSource(info.source);
    if (result != kOk) {
      m_logger.Error(kLogSource, "Could not open source.");
      return result;
    }
  }
  std::int32_t result = kOk;
  if (info.source.type == SourceType::Live) {
    result = SetAvailableFormats(info.allowedFormats, force);
  } else {
    m_fileRate = info.allowedFormats.empty() ? 0.0 : info.allowedFormats.front().fps;
  }
  if (result == kOk) result = Connect();
  if (result != kOk) {
    m_logger.Error(kLogSource, "Could not connect source and sink.");
    return result;
  }
  propertiesApplied = SetProperties(info.defaultProperties);
  return kOk;
}

std::int32_t GrabberDirectShow::OpenSource(const SourceInfo& source) {
  if (m_state < STATE_INITIALIZED) return Fail("Grabber is not initialized.");
  if (m_state >= STATE_OPEN) Close();
  try {
    switch (source.type) {
      case SourceType::Live: {
        const auto devices = EnumerateVideoInputDevices(*m_options.v4l2);
        const VideoInputDevice* device = FindVideoInputDevice(devices, source.name);
        if (!device) {
          m_logger.Error(kLogSource, "No device available.");
          m_logger.Error(kLogSource, "Could not bind live filter.");
          return Fail("Could not open live source.");
        }
        m_source = std::make_unique<V4l2GraphSource>(m_options.v4l2, *device);
        break;
      }
      case SourceType::Video:
        m_source = std::make_unique<FileGraphSource>(source.name, FileGraphSource::Kind::kVideo,
                                                     m_options.fileFramesPerSecond);
        break;
      case SourceType::Image:
        m_source = std::make_unique<FileGraphSource>(source.name, FileGraphSource::Kind::kImage,
                                                     m_options.fileFramesPerSecond);
        break;
      default:
        return Fail("Unknown source type.");
    }
  } catch (const CaptureDeviceNotAvailableException& e) {
    m_logger.Error(kLogSource, e.what());
    if (source.type == SourceType::Live) {
      m_logger.Error(kLogSource, "Could not bind live filter.");
      return Fail("Could not open live source.");
    }
    if (source.type == SourceType::Video) {
      m_logger.Error(kLogSource, "Could not open media file.");
      return Fail("Could not open video.");
    }
    m_logger.Error(kLogSource, "Could not create source filter for still images.");
    return Fail("Could not open image.");
  }
  m_sourceInfo = source;
  LogMissingGroups();
  m_state = STATE_OPEN;
  return kOk;
}

void GrabberDirectShow::LogMissingGroups() {
  const auto names = m_source->GetPropertyNames();
  if (!AnyOf(names, property::kImageProcessing, std::size(property::kImageProcessing)))
    m_logger.Info(kLogSource, "IID_IAMVideoProcAmp interface not found.");
  if (!AnyOf(names, property::kVideoControl, std::size(property::kVideoControl)))
    m_logger.Info(kLogSource, "IID_IAMVideoControl interface not found.");
  if (!AnyOf(names, property::kCameraControl, std::size(property::kCameraControl)))
    m_logger.Info(kLogSource, "IID_IAMCameraControl interface not found.");
  if (!m_source->SupportsSoftwareTrigger())
    m_logger.Info(kLogSource, "IID_IKsPropertySet interface not found.");
}

std::int32_t GrabberDirectShow::SetAvailableFormats(const std::vector<Format>& formats,
                                                    bool force) {
  if (m_state != STATE_OPEN) return Fail("Not in state STATE_OPEN.");
  m_logger.Info(kLogSource, "Requested formats...");
  m_logger.Info(kLogSource, std::string(" force configuration: ") + (force ? "true" : "false"));
  for (std::size_t i = 0; i < formats.size(); ++i)
    m_logger.Info(kLogSource,
                  " Requested format #" + std::to_string(i) + ": " + DescribeFormat(formats[i]));
  const std::vector<MediaType> types = m_source->GetMediaTypes();
  if (types.empty()) return Fail("IID_IAMStreamConfig not available.");
  m_logger.Info(kLogSource, "Iterating through media types...");
  for (std::size_t i = 0; i < types.size(); ++i)
    m_logger.Info(kLogSource,
                  " Media type #" + std::to_string(i) + ": " + DescribeMediaType(types[i]));
  const std::vector<Format> allowed = formats.empty() ? std::vector<Format>{Format{}} : formats;
  const MediaTypeChoice choice = ChooseMediaType(types, allowed);
  m_logger.Info(kLogSource, " Preferred media type by device #0: " + DescribeMediaType(types[0]));
  m_logger.Info(kLogSource, " Choosen media type: #" + std::to_string(choice.index) + " (score " +
                                std::to_string(choice.score) + ")");
  if (force && choice.score == 0) {
    m_logger.Info(kLogSource, "Replaced best fit by forced configuration:");
    const MediaType forced = ForcedMediaType(allowed.front(), types.front());
    m_logger.Info(kLogSource, " " + DescribeMediaType(forced));
    if (forced.fourcc == 0 || !m_source->SetMediaType(forced))
      return Fail("Forced configuration: SetMediaType() failed. " + m_source->GetError());
    m_forcedFormat = forced.format;
    return kOk;
  }
  if (!m_source->SetMediaType(types[std::size_t(choice.index)]))
    return Fail("Could not set preferred media type. " + m_source->GetError());
  return kOk;
}

std::int32_t GrabberDirectShow::Connect() {
  if (m_state != STATE_OPEN) return Fail("Not in state STATE_OPEN.");
  MediaType type = m_source->GetMediaType();
  if (m_sourceInfo.type != SourceType::Live && m_fileRate > 0.0) {
    type.format.fps = m_fileRate;
    m_source->SetMediaType(type);
  }
  if (!m_sampler->CheckMediaType(type)) return Fail("Could not connect source with sink.");
  LogProperties();
  m_state = STATE_STOPPED;
  return kOk;
}

void GrabberDirectShow::LogProperties() {
  m_logger.Info(kLogSource, "Available properties: ");
  for (const std::string& name : GetPropertyNames(false)) {
    const Property value = GetProperty(name);
    const PropertyRange range = GetPropertyRange(name);
    m_logger.Info(kLogSource, " " + name + ": " + Number(value.value));
    m_logger.Info(kLogSource, std::string("  mode:     ") + (value.IsAuto() ? "Auto" : "Manual"));
    if (!range.valid) continue;
    m_logger.Info(kLogSource, "  min:      " + Number(range.minimum));
    m_logger.Info(kLogSource, "  max:      " + Number(range.maximum));
    m_logger.Info(kLogSource, "  default:  " + Number(range.defaultValue));
    m_logger.Info(kLogSource, "  delta:    " + Number(range.delta));
  }
}

std::int32_t GrabberDirectShow::Disconnect() {
  if (m_state < STATE_STOPPED) return Fail("Source and sink are not connected.");
  if (m_state >= STATE_PAUSED) Stop();
  m_logger.Info(kLogSource, "Disconnecting pins: source output and SamplerSink input.");
  m_state = STATE_OPEN;
  return kOk;
}

void GrabberDirectShow::Close() {
  if (m_state >= STATE_PAUSED) Stop();
  if (m_sampler) m_sampler->GetDelivery().Detach();
  m_source.reset();
  m_sourceInfo = SourceInfo{};
  m_forcedFormat = Format{utils::Guid(), -1, -1, 0.0};
  m_fileRate = 0.0;
  if (m_state > STATE_INITIALIZED) m_state = STATE_INITIALIZED;
}

std::int32_t GrabberDirectShow::ChangeFormat(const std::vector<Format>& formats, bool force) {
  if (m_state < STATE_STOPPED) return Fail("Source and sink are not connected.");
  const bool running = m_state >= STATE_PAUSED;
  const bool wasCapturing = running && m_state == STATE_RUNNING;
  Disconnect();
  std::int32_t result = kOk;
  if (m_sourceInfo.type == SourceType::Live) {
    result = SetAvailableFormats(formats, force);
  } else {
    m_fileRate = formats.empty() ? m_fileRate : formats.front().fps;
  }
  if (result == kOk) result = Connect();
  if (result != kOk) return result;
  if (running && !Run()) return kFailed;
  if (running && !wasCapturing) {
    m_sampler->SetDelivering(false);
    m_state = STATE_PAUSED;
  }
  return kOk;
}

bool GrabberDirectShow::StartGraph() {
  if (!m_source->StartStreaming()) {
    m_logger.Error(kLogSource, "Could not run graph. " + m_source->GetError());
    return false;
  }
  m_sampler->SetDelivering(true);
  m_sampler->Start(*m_source);
  return true;
}

void GrabberDirectShow::StopGraph() {
  m_sampler->Stop();
  m_sampler->SetDelivering(false);
  m_source->StopStreaming();
}

bool GrabberDirectShow::Run() {
  if (m_state < STATE_STOPPED) {
    m_logger.Error(kLogSource, "GrabberDirectShow is not in minimum state STATE_STOPPED.");
    return false;
  }
  if (m_state == STATE_RUNNING) return true;
  if (m_state == STATE_PAUSED) {
    m_sampler->SetDelivering(true);
    m_state = STATE_RUNNING;
    return true;
  }
  if (!StartGraph()) {
    StopGraph();
    m_state = STATE_STOPPED;
    return false;
  }
  if (!OnRun()) {
    m_logger.Error(kLogSource, "OnRun failed.");
    StopGraph();
    m_state = STATE_STOPPED;
    return false;
  }
  m_state = STATE_RUNNING;
  return true;
}

bool GrabberDirectShow::Stop() {
  if (m_state < STATE_PAUSED) {
    m_logger.Error(kLogSource, "GrabberDirectShow is not in minimum state STATE_PAUSED.");
    return false;
  }
  StopGraph();
  bool ok = true;
  if (!OnStop()) {
    m_logger.Error(kLogSource, "OnStop failed.");
    ok = false;
  }
  m_state = STATE_STOPPED;
  return ok;
}

bool GrabberDirectShow::OnStop() {
  if (!NeedsFormatResetOnStop(m_sourceInfo.name) || m_sourceInfo.type != SourceType::Live)
    return true;
  const MediaType current = m_source->GetMediaType();
  if (current.format.width <= 0) {
    m_logger.Error(kLogSource, "Could not get current media format.");
    return false;
  }
  MediaType reduced = current;
  reduced.format.fps = 15.0;
  if (!m_source->SetMediaType(reduced)) {
    m_logger.Error(kLogSource, "Could not set media format with reduced framerate.");
    return false;
  }
  if (!m_source->SetMediaType(current)) {
    m_logger.Error(kLogSource, "Could not reset old media format.");
    return false;
  }
  return true;
}

SourceInfo GrabberDirectShow::GetSourceInfo() const { return m_sourceInfo; }

bool GrabberDirectShow::QuerySupport(int kind) const {
  if (kind != 3) return true;
  return m_source && m_source->SupportsSoftwareTrigger();
}

bool GrabberDirectShow::ShowSourcePropertyDlg() {
  if (m_state < STATE_STOPPED) {
    m_logger.Error(kLogSource, "Required minimum state: STATE_STOPPED.");
    return false;
  }
  m_logger.Error(kLogSource, "Could not show source property dialog.");
  return false;
}

bool GrabberDirectShow::ShowSourceFormatDlg() {
  if (m_state != STATE_OPEN) {
    m_logger.Error(kLogSource, "Required state: STATE_OPEN.");
    return false;
  }
  m_logger.Error(kLogSource, "Could not show source format dialog.");
  return false;
}

bool GrabberDirectShow::AddPropertyValueConverter(const std::string& name,
                                                  PropertyValueConverter converter) {
  const auto names = GetPropertyNames(false);
  bool added = false;
  if (std::find(names.begin(), names.end(), name) != names.end()) {
    std::lock_guard lock(m_convertersMutex);
    added = m_converters.Add(name, std::move(converter));
  }
  if (!added)
    m_logger.Error(
        kLogSource,
        "Error in GrabberDirectShow::AddPropertyValueConverter: Invalid property name or "
        "converter already exists.");
  return added;
}

std::vector<MediaType> GrabberDirectShow::GetMediaTypes() const {
  return m_source ? m_source->GetMediaTypes() : std::vector<MediaType>{};
}

std::vector<DeviceFormat> GrabberDirectShow::GetDeviceFormats() const {
  return m_source ? m_source->GetDeviceFormats() : std::vector<DeviceFormat>{};
}

SamplerStatistics GrabberDirectShow::GetStatistics() const {
  return m_sampler ? m_sampler->GetStatistics() : SamplerStatistics{};
}

std::uint64_t GrabberDirectShow::GetFrameCount() const {
  return m_sampler ? m_sampler->GetDelivery().GetFrameCount() : 0;
}

bool GrabberDirectShow::WaitForFrameAfter(std::uint64_t seen, double timeoutSeconds) const {
  return m_sampler && m_sampler->GetDelivery().WaitForFrameAfter(seen, timeoutSeconds);
}

void GrabberDirectShow::SetLostCallback(LostCallback callback) {
  if (m_sampler) m_sampler->SetLostCallback(std::move(callback));
}

void GrabberDirectShow::SetStallSeconds(double seconds) {
  if (m_sampler) m_sampler->SetStallSeconds(seconds);
}

bool GrabberDirectShow::SendSoftwareTrigger() {
  if (m_state != STATE_RUNNING) {
    m_logger.Error(kLogSource, "Grabber is not running.");
    return false;
  }
  if (!m_source->SupportsSoftwareTrigger()) {
    m_logger.Error(kLogSource, "Software trigger is not supported.");
    return false;
  }
  if (!m_source->SendSoftwareTrigger()) {
    m_logger.Error(kLogSource, "Could not send software trigger. " + m_source->GetError());
    return false;
  }
  return true;
}

void GrabberDirectShow::StartCapture(std::shared_ptr<ImageStore> store,
                                     std::shared_ptr<ImageFilter> filter) {
  if (m_state < STATE_PAUSED)
    throw std::logic_error("GrabberDirectShow::StartCapture - Not in state STATE_PAUSED.");
  if (!m_source)
    throw std::logic_error("GrabberDirectShow::StartCapture - Media control not available.");
  if (m_state == STATE_PAUSED) {
    m_sampler->SetDelivering(true);
    m_state = STATE_RUNNING;
  }
  m_sampler->GetDelivery().Attach(std::move(store), std::move(filter));
}

void GrabberDirectShow::StopCapture() {
  if (!m_sampler) throw std::logic_error("GrabberDirectShow::StopCapture - m_sampler is nullptr.");
  m_sampler->GetDelivery().Detach();
  if (m_state == STATE_RUNNING) {
    m_sampler->SetDelivering(false);
    m_state = STATE_PAUSED;
  }
}

bool GrabberDirectShow::IsCapturing() const {
  return m_sampler && m_sampler->GetDelivery().IsAttached();
}

bool GrabberDirectShow::IsReady() const {
  return (m_state == STATE_PAUSED || m_state == STATE_RUNNING) && !IsDeviceLost();
}

utils::Guid GrabberDirectShow::GetSourceGuid() const {
  return m_sampler ? m_sampler->GetDelivery().GetStreamGuid() : utils::Guid();
}

std::string GrabberDirectShow::GetName() const { return m_sourceInfo.name; }

Format GrabberDirectShow::GetFormat() const {
  if (m_state < STATE_STOPPED) {
    m_logger.Warning(kLogSource, "Source and sink are not connected.");
    return Format{};
  }
  const Format format = m_sampler->GetFormat();
  if (format.IsEmpty()) m_logger.Error(kLogSource, "Could not get format from sampler.");
  return format;
}

PropertyValues GrabberDirectShow::GetProperties() const {
  PropertyValues values;
  for (const std::string& name : GetPropertyNames(false)) values.emplace(name, GetProperty(name));
  return values;
}

std::vector<std::string> GrabberDirectShow::GetPropertyNames(bool onlyAdjustable) const {
  std::vector<std::string> names;
  if (!m_source) return names;
  for (const std::string& name : m_source->GetPropertyNames())
    if (!onlyAdjustable || GetPropertyRange(name).valid) names.push_back(name);
  names.push_back(property::kFlipVerticalSw);
  return names;
}

Property GrabberDirectShow::GetProperty(const std::string& name) const {
  if (!m_source) return Property();
  if (name == property::kFlipVerticalSw) return Property(m_sampler->GetFlipVertical() ? 1.0 : 0.0);
  Property value;
  PropertyRange range;
  return m_source->GetProperty(name, value, range) ? value : Property();
}

PropertyRange GrabberDirectShow::GetPropertyRange(const std::string& name) const {
  if (!m_source) return PropertyRange{};
  if (name == property::kFlipVerticalSw) return PropertyRange{0.0, 1.0, 0.0, 1.0, true};
  Property value;
  PropertyRange range;
  return m_source->GetProperty(name, value, range) ? range : PropertyRange{};
}

bool GrabberDirectShow::FormatPropertyValue(std::string& text, double value,
                                            const std::string& name) const {
  std::lock_guard lock(m_convertersMutex);
  return m_converters.Format(text, value, name);
}

bool GrabberDirectShow::SetProperty(const std::string& name, const Property& property) {
  if (!m_source) {
    m_logger.Warning(kLogSource, "Could not set property '" + name + "': no source is open.");
    return false;
  }
  if (name == property::kFlipVerticalSw) {
    if (!property.valid || property.IsAuto() || (property.value != 0.0 && property.value != 1.0)) {
      m_logger.Warning(kLogSource, "Could not set property 'flip_vertical_sw': it takes 0 or 1.");
      return false;
    }
    m_sampler->SetFlipVertical(property.value == 1.0);
    return true;
  }
  if (!m_source->SetProperty(name, property)) {
    m_logger.Warning(kLogSource, "Could not set property '" + name + "': " + m_source->GetError());
    return false;
  }
  return true;
}

}  // namespace vid
