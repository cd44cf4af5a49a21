#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vid/ImageCapture.h"

namespace galvern {

// The capture of the heads' other camera family. There is no driver for
// that family here: IsAvailable always answers no, so the heads never
// create one, and every operation does nothing. Starting releases the store
// and filter it is given, the queries answer false, properties, name and
// format are empty. Only the source GUID is real, made at construction.
class GrabberSpinnaker : public vid::ImageCapture, public vid::ImageCaptureProperties {
 public:
  GrabberSpinnaker();

  // Whether cameras of that family can be reached on this machine: never.
  static bool IsAvailable() { return false; }

  void StartCapture(std::shared_ptr<vid::ImageStore> store,
                    std::shared_ptr<vid::ImageFilter> filter) override;
  void StopCapture() override {}
  bool IsCapturing() const override { return false; }
  bool IsReady() const override { return false; }
  utils::Guid GetSourceGuid() const override { return m_guid; }
  std::string GetName() const override { return {}; }
  vid::Format GetFormat() const override { return {}; }

  vid::PropertyValues GetProperties() const override { return {}; }
  std::vector<std::string> GetPropertyNames(bool) const override { return {}; }
  vid::Property GetProperty(const std::string&) const override { return {}; }
  vid::PropertyRange GetPropertyRange(const std::string&) const override { return {}; }
  bool FormatPropertyValue(std::string& text, double, const std::string&) const override;
  bool SetProperty(const std::string&, const vid::Property&) override { return false; }

 private:
  utils::Guid m_guid;
};

}  // namespace galvern
