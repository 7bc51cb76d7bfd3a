#include "wav/wav_writer.h"

#include <algorithm>
#include <vector>

#include "driver/error_log.h"
#include "driver/failure_summary.h"
#include "driver/file_io.h"
#include "driver/numbers.h"
#include "wav/byte_order.h"

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
int write_wav_contents(std::FILE* file, const ResampleJob& job, int count) {
    const std::uint32_t data_size = 2u * static_cast<std::uint32_t>(count);
    if (write_field(file, "RIFF", "%s\"RIFF\"の書き込みに失敗\n") != 0 ||
        write_u32(file, data_size + 36u, "%sファイルサイズの書き込みに失敗\n") != 0 ||
        write_field(file, "WAVE", "%sWAVEヘッダの書き込みに失敗\n") != 0) {
        return -1;
    }
    if (write_fmt_chunk(job, file) != 0) {
        log_error("%sfmtチャンクの書き込みに失敗\n", ERROR_PREFIX);
        return -1;
    }
    if (write_field(file, "data", "%sdataチャンクの書き込みに失敗\n") != 0 ||
        write_u32(file, data_size, "%sデータサイズの書き込みに失敗\n") != 0) {
        return -1;
    }
    const double* samples = job.samples.data();
    std::vector<unsigned char> bytes(2 * SAMPLES_PER_WRITE);
    for (int first = 0; first < count;) {
        const int n = std::min(SAMPLES_PER_WRITE, count - first);
        for (int i = 0; i < n; ++i) {
            const int value = truncate_to_int(samples[first + i]);
            store_le16(bytes.data() + 2 * i, static_cast<std::uint16_t>(value & 0xFFFF));
        }
        if (!write_bytes(file, bytes.data(), 2 * static_cast<std::size_t>(n))) {
            log_error("%sデータの書き込みに失敗\n", ERROR_PREFIX);
            return -1;
        }
        first += n;
    }
    return 0;
}

}  // namespace

int write_fmt_chunk(const ResampleJob& job, std::FILE* file) {
    const auto rate = static_cast<std::uint32_t>(job.sample_rate);
    if (write_field(file, "fmt ", "%s\"fmt \"の書き込みに失敗\n") != 0 ||
        write_u32(file, 16, "%sfmtチャンクサイズの書き込みに失敗\n") != 0 ||
        write_u16(file, 1, "%sフォーマットIDの書き込みに失敗\n") != 0 ||
        write_u16(file, 1, "%sチャンネル数の書き込みに失敗\n") != 0 ||
        write_u32(file, rate, "%sサンプリングレートの書き込みに失敗\n") != 0 ||
        write_u32(file, rate * 2u, "%sデータ速度の書き込みに失敗\n") != 0 ||
        write_u16(file, 2, "%sブロックサイズの書き込みに失敗\n") != 0 ||
        write_u16(file, 16, "%s1サンプルあたりのビット数の書き込みに失敗\n") != 0) {
        return -1;
    }
    return 0;
}

int write_wav_file(const std::string& path, const ResampleJob& job) {
    const int count = job.sample_count;
    if (job.samples.empty() || count < 0 || count > job.samples.count()) {
        log_error("%s書き込むデータが存在しません\n", ERROR_PREFIX);
        note_failure("no samples to write to output file \"%s\"", path.c_str());
        return -1;
    }
    const std::string temporary = temporary_path_for(path);
    FileHandle file = open_file(temporary, "wb");
    if (!file) {
        log_error("%sファイル%sを開けません\n", ERROR_PREFIX, path.c_str());
        note_failure("cannot create output file \"%s\" (missing folder or not writable?)",
                     path.c_str());
        return -1;
    }
    int result = write_wav_contents(file.get(), job, count);
    // Closing flushes the last buffered bytes: a failure there is a failed write.
    if (std::fclose(file.release()) != 0 && result == 0) {
        log_error("%sデータの書き込みに失敗\n", ERROR_PREFIX);
        result = -1;
    }
    if (result != 0) note_failure("cannot write output file \"%s\" (disk full?)", path.c_str());
    if (result == 0 && !replace_file(temporary, path)) {
        log_error("%sファイル%sを開けません\n", ERROR_PREFIX, path.c_str());
        note_failure("cannot put output file \"%s\" in place (is it open elsewhere?)", path.c_str());
        result = -1;
    }
    if (result != 0) remove_file(temporary);
    return result;
}

}  // namespace qern
