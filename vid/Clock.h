#pragma once

#include <functional>

namespace vid {

// A monotonic clock in seconds. The measuring helpers take one so that tests
// can drive them; empty means the steady system clock.
using SecondsClock = std::function<double()>;

// Seconds on the steady system clock.
double SteadySeconds();

}  // namespace vid
