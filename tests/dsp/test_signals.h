// Test signals of the rate-conversion tests.
#pragma once

#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

namespace testsignals {

// A sum of sines at `rate`, each of amplitude `amplitude`.
inline std::vector<double> Multitone(const std::vector<double>& freqs, double amplitude,
                                     double rate, size_t n) {
    constexpr double kTwoPi = 2 * std::numbers::pi;
    std::vector<double> x(n, 0.0);
    for (double f : freqs)
        for (size_t i = 0; i < n; ++i) x[i] += amplitude * std::sin(kTwoPi * f * i / rate);
    return x;
}

// A logarithmic sweep of amplitude 1 from 20 Hz to 20 kHz over `seconds`, at time t.
inline double LogSweep(double t, double seconds) {
    constexpr double kTwoPi = 2 * std::numbers::pi;
    const double k = std::log(20000.0 / 20.0);
    return std::sin(kTwoPi * 20.0 * seconds / k * (std::exp(t / seconds * k) - 1));
}

}  // namespace testsignals
