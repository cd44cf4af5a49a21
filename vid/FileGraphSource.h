#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "vid/GraphSource.h"

namespace vid {

// The file back-ends of the capture graph: a folder of numbered image files
// played once as a video (files ordered as FileImageCapture orders them), or
// one still image repeated. Frames are Y800 for grey pictures and RGB24 for
// colour ones, rows padded to a multiple of 4 bytes; the first file fixes
// the format. The sampler paces the frames to the media type's rate. A file
// that cannot be decoded or differs in size is skipped (GetError says which).
class FileGraphSource : public GraphSource {
 public:
  enum class Kind { kVideo, kImage };

  // Throws CaptureDeviceNotAvailableException when the path is missing, a
  // folder has no numbered image files or the first file cannot be decoded.
  FileGraphSource(const std::filesystem::path& path, Kind kind, double framesPerSecond);

  std::string GetName() const override { return m_path.string(); }
  std::vector<MediaType> GetMediaTypes() const override { return {m_type}; }
  // Takes the source's own subtype and size at any positive rate.
  bool SetMediaType(const MediaType& type) override;
  MediaType GetMediaType() const override { return m_type; }

  bool StartStreaming() override;
  void StopStreaming() override {}
  Wait WaitFrame(int timeoutMs, RawFrame& frame) override;
  void ReleaseFrame() override {}
  bool IsPaced() const override { return true; }

  std::string GetError() const override { return m_error; }
  std::size_t GetFileCount() const { return m_files.size(); }

 private:
  bool Decode(const std::filesystem::path& file);

  std::filesystem::path m_path;
  Kind m_kind;
  std::vector<std::filesystem::path> m_files;
  MediaType m_type;
  std::size_t m_stride = 0;
  std::vector<std::uint8_t> m_bytes;
  std::size_t m_next = 0;
  std::uint64_t m_position = 0;  // frames delivered since streaming started
  std::string m_error;
};

}  // namespace vid
