#include "memory_budget.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>

#include <unistd.h>

namespace zorp {

// Worked out in 64 bits: where size_t has 32, half of a machine of 8 GiB or more would wrap
// around to any size, none included. A process of 32-bit pointers addresses 4 GiB at most
// whatever the machine holds, so its budget is half of that at most.
size_t memory_budget_bytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    const uint64_t half_the_machine =
        pages > 0 && page_size > 0
            ? static_cast<uint64_t>(pages) / 2 * static_cast<uint64_t>(page_size)
            : uint64_t{8} << 30;
    const uint64_t half_the_address_space = std::numeric_limits<size_t>::max() / 2;
    return static_cast<size_t>(std::min(half_the_machine, half_the_address_space));
}

namespace {

std::string formatted(const char* format, double value) {
    std::array<char, 64> text{};
    const int written = std::snprintf(text.data(), text.size(), format, value);
    return written > 0 ? std::string(text.data()) : std::string();
}

}  // namespace

std::string gibibytes(double bytes) {
    return formatted("%.1f", bytes / double(size_t{1} << 30)) + " GiB";
}

std::string decimal(double value) {
    return formatted("%g", value);
}

}  // namespace zorp
