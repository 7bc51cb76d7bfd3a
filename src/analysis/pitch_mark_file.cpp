#include "analysis/pitch_mark_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "analysis/frame_t0.h"
#include "analysis/pitch_marks.h"
#include "base/error_log.h"
#include "base/failure_summary.h"
#include "base/byte_order.h"

namespace qern {

namespace {

// Little-endian fields, byte by byte.
bool write_bytes(std::FILE* f, const unsigned char* bytes, std::size_t size) {
    return std::fwrite(bytes, 1, size, f) == size;
}

bool write_int16(std::FILE* f, std::int16_t value) {
    std::array<unsigned char, 2> b{};
    store_le16(b.data(), static_cast<std::uint16_t>(value));
    return write_bytes(f, b.data(), b.size());
}

bool write_int32(std::FILE* f, std::int32_t value) {
    std::array<unsigned char, 4> b{};
    store_le32(b.data(), static_cast<std::uint32_t>(value));
    return write_bytes(f, b.data(), b.size());
}

bool write_double(std::FILE* f, double value) {
    std::uint64_t u = 0;
    std::memcpy(&u, &value, sizeof u);
    std::array<unsigned char, 8> b{};
    store_le32(b.data(), static_cast<std::uint32_t>(u));
    store_le32(b.data() + 4, static_cast<std::uint32_t>(u >> 32));
    return write_bytes(f, b.data(), b.size());
}

template <std::size_t N>
bool read_bytes(std::FILE* f, std::array<unsigned char, N>& b) {
    return std::fread(b.data(), 1, N, f) == N;
}

bool read_int16(std::FILE* f, std::int16_t& value) {
    std::array<unsigned char, 2> b{};
    if (!read_bytes(f, b)) return false;
    value = load_le16_signed(b.data());
    return true;
}

bool read_int32(std::FILE* f, std::int32_t& value) {
    std::array<unsigned char, 4> b{};
    if (!read_bytes(f, b)) return false;
    value = load_le32_signed(b.data());
    return true;
}

bool read_double(std::FILE* f, double& value) {
    std::array<unsigned char, 8> b{};
    if (!read_bytes(f, b)) return false;
    const std::uint64_t u =
        load_le32(b.data()) | (static_cast<std::uint64_t>(load_le32(b.data() + 4)) << 32);
    std::memcpy(&value, &u, sizeof value);
    return true;
}

// Size of an open file in bytes, leaving the position unchanged; -1 when it
// cannot be told.
long file_size(std::FILE* f) {
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(f);
    if (std::fseek(f, here, SEEK_SET) != 0) return -1;
    return size;
}

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::vector<unsigned char>> read_whole_file(const std::string& path) {
    FileHandle f = open_file(path, "rb");
    if (!f) return std::nullopt;
    std::vector<unsigned char> bytes;
    std::array<unsigned char, 4096> chunk{};
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), f.get());
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < chunk.size()) break;
    }
    if (std::ferror(f.get())) return std::nullopt;
    return bytes;
}

}  // namespace

std::string pitch_mark_cache_name(const std::string& input_path) {
    const std::size_t at = input_path.find_last_of(".\\");
    if (at == std::string::npos) return std::string();
    std::string name = input_path;
    name[at] = '_';
    return name + ".pmk";
}

int check_pitch_marks(std::span<const std::int32_t> mark_periods,
                      std::span<const std::int32_t> mark_positions, int n) {
    for (int i = 1; i <= n; ++i) {
        const std::int32_t period = mark_periods[i];
        if (period < UNVOICED_T0 || period > MAX_MARK_STEP) {
            log_error(MSG_INVALID_MARK_PERIOD, ERROR_PREFIX, i, static_cast<int>(period));
            note_failure_reason("the analysis gave period %d at mark %d, out of range",
                                static_cast<int>(period), i);
            return -1;
        }
        const std::int64_t distance =
            static_cast<std::int64_t>(mark_positions[i]) - mark_positions[i - 1];
        if (distance < UNVOICED_T0 || distance > MAX_MARK_STEP) {
            log_error(MSG_INVALID_MARK_DISTANCE, ERROR_PREFIX, i - 1,
                      static_cast<int>(mark_positions[i - 1]), i,
                      static_cast<int>(mark_positions[i]));
            note_failure_reason("the analysis gave marks %d and %d too near or too far apart",
                                i - 1, i);
            return -1;
        }
    }
    return 0;
}

