#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

namespace zorp {

// How a caller stops a long call. The caller hands in a check that returns while the work may go
// on and throws once it must stop; the exception then leaves the call as any error would, and
// everything the call had built is freed on the way out.
//
// Long loops count the work they do, in units of roughly one elementary step (a point added, a
// suffix placed, a letter compared), and the check runs once `period` units have gathered since
// it last ran: a few milliseconds of work at most, so a stop request is noticed at once, and a
// check costs nothing measurable against the work between two checks. A default-constructed
// Cancellation never stops.
class Cancellation {
  public:
    static constexpr int64_t period = int64_t{1} << 18;
    // Loops of one-unit steps count whole blocks of steps (see count_step).
    static constexpr size_t block = size_t{1} << 12;

    Cancellation() = default;
    explicit Cancellation(std::function<void()> check) : check(std::move(check)) {}

    // Counts units of work done, and runs the check once a period of them has gathered.
    void count(size_t units) const {
        left -= static_cast<int64_t>(units);
        if (left <= 0) {
            poll();
        }
    }

    // For a loop whose steps each take about one unit: counts a block at every step that is a
    // multiple of the block, so that a step pays only for one test.
    void count_step(size_t step) const {
        if ((step & (block - 1)) == 0) {
            count(block);
        }
    }

    // Runs the check now, and counts afresh.
    void poll() const {
        left = period;
        if (check) {
            check();
        }
    }

  private:
    std::function<void()> check;
    // Counting is not part of what a Cancellation is: a const one still counts.
    mutable int64_t left = period;
};

// Calls body(first, last) on consecutive ranges that cover the steps 0 to steps - 1, each range
// about a block of units long (at least one step), and counts each range's units before it runs:
// a loop cut this way pays for the counting once per range, not once per step.
template <typename Body>
void in_blocks(size_t steps, size_t units_per_step, const Cancellation& cancel, Body&& body) {
    const size_t per_range =
        std::max<size_t>(1, Cancellation::block / std::max<size_t>(1, units_per_step));
    for (size_t first = 0; first < steps; first += std::min(per_range, steps - first)) {
        const size_t last = first + std::min(per_range, steps - first);
        cancel.count((last - first) * units_per_step);
        body(first, last);
    }
}

}  // namespace zorp
