#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vid/FrameDelivery.h"
#include "vid/ImageCapture.h"
#include "vid/Logger.h"

namespace vid {

// A source that plays a folder of numbered image files, or repeats one still
// image, at a fixed frame rate on its own streaming thread; it stands in for
// video-file and still-image capture and replays recorded frames.
//
// Files: in a folder, the regular files with an image extension (png, bmp,
// jpg, jpeg, tga, pgm, ppm, pnm, gif) whose name contains a number, ordered
// by the last number in the name (then by name); other files are ignored.
// Frames are Y800 for grey pictures and RGB24 for colour ones, with rows
// padded to a multiple of 4 bytes. The first file fixes the format.
//
// Playback starts with the first StartCapture that attaches a store and
// keeps going while the source lives; StopCapture pauses it (the position is
// kept) and a later StartCapture resumes. Without looping, the source stops
// after the last file; a StartCapture after that plays from the first file
// again. A frame's timestamp is its position in the stream divided by the
// frame rate. A file that cannot be decoded or has another size than the
// first is logged as an ERROR and skipped.
//
// Properties: "flip_vertical_sw" (0 or 1) flips every frame vertically;
// "trigger_enable" (0 or 1) makes the source deliver one frame per
// SendSoftwareTrigger instead of pacing by the frame rate.
class FileImageCapture : public SoftwareTrigger,
                         public ImageCaptureProperties,
                         public ImageCapture {
 public:
  enum class PixelMode { kAuto, kGray, kColor };  // kAuto: grey when the first file is grey

  struct Options {
    double framesPerSecond = 30.0;
    bool loop = false;  // numbered files: start again after the last one
    PixelMode pixelMode = PixelMode::kAuto;
    std::filesystem::path logFile;  // empty: console only
  };

  // Throws CaptureDeviceNotAvailableException "FileImageCapture - ..." when
  // the path does not exist, a folder holds no numbered image files, or the
  // first file cannot be decoded; std::invalid_argument when the frame rate
  // is not a positive finite number.
  explicit FileImageCapture(const std::filesystem::path& path, const Options& options);
  explicit FileImageCapture(const std::filesystem::path& path)
      : FileImageCapture(path, Options{}) {}
  ~FileImageCapture() override;

  // The numbered files of a folder in playing order (see above).
  static std::vector<std::filesystem::path> ListNumberedImageFiles(
      const std::filesystem::path& folder);

  // ImageCapture
  void StartCapture(std::shared_ptr<ImageStore> store,
                    std::shared_ptr<ImageFilter> filter) override;
  void StopCapture() override;
  bool IsCapturing() const override;
  bool IsReady() const override { return true; }
  utils::Guid GetSourceGuid() const override { return m_delivery.GetStreamGuid(); }
  std::string GetName() const override { return m_path.string(); }
  Format GetFormat() const override { return m_format; }

  // ImageCaptureProperties
  PropertyValues GetProperties() const override;
  std::vector<std::string> GetPropertyNames(bool onlyAdjustable) const override;
  Property GetProperty(const std::string& name) const override;
  PropertyRange GetPropertyRange(const std::string& name) const override;
  bool FormatPropertyValue(std::string& text, double value, const std::string& name) const override;
  bool SetProperty(const std::string& name, const Property& property) override;
  // False for an unknown name or a second converter for the same name.
  bool AddPropertyValueConverter(const std::string& name, PropertyValueConverter converter);

  // With "trigger_enable" on and playback running: the next file is
  // delivered at once on the streaming thread. False otherwise.
  bool SendSoftwareTrigger() override;

  const std::vector<std::filesystem::path>& GetFiles() const { return m_files; }
  bool IsStillImage() const { return m_still; }
  // True once a non-looping sequence has passed its last file.
  bool IsAtEnd() const;
  // Files skipped because they could not be decoded or had another size.
  std::size_t GetSkippedFileCount() const;
  // Frame events (delivered frames) so far, and a wait for the next ones.
  std::uint64_t GetFrameCount() const { return m_delivery.GetFrameCount(); }
  bool WaitForFrameAfter(std::uint64_t seen, double timeoutSeconds) const {
    return m_delivery.WaitForFrameAfter(seen, timeoutSeconds);
  }
  Logger& GetLogger() { return m_logger; }

 private:
  struct Frame;
  void Run();
  // Decodes file `index` into the frame buffer; false (logged) when it cannot.
  bool LoadFrame(std::size_t index, bool flip);
  bool Decode(const std::filesystem::path& file, Frame& frame) const;
  void EnsureThread();

  const std::filesystem::path m_path;
  const Options m_options;
  Logger m_logger;
  std::vector<std::filesystem::path> m_files;
  bool m_still = false;
  Format m_format;
  std::int32_t m_stride = 0;
  std::unique_ptr<Frame> m_stillFrame;  // decoded once for a still image
  std::unique_ptr<Frame> m_frame;       // the buffer delivered, reused (streaming thread only)
  PropertyValueConverters m_converters;
  FrameDelivery m_delivery;

  mutable std::mutex m_mutex;  // guards the playback state below
  std::condition_variable m_wake;
  bool m_stop = false;
  bool m_playing = false;
  bool m_atEnd = false;
  bool m_flip = false;
  bool m_triggered = false;
  std::uint64_t m_pendingTriggers = 0;
  std::size_t m_next = 0;        // index of the next file
  std::uint64_t m_position = 0;  // frames passed since the stream began
  std::size_t m_skipped = 0;
  std::thread m_thread;
};

}  // namespace vid