int write_pitch_mark_file(const std::string& path, std::span<const std::int32_t> mark_periods,
                          std::span<const std::int32_t> mark_positions, int n) {
    FileHandle f = open_file(path, "wb");
    if (!f) {
        log_error(MSG_CACHE_NOT_CREATED, ERROR_PREFIX);
        note_failure_reason("it cannot be created (folder not writable?)");
        return -1;
    }
    if (!write_int16(f.get(), static_cast<std::int16_t>(PMK_VERSION))) {
        log_error(MSG_VERSION_WRITE_FAILED, ERROR_PREFIX);
        note_failure_reason("write failed (disk full?)");
        return -1;
    }
    if (n >= 1 && (mark_periods.size() <= static_cast<std::size_t>(n) ||
                   mark_positions.size() <= static_cast<std::size_t>(n))) {
        log_error(MSG_MARK_COUNT_WRITE_FAILED, ERROR_PREFIX);
        note_failure_reason("the analysis gave fewer marks than %d", n);
        return -1;
    }
    // The whole set is checked before anything after the version is written.
    if (check_pitch_marks(mark_periods, mark_positions, n) != 0) return -1;

    if (!write_double(f.get(), mean_voiced_period(mark_periods, n))) {
        log_error(MSG_MEAN_WRITE_FAILED, ERROR_PREFIX);
        note_failure_reason("write failed (disk full?)");
        return -1;
    }
    if (!write_int32(f.get(), n)) {
        log_error(MSG_MARK_COUNT_WRITE_FAILED, ERROR_PREFIX);
        note_failure_reason("write failed (disk full?)");
        return -1;
    }
    for (int i = 1; i <= n; ++i) {
        if (!write_int32(f.get(), mark_positions[i])) {
            log_error(MSG_MARK_WRITE_FAILED, ERROR_PREFIX);
            note_failure_reason("write failed (disk full?)");
            return -1;
        }
        if (!write_int32(f.get(), mark_periods[i])) {
            log_error(MSG_PERIOD_WRITE_FAILED, ERROR_PREFIX);
            note_failure_reason("write failed (disk full?)");
            return -1;
        }
    }
    // Buffered data reaches the file only here.
    if (std::fclose(f.release()) != 0) {
        log_error(MSG_CACHE_NOT_CREATED, ERROR_PREFIX);
        note_failure_reason("write failed (disk full?)");
        return -1;
    }
    return 0;
}

int read_pitch_mark_file(std::FILE* stream, int sample_count, AnalysisResult& result) {
    result = AnalysisResult{};
    if (std::fseek(stream, 2, SEEK_SET) != 0) {
        log_error(MSG_VERSION_SKIP_FAILED, ERROR_PREFIX);
        note_failure_reason("the file ends inside its header");
        return -1;
    }
    if (!read_double(stream, result.mean_period)) {
        log_error(MSG_MEAN_READ_FAILED, ERROR_PREFIX);
        note_failure_reason("the file ends inside its header");
        return -1;
    }
    std::int32_t count = 0;
    if (!read_int32(stream, count)) {
        log_error(MSG_ENTRY_COUNT_READ_FAILED, ERROR_PREFIX);
        note_failure_reason("the file ends inside its header");
        return -1;
    }
    // The count must fit the file before anything is allocated for it.
    const long size = file_size(stream);
    if (count < 0 || size < PMK_HEADER_SIZE ||
        count > (size - PMK_HEADER_SIZE) / PMK_ENTRY_SIZE) {
        log_error(MSG_ENTRY_COUNT_READ_FAILED, ERROR_PREFIX);
        note_failure_reason("it promises %d pitch marks but holds fewer", static_cast<int>(count));
        return -1;
    }
    try {
        result.marks.assign(static_cast<std::size_t>(count), PitchMarkEntry{});
    } catch (const std::bad_alloc&) {
        log_error(MSG_CACHE_MEMORY, ERROR_PREFIX);
        note_failure_reason("out of memory for %d pitch marks", static_cast<int>(count));
        return -1;
    }

    // A grain reads the samples one period either side of its mark; they
    // must lie inside the input and its margins.
    const std::int64_t lowest = -SAMPLE_MARGIN;
    const std::int64_t highest = static_cast<std::int64_t>(sample_count) + SAMPLE_MARGIN;
    // The entries are read at once; a file that has become shorter since its
    // size was taken ends inside the first entry it does not hold whole.
    std::vector<unsigned char> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(count) * PMK_ENTRY_SIZE);
    } catch (const std::bad_alloc&) {
        log_error(MSG_CACHE_MEMORY, ERROR_PREFIX);
        note_failure_reason("out of memory for %d pitch marks", static_cast<int>(count));
        return -1;
    }
    const std::size_t whole = std::fread(bytes.data(), 1, bytes.size(), stream) / PMK_ENTRY_SIZE;
    for (std::int32_t k = 0; k < count; ++k) {
        PitchMarkEntry& entry = result.marks[static_cast<std::size_t>(k)];
        if (static_cast<std::size_t>(k) < whole) {
            const unsigned char* b = bytes.data() + static_cast<std::size_t>(k) * PMK_ENTRY_SIZE;
            entry.position = load_le32_signed(b);
            entry.period = load_le32_signed(b + 4);
        } else {
            log_error(MSG_ENTRY_READ_FAILED, ERROR_PREFIX);
            note_failure_reason("the file ends inside pitch mark %d", static_cast<int>(k));
            return -1;
        }
        const std::int64_t position = entry.position;
        if (entry.period > MAX_VOICED_PERIOD || entry.period < UNVOICED_T0 ||
            position - entry.period < lowest || position + entry.period > highest) {
            log_error(MSG_INVALID_ENTRY, ERROR_PREFIX);
            note_failure_reason("pitch mark %d (position %d, period %d) is out of range for "
                                "an input of %d samples",
                                static_cast<int>(k), static_cast<int>(entry.position),
                                static_cast<int>(entry.period), sample_count);
            return -1;
        }
    }
    return 0;
}

