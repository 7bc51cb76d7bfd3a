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
    WavFormat format;
    int sample_count = 0;
    if (read_wav_headers(file.get(), format, sample_count) != 0) return 0;
    const int channel_count = format.channel_count;
    const int bytes_per_sample = format.bytes_per_sample();
    const SampleEncoding encoding = format.encoding;
    fuzz::check(channel_count == 1 || channel_count == 2, "one or two channels");
    fuzz::check(encoding == SampleEncoding::PCM ? bytes_per_sample >= 1 && bytes_per_sample <= 4
                                                : bytes_per_sample == 4 || bytes_per_sample == 8,
                "PCM of 1 to 4 bytes or float of 4 or 8 bytes per value");
    fuzz::check(format.sample_rate > 0, "positive sample rate");
    fuzz::check(sample_count > 0, "at least one sample");
    // No declared size makes the reader take far more than the file holds.
    const std::int64_t declared = static_cast<std::int64_t>(sample_count) * bytes_per_sample *
                                  channel_count;
    fuzz::check(declared <= static_cast<std::int64_t>(size) + MAX_DATA_SHORTFALL,
                "sample count bounded by the file size");
    SampleBuffer samples;
    if (read_sample_data(file.get(), format, sample_count, samples) != 0) return 0;
    fuzz::check(samples.count() == sample_count, "buffer holds sample_count samples");
    // PCM keeps the range of its bit depth; float (NaN read as 0) stays
    // within the range of 32-bit PCM.
    const double limit = std::ldexp(1.0, encoding == SampleEncoding::PCM ? 8 * bytes_per_sample - 1 : 31);
    const double* values = samples.data();
    for (int i = 0; i < sample_count; ++i) {
        fuzz::check(values[i] >= -limit && values[i] <= limit, "sample within its range");
    }
    return 0;
}
