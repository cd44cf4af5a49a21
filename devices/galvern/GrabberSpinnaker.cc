#include "devices/galvern/GrabberSpinnaker.h"

namespace galvern {

GrabberSpinnaker::GrabberSpinnaker() : m_guid(utils::Guid::NewGuid()) {}

void GrabberSpinnaker::StartCapture(std::shared_ptr<vid::ImageStore> store,
                                    std::shared_ptr<vid::ImageFilter> filter) {
  store.reset();
  filter.reset();
}

bool GrabberSpinnaker::FormatPropertyValue(std::string& text, double, const std::string&) const {
  text.clear();
  return false;
}

}  // namespace galvern
