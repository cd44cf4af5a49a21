#pragma once

#include <iostream>

#include "foundation/utils/Progress.h"

namespace surf {

// What the mesh importers report while they read.
struct ImportOptions {
  // Completed fraction; returning true cancels the import (it then fails).
  utils::ProgressCallback progress;
  // Receives the progress marks (">" while reading); null for none.
  std::ostream* marks = &std::cout;
};

}  // namespace surf
