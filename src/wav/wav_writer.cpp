#include "wav/wav_writer.h"

#include <algorithm>
#include <vector>

#include "base/error_log.h"
#include "base/failure_summary.h"
#include "base/file_io.h"
#include "base/numbers.h"
#include "base/byte_order.h"

namespace qern {

namespace {

// Samples converted per write of the data chunk.
constexpr int SAMPLES_PER_WRITE = 16384;

bool write_bytes(std::FILE* file, const void* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, file) == count;
}

// Writes `count` bytes, logging `message` when that fails.
int write_or_log(std::FILE* file, const void* bytes, std::size_t count, const char* message) {
    if (write_bytes(file, bytes, count)) return 0;
    log_error(message, ERROR_PREFIX);
    return -1;
}

int write_field(std::FILE* file, const char* identifier, const char* message) {
    return write_or_log(file, identifier, 4, message);
}

int write_u16(std::FILE* file, std::uint16_t value, const char* message) {
    unsigned char b[2];
    store_le16(b, value);
    return write_or_log(file, b, 2, message);
}

int write_u32(std::FILE* file, std::uint32_t value, const char* message) {
    unsigned char b[4];
    store_le32(b, value);
    return write_or_log(file, b, 4, message);
}

// Writes everything from "RIFF" to the last sample.
int write_wav_contents(std::FILE* file, const SampleBuffer& samples, int sample_rate) {
    const int count = samples.count();
    const std::uint32_t data_size = 2u * static_cast<std::uint32_t>(count);
    if (write_field(file, "RIFF", MSG_RIFF_WRITE_FAILED) != 0 ||
        write_u32(file, data_size + 36u, MSG_FILE_SIZE_WRITE_FAILED) != 0 ||
        write_field(file, "WAVE", MSG_WAVE_WRITE_FAILED) != 0) {
        return -1;
    }
    if (write_fmt_chunk(sample_rate, file) != 0) {
        log_error(MSG_FMT_WRITE_FAILED, ERROR_PREFIX);
        return -1;
    }
    if (write_field(file, "data", MSG_DATA_ID_WRITE_FAILED) != 0 ||
        write_u32(file, data_size, MSG_DATA_SIZE_WRITE_FAILED) != 0) {
        return -1;
    }
    const double* values = samples.data();
    std::vector<unsigned char> bytes(2 * SAMPLES_PER_WRITE);
    for (int first = 0; first < count;) {
        const int n = std::min(SAMPLES_PER_WRITE, count - first);
        for (int i = 0; i < n; ++i) {
            const int value = truncate_to_int(values[first + i]);
            store_le16(bytes.data() + 2 * i, static_cast<std::uint16_t>(value & 0xFFFF));
        }
        if (!write_bytes(file, bytes.data(), 2 * static_cast<std::size_t>(n))) {
            log_error(MSG_DATA_WRITE_FAILED, ERROR_PREFIX);
            return -1;
        }
        first += n;
    }
    return 0;
}

}  // namespace

int write_fmt_chunk(int sample_rate, std::FILE* file) {
    const auto rate = static_cast<std::uint32_t>(sample_rate);
    if (write_field(file, "fmt ", MSG_FMT_ID_WRITE_FAILED) != 0 ||
        write_u32(file, 16, MSG_FMT_SIZE_WRITE_FAILED) != 0 ||
        write_u16(file, 1, MSG_FORMAT_TAG_WRITE_FAILED) != 0 ||
        write_u16(file, 1, MSG_CHANNELS_WRITE_FAILED) != 0 ||
        write_u32(file, rate, MSG_RATE_WRITE_FAILED) != 0 ||
        write_u32(file, rate * 2u, MSG_BYTE_RATE_WRITE_FAILED) != 0 ||
        write_u16(file, 2, MSG_BLOCK_SIZE_WRITE_FAILED) != 0 ||
        write_u16(file, 16, MSG_BITS_WRITE_FAILED) != 0) {
        return -1;
    }
    return 0;
}

int write_wav_file(const std::string& path, const SampleBuffer& samples, int sample_rate) {
    if (samples.empty()) {
        log_error(MSG_NO_DATA_TO_WRITE, ERROR_PREFIX);
        note_failure("no samples to write to output file \"%s\"", path.c_str());
        return -1;
    }
    const std::string temporary = temporary_path_for(path);
    FileHandle file = open_file(temporary, "wb");
    if (!file) {
        log_error(MSG_CANNOT_OPEN_FILE, ERROR_PREFIX, path.c_str());
        note_failure("cannot create output file \"%s\" (missing folder or not writable?)",
                     path.c_str());
        return -1;
    }
    int result = write_wav_contents(file.get(), samples, sample_rate);
    // Closing flushes the last buffered bytes: a failure there is a failed write.
    if (std::fclose(file.release()) != 0 && result == 0) {
        log_error(MSG_DATA_WRITE_FAILED, ERROR_PREFIX);
        result = -1;
    }
    if (result != 0) note_failure("cannot write output file \"%s\" (disk full?)", path.c_str());
    if (result == 0 && !replace_file(temporary, path)) {
        log_error(MSG_CANNOT_OPEN_FILE, ERROR_PREFIX, path.c_str());
        note_failure("cannot put output file \"%s\" in place (is it open elsewhere?)", path.c_str());
        result = -1;
    }
    if (result != 0) remove_file(temporary);
    return result;
}

}  // namespace qern