bool is_complete_pitch_mark_file(const std::string& path) {
    FileHandle f = open_file(path, "rb");
    if (!f) return false;
    std::int16_t version = 0;
    double mean = 0.0;
    std::int32_t count = 0;
    if (!read_int16(f.get(), version) || version < PMK_MIN_REUSE_VERSION) return false;
    if (!read_double(f.get(), mean) || !read_int32(f.get(), count) || count < 0) return false;
    const long size = file_size(f.get());
    return size >= PMK_HEADER_SIZE &&
           (size - PMK_HEADER_SIZE) == static_cast<long>(count) * PMK_ENTRY_SIZE;
}

int install_pitch_mark_file(const std::string& written, const std::string& cache_path) {
    if (replace_file(written, cache_path)) return 0;
    remove_file(written);
    // Another process may hold its own fresh cache open there (the rename
    // cannot replace an open file on Windows); its analysis is the same.
    if (is_complete_pitch_mark_file(cache_path)) return 0;
    log_error(MSG_CACHE_NOT_CREATED, ERROR_PREFIX);
    return -1;
}

int create_pitch_mark_file(const DecodedInput& input, const std::string& cache_path) {
    print_progress(TEXT_ANALYSIS_STARTED);
    AnalysisResult result;
    AnalysisTrace trace;
    if (analyse_sample(input, result, &trace) != 0) return -1;

    // Written completely under a name of its own, then renamed into place,
    // so that no reader ever sees a partial cache.
    const std::string written = temporary_path_for(cache_path);
    const int last = static_cast<int>(result.marks.size());
    if (write_pitch_mark_file(written, trace.mark_periods, trace.mark_positions, last) != 0) {
        remove_file(written);
        log_error(MSG_CACHE_NOT_RECORDED, ERROR_PREFIX);
        note_failure("cannot write cache file \"%s\"", cache_path.c_str());
        return -1;
    }
    if (install_pitch_mark_file(written, cache_path) != 0) {
        log_error(MSG_CACHE_NOT_RECORDED, ERROR_PREFIX);
        note_failure("cannot put cache file \"%s\" in place", cache_path.c_str());
        return -1;
    }

    print_progress(TEXT_ANALYSIS_FINISHED);
    return 0;
}

FileHandle open_pitch_mark_cache(DecodedInput& input, const std::string& input_path, int flag_R) {
    // An older program named the cache after the whole input name.
    remove_file(input_path + ".pmk");

    const std::string cache = pitch_mark_cache_name(input_path);
    if (cache.empty()) {
        log_error(MSG_INVALID_INPUT_NAME, ERROR_PREFIX);
        note_failure("no cache name for input file \"%s\"", input_path.c_str());
        return nullptr;
    }

    // The cache we set out to replace, if any: it is deleted again when the
    // analysis fails, unless another process has put a new one there since.
    std::optional<std::vector<unsigned char>> rejected;
    if (FileHandle f = open_file(cache, "rb")) {
        std::int16_t version = 0;
        // A cache last written before its WAV was made from an earlier
        // recording (re-recorded, trimmed, normalised): it is analysed anew.
        if (read_int16(f.get(), version) && version >= PMK_MIN_REUSE_VERSION && flag_R == 0 &&
            !modified_before(cache, input_path)) {
            return f;
        }
        f.reset();
        rejected = read_whole_file(cache);
    }

    // The analysis takes every sample.
    decode_all_samples(input);
    if (create_pitch_mark_file(input, cache) != 0) {
        log_error(MSG_CACHE_RECORDING_FAILED, ERROR_PREFIX);
        if (rejected && read_whole_file(cache) == rejected) remove_file(cache);
        return nullptr;
    }

    FileHandle f = open_file(cache, "rb");
    if (!f) {
        log_error(MSG_CACHE_NOT_OPENED, ERROR_PREFIX);
        note_failure("cannot open cache file \"%s\"", cache.c_str());
        return nullptr;
    }
    return f;
}

}  // namespace qern
