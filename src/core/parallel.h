#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "cancel.h"

namespace zorp {

// Runs body(task, cancel) for every task from 0 to tasks - 1 on min(threads, tasks) threads, the
// caller's among them, and returns once every task has run. Starting a thread costs tens of
// microseconds: the caller asks for one thread where the work is shorter than that.
//
// Tasks are handed out one at a time from a shared counter: which thread runs a task, and
// when, changes nothing a task computes, so a kernel whose tasks write apart (each its own
// outputs, summed in its own order) gives the same results, bit for bit, for any thread count.
//
// Stopping: the caller's check (`cancel`) may need the interpreter, so only the caller's thread
// runs it: as its own tasks count their work, and every few milliseconds while it waits for the
// other threads. Once it throws, or a task throws anywhere, the other threads stop at their next
// count (every Cancellation::period units), no task starts, and the first exception leaves the
// call once every thread has stopped.
template <typename Body>
void parallel_for(size_t tasks, size_t threads, const Cancellation& cancel, Body&& body) {
    threads = std::max<size_t>(1, std::min(threads, tasks));
    if (threads == 1) {
        for (size_t task = 0; task < tasks; ++task) {
            body(task, cancel);
        }
        return;
    }

    struct Stopped {};
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable finished;
    size_t running = threads - 1;
    std::exception_ptr error;

    const auto fail = [&](std::exception_ptr raised) {
        std::lock_guard<std::mutex> held(lock);
        if (!error) {
            error = raised;
        }
        stop.store(true);
    };
    // Runs tasks until none is left or the run stops; a Stopped thrown by a count ends it quietly.
    const auto work = [&](const Cancellation& local) {
        try {
            for (size_t task = next.fetch_add(1); task < tasks && !stop.load();
                 task = next.fetch_add(1)) {
                body(task, local);
            }
        } catch (const Stopped&) {
        } catch (...) {
            fail(std::current_exception());
        }
    };

    // Each thread counts on a Cancellation of its own (counting changes it).
    const auto stopped = [&] {
        if (stop.load()) {
            throw Stopped{};
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    try {
        for (size_t t = 0; t + 1 < threads; ++t) {
            pool.emplace_back([&] {
                work(Cancellation(stopped));
                std::lock_guard<std::mutex> held(lock);
                --running;
                finished.notify_all();
            });
        }
    } catch (...) {
        // A thread the system would not start: those started stop before the error leaves.
        stop.store(true);
        for (std::thread& thread : pool) {
            thread.join();
        }
        throw;
    }

    const Cancellation caller([&] {
        if (stop.load()) {
            throw Stopped{};
        }
        cancel.poll();
    });
    work(caller);
    // The caller keeps checking while the others finish their last tasks.
    {
        std::unique_lock<std::mutex> held(lock);
        while (running > 0) {
            if (finished.wait_for(held, std::chrono::milliseconds(20),
                                  [&] { return running == 0; })) {
                break;
            }
            if (!stop.load()) {
                held.unlock();
                try {
                    cancel.poll();
                } catch (...) {
                    fail(std::current_exception());
                }
                held.lock();
            }
        }
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

}  // namespace zorp
