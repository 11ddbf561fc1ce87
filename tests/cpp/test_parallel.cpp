#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "parallel.h"
#include "proposals.h"
#include "sliding.h"

namespace zorp {
namespace {

constexpr size_t thread_counts[] = {1, 2, 3, 8};

// Bit patterns, so that a NaN equals itself and -0.0 differs from 0.0.
std::vector<uint64_t> bits_of(const std::vector<double>& values) {
    std::vector<uint64_t> bits(values.size());
    std::memcpy(bits.data(), values.data(), values.size() * sizeof(double));
    return bits;
}

TEST(ParallelFor, RunsEveryTaskOnceWhateverTheThreads) {
    for (size_t tasks : {0, 1, 2, 7, 100}) {
        for (size_t threads : {1, 2, 3, 8, 64}) {
            std::vector<std::atomic<int>> runs(tasks);
            parallel_for(tasks, threads, Cancellation(),
                         [&](size_t task, const Cancellation&) { ++runs[task]; });
            for (size_t task = 0; task < tasks; ++task) {
                EXPECT_EQ(runs[task].load(), 1) << tasks << " tasks on " << threads << " threads";
            }
        }
    }
}

TEST(ParallelFor, ATaskThatThrowsStopsTheOthersAndItsErrorLeaves) {
    for (size_t threads : {1, 2, 8}) {
        std::atomic<size_t> started{0};
        std::atomic<bool> thrown{false};
        // The later tasks wait for the fault, then count until the stop reaches them: on a busy
        // machine, or under a sanitizer, the thread of task 3 may sleep, or take milliseconds
        // to unwind its exception, while the others would run every task. A stop that never
        // comes lets them go after two seconds, and every task then starts.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        EXPECT_THROW(
            parallel_for(1000, threads, Cancellation(),
                         [&](size_t task, const Cancellation& local) {
                             ++started;
                             if (task == 3) {
                                 thrown = true;
                                 throw std::invalid_argument("task 3");
                             }
                             while (task > 3 && !thrown.load()) {
                                 std::this_thread::yield();
                             }
                             for (int unit = 0; unit < 64; ++unit) {
                                 local.count(Cancellation::period / 16);
                             }
                             while (task > 3 && std::chrono::steady_clock::now() < give_up) {
                                 local.count(Cancellation::period / 16);
                                 std::this_thread::yield();
                             }
                         }),
            std::invalid_argument);
        // Every thread stops at its next count: far fewer than all the tasks start.
        EXPECT_LT(started.load(), 1000u) << threads;
    }
}

// The caller's check runs in the caller's thread only, while its tasks count and while it waits
// for the others; once it throws, every thread stops within a few counts.
TEST(ParallelFor, TheCallersCheckStopsEveryThreadPromptly) {
    const auto began = std::chrono::steady_clock::now();
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> elsewhere{false};
    const Cancellation after_a_while([&] {
        if (std::this_thread::get_id() != caller) {
            elsewhere = true;
        }
        if (std::chrono::steady_clock::now() - began > std::chrono::milliseconds(100)) {
            throw std::runtime_error("stopped");
        }
    });
    for (size_t threads : {2, 3}) {
        // Tasks that would run for minutes: each counts a period every few microseconds.
        EXPECT_THROW(
            parallel_for(threads, threads, after_a_while,
                         [](size_t, const Cancellation& local) {
                             for (;;) {
                                 local.count(Cancellation::period);
                                 std::this_thread::sleep_for(std::chrono::microseconds(50));
                             }
                         }),
            std::runtime_error);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
    EXPECT_FALSE(elsewhere.load());
}

Series noise(std::mt19937_64& rng, size_t points) {
    std::normal_distribution<double> normal(0.0, 1.0);
    Series values(points);
    double level = 0.0;
    for (double& value : values) {
        level += normal(rng);
        value = level;
    }
    return values;
}

// Random series of unequal lengths (some shorter than the shapes), weights with unusable
// windows, and shapes around the four lanes: the tables are the same for any thread count, with
// and without the bounds of long shapes (130 points).
TEST(ThreadedKernels, BestCorrelationsAreTheSameForAnyThreadCount) {
    std::mt19937_64 rng(11);
    for (size_t m : {8, 33, 130}) {
        SeriesSet values;
        SeriesSet weights;
        for (size_t points : {5000, 20, 4000, 700, 3000}) {
            values.push_back(noise(rng, points));
            Series weight(points >= m ? points - m + 1 : 0);
            for (size_t j = 0; j < weight.size(); ++j) {
                weight[j] = j % 17 == 3 ? 0.0 : 1.0 / (static_cast<double>(m) * (1.0 + j % 5));
            }
            weights.push_back(weight);
        }
        SeriesSet shapes;
        for (size_t c = 0; c < 13; ++c) {
            shapes.push_back(znormalised(noise(rng, m)));
        }
        const BestMatches one = best_correlations(values, weights, shapes, Cancellation(), 1);
        for (size_t threads : thread_counts) {
            const BestMatches many =
                best_correlations(values, weights, shapes, Cancellation(), threads);
            EXPECT_EQ(many.starts, one.starts) << m << " " << threads;
            EXPECT_EQ(bits_of(many.correlations), bits_of(one.correlations)) << m << " " << threads;
        }
    }
}

TEST(ThreadedKernels, RealignmentSumsAreTheSameForAnyThreadCount) {
    std::mt19937_64 rng(12);
    const size_t m = 40;
    const size_t width = m + m / 2 * 2;
    const std::vector<size_t> members{3, 1, 7, 2, 5};
    SeriesSet rows;
    for (size_t r = 0; r < 18; ++r) {
        rows.push_back(noise(rng, width));
    }
    rows[4][10] = std::nan("");
    std::fill(rows[9].begin(), rows[9].end(), 2.5);
    const std::vector<double> scales{1024.0, 2048.0, 512.0, 1024.0, 4096.0};
    const RealignmentSums one =
        realignment_sums(rows, members, scales, m, 1, 2, std::sqrt(double(m)), Cancellation(), 1);
    for (size_t threads : thread_counts) {
        const RealignmentSums many = realignment_sums(
            rows, members, scales, m, 1, 2, std::sqrt(double(m)), Cancellation(), threads);
        EXPECT_EQ(many.starts, one.starts);
        EXPECT_EQ(many.sums, one.sums) << threads;
        EXPECT_EQ(many.usable, one.usable) << threads;
    }
}

TEST(ThreadedKernels, ProposalKernelsAreTheSameForAnyThreadCount) {
    std::mt19937_64 rng(13);
    std::normal_distribution<double> normal(0.0, 1.0);
    ProposalWindows windows;
    windows.letters = 6;
    for (int series = 0; series < 40; ++series) {
        for (int start = 0; start < 60; ++start) {
            windows.series.push_back(series);
            windows.starts.push_back(start);
            for (int letter = 0; letter < windows.letters; ++letter) {
                windows.means.push_back(normal(rng));
            }
        }
    }
    for (int alphabet : {3, 4}) {
        const std::vector<KeyCounts> counted = count_keys(windows, alphabet, Cancellation(), 1);
        std::vector<ProposalKey> keys;
        for (size_t projection = 0; projection < counted.size(); ++projection) {
            for (size_t k = 0; k < counted[projection].keys.size(); k += 7) {
                keys.push_back({static_cast<int>(projection), counted[projection].keys[k]});
            }
        }
        std::vector<double> averages(keys.size() * windows.letters);
        for (double& average : averages) {
            average = normal(rng);
        }
        const MemberSums sums = sum_members(windows, alphabet, keys, Cancellation(), 1);
        const NearestMembers nearest =
            nearest_members(windows, alphabet, keys, averages, Cancellation(), 1);
        for (size_t threads : thread_counts) {
            const std::vector<KeyCounts> again =
                count_keys(windows, alphabet, Cancellation(), threads);
            ASSERT_EQ(again.size(), counted.size());
            for (size_t p = 0; p < again.size(); ++p) {
                EXPECT_EQ(again[p].keys, counted[p].keys);
                EXPECT_EQ(again[p].windows, counted[p].windows);
                EXPECT_EQ(again[p].series, counted[p].series);
            }
            const MemberSums many = sum_members(windows, alphabet, keys, Cancellation(), threads);
            EXPECT_EQ(many.counts, sums.counts);
            EXPECT_EQ(many.fingerprints, sums.fingerprints);
            EXPECT_EQ(many.sums, sums.sums);
            const NearestMembers near =
                nearest_members(windows, alphabet, keys, averages, Cancellation(), threads);
            EXPECT_EQ(bits_of(near.squares), bits_of(nearest.squares));
            EXPECT_EQ(near.windows, nearest.windows);
        }
    }
}

}  // namespace
}  // namespace zorp
