#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/utils/Guid.h"
#include "vid/Format.h"
#include "vid/Image.h"
#include "vid/Property.h"

namespace vid {

// Receives the frames of a capture. Called on the source's streaming thread.
class ImageStore {
 public:
  virtual ~ImageStore() = default;
  // Takes shared ownership of an owned frame. Returns true to ask for more
  // frames, false to end the capture (the source then detaches the store).
  virtual bool PushImage(ImagePtr image) = 0;
};

struct FilterResult {
  ImagePtr replacement;  // an owned frame to pass on instead of the incoming one, or null
  bool drop = false;     // pass nothing to the store for this frame
  bool stop = false;     // end the capture after this frame
};

// Looks at every frame before the store does. Called on the source's
// streaming thread with a view of the device buffer (valid only during the
// call).
class ImageFilter {
 public:
  virtual ~ImageFilter() = default;
  virtual FilterResult Filter(const Image& image) = 0;
};

// A frame source: a camera, a video or a folder of files.
//
// Frame delivery contract, followed by every source for every frame:
//  1. Lock the source's delivery lock.
//  2. Build an Image around the frame buffer without copying it, with the
//     current format, the source's stride, the stream's GUID, the timestamp
//     and the alternating flag.
//  3. If a filter is attached, call it; a replacement becomes the current image.
//  4. If there is no current image and the filter did not ask to drop the
//     frame, the current image is an owned deep copy of the frame (the device
//     reuses its buffer).
//  5. If there is a current image and a store is attached, call PushImage.
//  6. If the filter asked to stop, or PushImage returned false, release both
//     the filter and the store: IsCapturing becomes false and the following
//     frames are not delivered.
//  7. Signal the frame event (wakes those waiting for the next frame), unlock.
// StartCapture and StopCapture take the same delivery lock, so once
// StopCapture returns the store and filter are never called again. FrameDelivery
// (FrameDelivery.h) implements the contract for sources.
//
// Thread rules: frames are delivered on the source's own streaming thread; the
// operations below may be called from any thread. Stores and filters must not
// call back into the source that delivers to them (the delivery lock is held).
class ImageCapture {
 public:
  ImageCapture() = default;
  ImageCapture(const ImageCapture&) = delete;
  ImageCapture& operator=(const ImageCapture&) = delete;
  virtual ~ImageCapture() = default;

  // Attaches the store and the optional filter, replacing any attached ones,
  // and makes the source deliver. A null store attaches nothing: delivery
  // stops as after StopCapture but the device keeps running.
  virtual void StartCapture(std::shared_ptr<ImageStore> store,
                            std::shared_ptr<ImageFilter> filter) = 0;
  // Stops delivery and releases the store and the filter.
  virtual void StopCapture() = 0;
  // True while a store is attached.
  virtual bool IsCapturing() const = 0;
  // True once the source is connected and able to deliver.
  virtual bool IsReady() const = 0;
  // The GUID of the current stream; it stays the same while the stream exists.
  virtual utils::Guid GetSourceGuid() const = 0;
  // The device or file name.
  virtual std::string GetName() const = 0;
  // An identifier the driver reports for the physical device; 0 when unknown.
  virtual std::uint64_t GetDeviceId() const { return 0; }
  // The format now delivered; empty when nothing is connected.
  virtual Format GetFormat() const = 0;
  // True for a source whose frames arrive so late after the scene changes
  // that frame acceptance should skip one frame more than usual.
  virtual bool IsSlowCamera() const { return false; }
};

// Named camera properties of a source (names in Property.h).
class ImageCaptureProperties {
 public:
  ImageCaptureProperties() = default;
  ImageCaptureProperties(const ImageCaptureProperties&) = delete;
  ImageCaptureProperties& operator=(const ImageCaptureProperties&) = delete;
  virtual ~ImageCaptureProperties() = default;

  // Current values of every supported property.
  virtual PropertyValues GetProperties() const = 0;
  // The supported names; with onlyAdjustable, only those with a valid range
  // (the ones a user interface can offer a slider for).
  virtual std::vector<std::string> GetPropertyNames(bool onlyAdjustable) const = 0;
  // Invalid when the name is not supported.
  virtual Property GetProperty(const std::string& name) const = 0;
  // All zero and invalid when the source knows no range.
  virtual PropertyRange GetPropertyRange(const std::string& name) const = 0;
  // Display text through the converter registered for the name; false and an
  // empty text when there is none.
  virtual bool FormatPropertyValue(std::string& text, double value,
                                   const std::string& name) const = 0;
  // SetProperty once per entry in map order; true when every call succeeded.
  virtual bool SetProperties(const PropertyValues& values) {
    bool all = true;
    for (const auto& [name, value] : values) all = SetProperty(name, value) && all;
    return all;
  }
  // False when the name is not supported or the value was rejected.
  virtual bool SetProperty(const std::string& name, const Property& property) = 0;
};

// A source that can be triggered by software.
class SoftwareTrigger {
 public:
  virtual ~SoftwareTrigger() = default;
  // True when the trigger was sent.
  virtual bool SendSoftwareTrigger() = 0;
};

// Thrown by a source whose device (or file) is missing or cannot be opened.
class CaptureDeviceNotAvailableException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vid
