#include "vid/GenCPDevice.h"

#include <gtest/gtest.h>

#include <sstream>

#include "vid/CameraMemoryRecord.h"
#include "vid/GrabberImagingSource.h"
#include "vid/testing/GenCPCameraDouble.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace vid {
namespace {

using lib33u::device_interface::gencp::GenCPDevice;
using testing::GenCPCameraDouble;
constexpr std::uint64_t kBase = GrabberImagingSource::kUserMemoryBase;

template <typename Exception, typename F>
std::string ThrownText(F&& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return "nothing thrown";
}

TEST(GenCPDevice, PacketsAreLaidOutByteForByte) {
  auto camera = std::make_shared<GenCPCameraDouble>();
  camera->SetMemory(0x10, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7});
  GenCPDevice device(camera);
  const std::uint16_t id = GenCPDevice::PeekNextRequestId();
  std::uint8_t buffer[8] = {};
  device.ReadMemory(kBase + 0x10, buffer, 8);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 8),
            (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}));
  const std::uint8_t lo = std::uint8_t(id), hi = std::uint8_t(id >> 8);
  const std::vector<std::uint8_t> read = {'U',  '3',  'V',  'C',  0x00, 0x00, 0x00,
                                          0x08, 0x0C, 0x00, lo,   hi,   0x10, 0x00,
                                          0x09, 0xBB, 0x43, 0x54, 0x52, 0x4C,  // address
                                          0x00, 0x00, 0x08, 0x00};             // reserved, count
  ASSERT_EQ(camera->GetCommands().size(), 1u);
  EXPECT_EQ(camera->GetCommands()[0], read);

  const std::uint8_t data[4] = {1, 2, 3, 4};
  device.WriteMemory(kBase + 4, data, 4);
  const std::uint8_t lo2 = std::uint8_t(id + 1), hi2 = std::uint8_t((id + 1) >> 8);
  const std::vector<std::uint8_t> write = {'U',  '3',  'V',  'C',  0x00, 0x40, 0x02, 0x08,
                                           0x0C, 0x00, lo2,  hi2,  0x04, 0x00, 0x09, 0xBB,
                                           0x43, 0x54, 0x52, 0x4C, 1,    2,    3,    4};
  EXPECT_EQ(camera->GetCommands()[1], write);
  EXPECT_EQ(camera->GetMemory()[4], 1);
  EXPECT_EQ(camera->GetMemory()[7], 4);
}

TEST(GenCPDevice, RequestIdsAreSharedByAllDevicesAndSizesAreReadOnce) {
  auto a = std::make_shared<GenCPCameraDouble>(512, 256);
  auto b = std::make_shared<GenCPCameraDouble>();
  GenCPDevice first(a), second(b);
  EXPECT_EQ(first.GetMaxReadPayload(), 500u);
  EXPECT_EQ(first.GetMaxWritePayload(), 236u);
  EXPECT_EQ(a->GetTransferCount(), 2u);
  std::uint8_t buffer[4];
  const std::uint16_t id = GenCPDevice::PeekNextRequestId();
  first.ReadMemory(kBase, buffer, 4);
  second.ReadMemory(kBase, buffer, 4);
  first.ReadMemory(kBase, buffer, 4);
  auto idOf = [](const std::vector<std::uint8_t>& c) { return std::uint16_t(c[10] | c[11] << 8); };
  EXPECT_EQ(idOf(a->GetCommands()[0]), id);
  EXPECT_EQ(idOf(b->GetCommands()[0]), std::uint16_t(id + 1));
  EXPECT_EQ(idOf(a->GetCommands()[1]), std::uint16_t(id + 2));
  // Sizes cached: two reads of `a` cost 2 transfers each after the first look-ups.
  EXPECT_EQ(a->GetTransferCount(), 2u + 2u + 2u);
}

