#include "vid/GrabberImagingSource.h"

#include <cstdlib>
#include <stdexcept>

#include "vid/LibusbDevice.h"
#include "vid/V4l2GraphSource.h"

namespace vid {
namespace {

constexpr const char* kSource = "GrabberImagingSource";

std::uint64_t SerialToId(const std::string& serial) {
  if (serial.empty()) return 0;
  char* end = nullptr;
  const unsigned long long decimal = std::strtoull(serial.c_str(), &end, 10);
  if (end && *end == '\0') return decimal;
  const unsigned long long hex = std::strtoull(serial.c_str(), &end, 16);
  if (end && *end == '\0') return hex;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : serial) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

}  // namespace

GrabberImagingSource::GrabberImagingSource(const std::filesystem::path& logFile, Options options)
    : GrabberDirectShow(logFile, std::move(options.grabber)),
      m_usbOpener(std::move(options.usbOpener)) {
  if (!m_usbOpener)
    m_usbOpener = [](const std::string& node) {
      return std::shared_ptr<lib33u::driver_interface::IUsbDevice>(
          lib33u::driver_interface::usb::LibusbDevice::OpenForVideoNode(node));
    };
}

lib33u::device_interface::gencp::GenCPDevice* GrabberImagingSource::Channel() const {
  const auto* live = dynamic_cast<const V4l2GraphSource*>(GetGraphSource());
  if (!live) {
    GetLogger().Error(kSource, "The camera channel needs an open live source.");
    return nullptr;
  }
  if (m_gencp && m_channelNode == live->GetDevice().path) return m_gencp.get();
  m_gencp.reset();
  m_usb.reset();
  try {
    m_usb = m_usbOpener(live->GetDevice().path);
    if (!m_usb) throw std::runtime_error("no USB device");
    m_gencp = std::make_unique<lib33u::device_interface::gencp::GenCPDevice>(m_usb);
    m_channelNode = live->GetDevice().path;
  } catch (const std::exception& e) {
    GetLogger().Error(kSource, std::string("Could not open the camera channel: ") + e.what());
    return nullptr;
  }
  return m_gencp.get();
}

std::uint64_t GrabberImagingSource::GetDeviceId() const {
  if (!Channel()) return 0;
  try {
    return SerialToId(m_usb->GetSerialNumber());
  } catch (const std::exception& e) {
    GetLogger().Error(kSource, std::string("Could not read the device identifier: ") + e.what());
    return 0;
  }
}

bool GrabberImagingSource::ReadUserMemory(std::size_t offset, std::uint8_t* buffer,
                                          std::size_t length) {
  if (offset > kUserMemorySize || length > kUserMemorySize - offset) {
    GetLogger().Error(kSource, "Camera memory read outside the user memory.");
    return false;
  }
  auto* channel = Channel();
  if (!channel) return false;
  try {
    channel->ReadMemory(kUserMemoryBase + offset, buffer, length);
    return true;
  } catch (const std::exception& e) {
    GetLogger().Error(kSource, std::string("Could not read camera memory: ") + e.what());
    return false;
  }
}

bool GrabberImagingSource::WriteUserMemory(const std::uint8_t* data, std::size_t length) {
  if (length > kUserMemorySize) {
    GetLogger().Error(kSource, "Camera memory record of " + std::to_string(length) +
                                   " bytes exceeds the user memory of " +
                                   std::to_string(kUserMemorySize) + " bytes.");
    return false;
  }
  auto* channel = Channel();
  if (!channel) return false;
  try {
    channel->WriteMemory(kUserMemoryBase, data, length);
    return true;
  } catch (const std::exception& e) {
    GetLogger().Error(kSource, std::string("Could not write camera memory: ") + e.what());
    return false;
  }
}

}  // namespace vid
