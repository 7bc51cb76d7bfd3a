// The WAV reader on arbitrary bytes.
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "wav/wav_reader.h"

using namespace qern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_log();
    const FileHandle file = fuzz::memory_file({data, size});
    fuzz::check(file != nullptr, "memory stream opens");
    ResampleJob job;
    int channel_count = 0;
    int bytes_per_sample = 0;
    SampleEncoding encoding = SampleEncoding::PCM;
    if (read_wav_headers(file.get(), job, channel_count, bytes_per_sample, encoding) != 0) return 0;
    fuzz::check(channel_count == 1 || channel_count == 2, "one or two channels");
    fuzz::check(encoding == SampleEncoding::PCM ? bytes_per_sample >= 1 && bytes_per_sample <= 4
                                                : bytes_per_sample == 4 || bytes_per_sample == 8,
                "PCM of 1 to 4 bytes or float of 4 or 8 bytes per value");
    fuzz::check(job.sample_rate > 0, "positive sample rate");
    fuzz::check(job.sample_count > 0, "at least one sample");
    // No declared size makes the reader take far more than the file holds.
    const std::int64_t declared = static_cast<std::int64_t>(job.sample_count) * bytes_per_sample *
                                  channel_count;
    fuzz::check(declared <= static_cast<std::int64_t>(size) + MAX_DATA_SHORTFALL,
                "sample count bounded by the file size");
    if (read_sample_data(job, bytes_per_sample, file.get(), channel_count, encoding) != 0) return 0;
    fuzz::check(job.samples.count() == job.sample_count, "buffer holds sample_count samples");
    // PCM keeps the range of its bit depth; float (NaN read as 0) stays
    // within the range of 32-bit PCM.
    const double limit = std::ldexp(1.0, encoding == SampleEncoding::PCM ? 8 * bytes_per_sample - 1 : 31);
    const double* samples = job.samples.data();
    for (int i = 0; i < job.sample_count; ++i) {
        fuzz::check(samples[i] >= -limit && samples[i] <= limit, "sample within its range");
    }
    return 0;
}