TEST(GenCPDevice, ProtocolFaultsThrowTheirTexts) {
  auto camera = std::make_shared<GenCPCameraDouble>();
  GenCPDevice device(camera);
  std::uint8_t buffer[8];
  EXPECT_EQ(ThrownText<std::invalid_argument>([&] { device.ReadMemory(kBase, buffer, 6); }),
            "length must be divisible by 4");
  EXPECT_EQ(ThrownText<std::invalid_argument>([&] { device.WriteMemory(kBase, buffer, 6); }),
            "length must be divisible by 4");
  EXPECT_EQ(camera->GetTransferCount(), 0u) << "nothing is sent for a bad length";

  device.ReadMemory(kBase, buffer, 4);  // a first good command, so that there is an older ID
  camera->SetFaults({.staleRequestId = true});
  EXPECT_EQ(ThrownText<std::runtime_error>([&] { device.ReadMemory(kBase, buffer, 4); }),
            "ack::req_id mismatch");
  camera->SetFaults({.failStatus = true});
  EXPECT_EQ(ThrownText<std::runtime_error>([&] { device.WriteMemory(kBase, buffer, 4); }),
            "status failed");
  camera->SetFaults({.lengthDelta = -4});
  EXPECT_EQ(ThrownText<std::runtime_error>([&] { device.ReadMemory(kBase, buffer, 8); }),
            "ack length mismatch");
  camera->SetFaults({.truncateAck = 6});
  EXPECT_EQ(ThrownText<std::runtime_error>([&] { device.ReadMemory(kBase, buffer, 4); }),
            "ack too short");
  camera->SetFaults({.truncateAck = 14});  // the header promises 8 bytes, 2 arrive
  EXPECT_EQ(ThrownText<std::runtime_error>([&] { device.ReadMemory(kBase, buffer, 8); }),
            "ack length mismatch");
  camera->SetFaults({.unplugged = true});
  EXPECT_NE(ThrownText<std::runtime_error>([&] {
              device.ReadMemory(kBase, buffer, 4);
            }).find("NO_DEVICE"),
            std::string::npos);
  camera->SetFaults({});
  EXPECT_NO_THROW(device.ReadMemory(kBase, buffer, 8));
}

// A grabber on the replayed industrial camera whose control channel is the double.
struct ImagingSourceRig {
  std::shared_ptr<testing::ReplayV4l2Bus> bus = std::make_shared<testing::ReplayV4l2Bus>();
  std::shared_ptr<GenCPCameraDouble> camera = std::make_shared<GenCPCameraDouble>(1024, 1024);
  std::ostringstream out, err;
  std::unique_ptr<GrabberImagingSource> grabber;
  std::string openedNode;

  ImagingSourceRig() {
    bus->Plug("/dev/video0", testing::MonoIndustrialCamera(), {.realTime = false});
    GrabberImagingSource::Options options;
    options.grabber.v4l2 = bus;
    options.grabber.consoleInfo = false;
    options.usbOpener = [this](const std::string& node) {
      openedNode = node;
      return camera;
    };
    grabber = std::make_unique<GrabberImagingSource>("", options);
    grabber->Init();
    CameraInfo info;
    info.source = {SourceType::Live, "Mono USB3"};
    info.allowedFormats = {{subtype::Y800, 0, 0, 30.0}};
    EXPECT_EQ(grabber->Open(info, true), 0);
  }
};

