#include "cam/CameraModel.h"

#include <iostream>

#include "cam/SimpleXML.h"

namespace cam {
namespace {

// Pose tags in text order: the columns n, o, a, p of wTc.
constexpr const char* kPoseTags[12] = {"nx", "ny", "nz", "ox", "oy", "oz", "ax", "ay", "az", "px", "py", "pz"};

}  // namespace

bool CameraModel::ReadFromXML(const std::string& text) {
  SimpleXML reader(text);
  math::Frame<double> wTc;
  for (int k = 0; k < 12; ++k) reader.Read(kPoseTags[k], wTc(k % 3, k / 3));
  if (reader.HasErrors()) {
    std::cerr << "Error: cam::CameraModel::ReadFromXML - " << reader.GetErrorSummary() << '\n';
    return false;
  }
  wTc.OrthoNormalize();
  if (!wTc.IsOrthoNorm(1e-6)) {
    std::cerr << "Error: cam::CameraModel::ReadFromXML - The pose has no valid rotation.\n";
    return false;
  }
  SetFrame_wTc(wTc);
  return true;
}

bool CameraModel::WriteToXML(std::string& text) const {
  SimpleXML::Write(text, "resX", m_resX);
  SimpleXML::Write(text, "resY", m_resY);
  for (int k = 0; k < 12; ++k) SimpleXML::Write(text, kPoseTags[k], m_wTc(k % 3, k / 3));
  return true;
}

}  // namespace cam
