#pragma once

#include <cstdint>

namespace testing_support {

// A TCP port on 127.0.0.1 that nothing listened on a moment ago (the system picks it).
uint16_t FreeLoopbackPort();

}  // namespace testing_support