TEST(GrabberImagingSource, CalibrationRecordRoundTripsThroughTheCameraMemory) {
  ImagingSourceRig rig;
  CameraMemoryRecord record;
  record.modelType = CameraMemoryRecord::kTsai;
  for (int i = 0; i < 12; ++i) record.pose[std::size_t(i)] = 0.5 * i - 1.0;
  record.resX = 1920, record.resY = 1200;
  record.parameters = {960.5, 600.25, 12.0, 1.0001, -2.5e-3};
  record.value = 7;
  record.text = "abc";
  ASSERT_TRUE(WriteCameraMemoryRecord(*rig.grabber, record));
  EXPECT_EQ(rig.openedNode, "/dev/video0");
  // 4 + 144 + 8 + 3 bytes and one byte of padding, written at the base.
  const auto memory = rig.camera->GetMemory();
  EXPECT_EQ(memory[0], 1);
  EXPECT_EQ(memory[1], 0);
  EXPECT_EQ(memory[2] | memory[3] << 8, 156);
  EXPECT_EQ(std::string(memory.begin() + 156, memory.begin() + 159), "abc");
  EXPECT_EQ(rig.camera->GetCommands().back().size(), 20u + 160u);

  CameraMemoryRecord back;
  ASSERT_EQ(ReadCameraMemoryRecord(*rig.grabber, back), CameraMemoryStatus::kOk);
  EXPECT_EQ(back.value, 7u);
  EXPECT_EQ(back.text, "abc");
  EXPECT_EQ(back.pose, record.pose);
  EXPECT_EQ(back.parameters, record.parameters);
  EXPECT_EQ(back.resY, 1200u);
  EXPECT_EQ(rig.grabber->GetDeviceId(), 41810422u);
}

TEST(GrabberImagingSource, RefusesTooLongRecordsAndReportsChannelFaultsAsFalse) {
  ImagingSourceRig rig;
  const std::size_t before = rig.camera->GetTransferCount();
  std::vector<std::uint8_t> record(65536, 0);
  EXPECT_FALSE(rig.grabber->WriteUserMemory(record.data(), record.size()));
  EXPECT_EQ(rig.camera->GetTransferCount(), before) << "refused before any transfer";

  // A memory whose first word is 3: the wrong version, with the type read.
  rig.camera->SetMemory(0, {3, 0, 8, 0});
  CameraMemoryRecord back;
  EXPECT_EQ(ReadCameraMemoryRecord(*rig.grabber, back), CameraMemoryStatus::kWrongVersion);
  EXPECT_EQ(back.modelType, 3);
  rig.camera->SetMemory(0, {2, 0, 0, 0});
  EXPECT_EQ(ReadCameraMemoryRecord(*rig.grabber, back), CameraMemoryStatus::kNoData);

  rig.camera->SetFaults({.unplugged = true});
  std::uint8_t buffer[4];
  EXPECT_FALSE(rig.grabber->ReadUserMemory(0, buffer, 4));
  EXPECT_EQ(ReadCameraMemoryRecord(*rig.grabber, back), CameraMemoryStatus::kReadFailed);
  EXPECT_EQ(back.modelType, 0);
}

TEST(CameraMemoryRecord, DecodingStopsAtTheRecordsEnd) {
  CameraMemoryRecord record;
  record.modelType = CameraMemoryRecord::kOcv;
  record.parameters.assign(9, 0.25);
  record.text = std::string(300, 'x');
  const auto bytes = EncodeCameraMemoryRecord(record);
  EXPECT_EQ(bytes.size(), 4u + 176u + 8u + 300u);
  CameraMemoryRecord back;
  ASSERT_EQ(DecodeCameraMemoryRecord(bytes.data(), bytes.data() + 4, bytes.size() - 4, back),
            CameraMemoryStatus::kOk);
  EXPECT_EQ(back.text.size(), 255u) << "at most 255 text bytes";
  // A payload shorter than the model, and one without the value.
  EXPECT_EQ(DecodeCameraMemoryRecord(bytes.data(), bytes.data() + 4, 100, back),
            CameraMemoryStatus::kBadModel);
  EXPECT_EQ(DecodeCameraMemoryRecord(bytes.data(), bytes.data() + 4, 180, back),
            CameraMemoryStatus::kOk);
  EXPECT_EQ(back.value, 0u);
  EXPECT_TRUE(back.text.empty());
  record.parameters.resize(5);
  EXPECT_THROW(EncodeCameraMemoryRecord(record), std::invalid_argument);
}

}  // namespace
}  // namespace vid
