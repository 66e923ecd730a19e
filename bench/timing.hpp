// Wall-clock and process CPU time of one timed section.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <thread>

namespace VarnelBench {

struct Timing {
    double seconds = 0;     // wall clock
    double cpuSeconds = 0;  // user + system time of this process (the client's share; the server's is not in it)
};

/// Lets the server finish the work it does after answering a search (it shares the cores with us), so that
/// the timed section that follows measures the client and not the server's clean-up.
inline void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

class Stopwatch {
public:
    Stopwatch() { start(); }
    void start() noexcept {
        m_cpu = cpuNow();
        m_wall = std::chrono::steady_clock::now();
    }
    Timing stop() const noexcept {
        const auto wall = std::chrono::steady_clock::now();
        return Timing{std::chrono::duration<double>(wall - m_wall).count(), cpuNow() - m_cpu};
    }

private:
    static double cpuNow() noexcept {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    std::chrono::steady_clock::time_point m_wall;
    double m_cpu = 0;
};

}  // namespace VarnelBench
