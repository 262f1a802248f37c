// The output speed of a tty in bits per second, as the kernel keeps it.
#pragma once

#include <cstdint>

namespace roderavo_test {
uint32_t LineSpeed(int fd);  // 0 when unknown
}
