#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace zorp {

// A run refused because it would need more memory than the machine can give it. Thrown before
// the memory is taken, so the caller gets an error instead of a machine out of memory.
class MemoryLimitExceeded : public std::runtime_error {
  public:
    explicit MemoryLimitExceeded(const std::string& message) : std::runtime_error(message) {}
};

// The memory one run may plan to hold: half the machine's physical memory, and no more than half
// of what the process can address (2 GiB where pointers are 32 bits).
size_t memory_budget_bytes();

// "12.3 GiB", for messages.
std::string gibibytes(double bytes);

// A number as a message shows it: six significant digits, as printf's %g ("0.5", "1e+20",
// "nan"). Messages are formatted without iostreams: the wheel carries its own copy of the C++
// runtime, and when another copy is loaded in the same process (by any other C++ extension) the
// two share the locale's facet ids, which leaves a stream of this copy unable to format numbers.
std::string decimal(double value);

}  // namespace zorp
