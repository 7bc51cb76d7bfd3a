// Helpers shared by the analysis tests: a captured error log, file bytes,
// jobs built from synthetic signals.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "driver/error_log.h"
#include "driver/resample_job.h"

#include "test_support.h"

namespace qern::analysis_test {

using test::TempDir;

inline std::vector<unsigned char> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Sends the error log of the scope to a file and hands back what was written.
class LogCapture {
public:
    LogCapture() { open_error_log(dir_.file("log.txt")); }
    ~LogCapture() { close_error_log(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string text() {
        close_error_log();
        const std::vector<unsigned char> bytes = read_bytes(dir_.file("log.txt"));
        open_error_log(dir_.file("log.txt"));  // further messages start afresh
        // As UTF-8 with LF line ends on every platform.
        return test::printed_text(std::string(bytes.begin(), bytes.end()));
    }

private:
    TempDir dir_;
};

// A job holding `signal` as its input samples.
inline ResampleJob make_job(const std::vector<double>& signal, int sample_rate) {
    ResampleJob job;
    job.sample_rate = sample_rate;
    job.samples = SampleBuffer::allocate(static_cast<int>(signal.size()));
    job.sample_count = static_cast<int>(signal.size());
    for (int i = 0; i < job.sample_count; ++i) job.samples[i] = signal[static_cast<std::size_t>(i)];
    return job;
}

// A voice-like periodic signal: five harmonics with falling amplitudes whose
// fundamental period (in samples) at sample n is period(n); zero where the
// period is 0.
inline std::vector<double> harmonic_signal(int count, const std::function<double(int)>& period,
                                           double amplitude = 8000.0) {
    constexpr double two_pi = 6.283185307179586;
    std::vector<double> x(static_cast<std::size_t>(count), 0.0);
    double phase = 0.0;
    for (int n = 0; n < count; ++n) {
        const double p = period(n);
        if (p <= 0.0) continue;
        double v = 0.0;
        for (int h = 1; h <= 5; ++h) v += std::sin(h * phase) / h;
        x[static_cast<std::size_t>(n)] = amplitude * v;
        phase = std::fmod(phase + two_pi / p, two_pi);
    }
    return x;
}

}  // namespace qern::analysis_test
