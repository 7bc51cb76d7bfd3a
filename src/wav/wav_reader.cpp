#include "wav/wav_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "base/error_log.h"
#include "base/failure_summary.h"
#include "base/file_io.h"
#include "base/byte_order.h"

namespace qern {

namespace {

// Frames decoded per read of the data chunk.
constexpr int FRAMES_PER_READ = 16384;

// Format tags of the fmt chunk.
constexpr std::uint16_t FORMAT_PCM = 1;
constexpr std::uint16_t FORMAT_IEEE_FLOAT = 3;
constexpr std::uint16_t FORMAT_EXTENSIBLE = 0xFFFE;

// The fmt chunk of the extensible format: the 16 bytes of the plain one,
// then the extension size, valid bits, channel mask and the sub-format GUID
// (its first two bytes the format tag of the samples, then this tail).
constexpr int EXTENSIBLE_FMT_SIZE = 40;
constexpr unsigned char SUBFORMAT_GUID_TAIL[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Float samples are full scale at 1.0; they are brought to the 16-bit
// integer scale, on which the analysis thresholds lie, and kept within the
// range of 32-bit integer samples (NaN reads as silence).
constexpr double FLOAT_SCALE = 32768.0;
constexpr double FLOAT_LIMIT_LOW = -2147483648.0;
constexpr double FLOAT_LIMIT_HIGH = 2147483647.0;

bool read_bytes(std::FILE* file, unsigned char* out, std::size_t count) {
    return std::fread(out, 1, count, file) == count;
}

// Reads `count` bytes, logging `message` when the file cannot give them.
bool read_or_log(std::FILE* file, unsigned char* out, std::size_t count, const char* message) {
    if (read_bytes(file, out, count)) return true;
    log_error(message, ERROR_PREFIX);
    note_failure_reason("the file ends inside its headers");
    return false;
}

// The four bytes of a chunk identifier as text, up to a zero byte among them.
std::string identifier_text(const unsigned char* id) {
    const char* text = reinterpret_cast<const char*>(id);
    return std::string(text, std::find(text, text + 4, '\0'));
}

bool is_identifier(const unsigned char* id, const char* expected) {
    return std::memcmp(id, expected, 4) == 0;
}

bool has_wav_extension(const std::string& path) {
    if (path.size() < 4) return false;
    const std::string ending = path.substr(path.size() - 4);
    return ending == ".wav" || ending == ".WAV";
}

// Reads a 4-byte identifier that must be `expected`, with the two messages
// for a failed read and for other bytes, and the English reason for other
// bytes (a format taking the bytes found).
int read_identifier(std::FILE* file, const char* expected, const char* read_failed,
                    const char* missing, const char* missing_reason) {
    unsigned char id[4];
    if (!read_or_log(file, id, 4, read_failed)) return -1;
    if (!is_identifier(id, expected)) {
        const std::string found = identifier_text(id);
        log_error(missing, ERROR_PREFIX, found.c_str());
        note_failure_reason(missing_reason, found.c_str());
        return -1;
    }
    return 0;
}

// Slides a 4-byte window through the file one byte at a time until it holds
// "data"; the window starts with the identifier already read.
bool find_data_chunk(std::FILE* file, unsigned char window[4]) {
    while (!is_identifier(window, "data")) {
        const int c = std::fgetc(file);
        if (c == EOF) return false;
        std::memmove(window, window + 1, 3);
        window[3] = static_cast<unsigned char>(c);
    }
    return true;
}

double decode_float(const unsigned char* b, int bytes_per_sample) {
    double value = 0.0;
    if (bytes_per_sample == 4) {
        const std::uint32_t bits = load_le32(b);
        float f = 0.0f;
        std::memcpy(&f, &bits, sizeof f);
        value = f;
    } else {
        const std::uint64_t bits = load_le32(b) | (static_cast<std::uint64_t>(load_le32(b + 4)) << 32);
        std::memcpy(&value, &bits, sizeof value);
    }
    if (std::isnan(value)) return 0.0;
    return std::clamp(value * FLOAT_SCALE, FLOAT_LIMIT_LOW, FLOAT_LIMIT_HIGH);
}

double decode_value(const unsigned char* b, int bytes_per_sample, SampleEncoding encoding) {
    if (encoding == SampleEncoding::IEEE_FLOAT) return decode_float(b, bytes_per_sample);
    switch (bytes_per_sample) {
        case 1:
            return static_cast<double>(b[0]) - 128.0;
        case 2:
            return load_le16_signed(b);
        case 3: {
            const std::uint32_t raw = b[0] | (b[1] << 8) | (static_cast<std::uint32_t>(b[2]) << 16);
            const std::int32_t value = static_cast<std::int32_t>(raw << 8) >> 8;  // sign-extend
            return value;
        }
        default:
            return load_le32_signed(b);
    }
}

// Reads the 24 bytes that follow the plain fields of an extensible fmt
// chunk of `chunk_size` bytes and sets `sample_format` to the format tag of
// its sub-format. Returns 0, or -1 after logging.
int read_extensible_format(std::FILE* file, std::int32_t chunk_size, std::uint16_t& sample_format) {
    unsigned char extension[24];
    if (chunk_size < EXTENSIBLE_FMT_SIZE || !read_bytes(file, extension, sizeof extension)) {
        log_error(MSG_FORMAT_TAG_READ_FAILED, ERROR_PREFIX);
        note_failure_reason("incomplete extensible fmt chunk");
        return -1;
    }
    const unsigned char* guid = extension + 8;
    sample_format = load_le16(guid);
    if (std::memcmp(guid + 2, SUBFORMAT_GUID_TAIL, sizeof SUBFORMAT_GUID_TAIL) != 0 ||
        (sample_format != FORMAT_PCM && sample_format != FORMAT_IEEE_FLOAT)) {
        log_error(MSG_NOT_LINEAR_PCM, ERROR_PREFIX);
        note_failure_reason("unsupported sub-format of the extensible layout "
                            "(linear PCM or IEEE float needed)");
        return -1;
    }
    return 0;
}

bool supported_bits(SampleEncoding encoding, int bits_per_sample) {
    if (encoding == SampleEncoding::PCM) {
        return bits_per_sample == 8 || bits_per_sample == 16 || bits_per_sample == 24 ||
               bits_per_sample == 32;
    }
    return bits_per_sample == 32 || bits_per_sample == 64;
}

}  // namespace

int read_fmt_chunk(std::FILE* file, WavFormat& format) {
    unsigned char b[4];
    if (!read_or_log(file, b, 4, MSG_FMT_SIZE_READ_FAILED)) return -1;
    const std::int32_t chunk_size = load_le32_signed(b);
    const auto warn_about_size = [&] {
        log_warning(MSG_FMT_SIZE_UNUSUAL, WARNING_PREFIX, static_cast<int>(chunk_size));
    };
    if (!read_bytes(file, b, 2)) {
        if (chunk_size != 16) warn_about_size();
        log_error(MSG_FORMAT_TAG_READ_FAILED, ERROR_PREFIX);
        note_failure_reason("the file ends inside its fmt chunk");
        return -1;
    }
    const std::uint16_t format_tag = load_le16(b);
    // The sizes the float and extensible layouts have are no cause for a warning.
    const bool usual_size = chunk_size == 16 ||
                            (format_tag == FORMAT_IEEE_FLOAT && chunk_size == 18) ||
                            (format_tag == FORMAT_EXTENSIBLE && chunk_size == EXTENSIBLE_FMT_SIZE);
    if (!usual_size) warn_about_size();
    if (format_tag != FORMAT_PCM && format_tag != FORMAT_IEEE_FLOAT && format_tag != FORMAT_EXTENSIBLE) {
        log_error(MSG_NOT_LINEAR_PCM, ERROR_PREFIX);
        note_failure_reason("unsupported format tag %u (linear PCM or IEEE float needed)",
                            static_cast<unsigned>(format_tag));
        return -1;
    }
    if (!read_or_log(file, b, 2, MSG_CHANNELS_READ_FAILED)) return -1;
    format.channel_count = load_le16_signed(b);
    if (format.channel_count != 1 && format.channel_count != 2) {
        log_error(MSG_UNSUPPORTED_CHANNELS, ERROR_PREFIX, format.channel_count);
        note_failure_reason("unsupported channel count %d (mono or stereo needed)", format.channel_count);
        return -1;
    }
    if (!read_or_log(file, b, 4, MSG_RATE_READ_FAILED)) return -1;
    const std::int32_t sample_rate = load_le32_signed(b);
    if (sample_rate <= 0) {
        log_error(MSG_INVALID_RATE, ERROR_PREFIX, static_cast<int>(sample_rate));
        note_failure_reason("invalid sample rate %d", static_cast<int>(sample_rate));
        return -1;
    }
    format.sample_rate = sample_rate;
    if (!seek_relative(file, 6)) {
        log_error(MSG_BYTE_RATE_SKIP_FAILED, ERROR_PREFIX);
        note_failure_reason("the file ends inside its fmt chunk");
        return -1;
    }
    if (!read_or_log(file, b, 2, MSG_BITS_READ_FAILED)) return -1;
    format.bits_per_sample = load_le16_signed(b);

    std::int64_t bytes_read = 16;
    std::uint16_t sample_format = format_tag;
    if (format_tag == FORMAT_EXTENSIBLE) {
        // The format of the samples is the sub-format's.
        if (read_extensible_format(file, chunk_size, sample_format) != 0) return -1;
        bytes_read = EXTENSIBLE_FMT_SIZE;
    }
    format.encoding = sample_format == FORMAT_IEEE_FLOAT ? SampleEncoding::IEEE_FLOAT : SampleEncoding::PCM;
    if (!supported_bits(format.encoding, format.bits_per_sample)) {
        log_error(MSG_UNSUPPORTED_BITS, ERROR_PREFIX, format.bits_per_sample);
        note_failure_reason("unsupported bits per sample %d for %s (%s)", format.bits_per_sample,
                            format.encoding == SampleEncoding::PCM ? "PCM" : "float",
                            format.encoding == SampleEncoding::PCM ? "8, 16, 24 or 32" : "32 or 64");
        return -1;
    }
    if (chunk_size != bytes_read) seek_relative(file, static_cast<std::int64_t>(chunk_size) - bytes_read);  // failure ignored
    return 0;
}

int read_wav_headers(std::FILE* file, WavFormat& format, int& sample_count) {
    if (read_identifier(file, "RIFF", MSG_RIFF_READ_FAILED, MSG_RIFF_MISSING,
                        "not a RIFF file (it starts with \"%s\")") != 0) {
        return -1;
    }
    if (!seek_relative(file, 4)) {
        log_error(MSG_FILE_SIZE_READ_FAILED, ERROR_PREFIX);
        note_failure_reason("the file ends inside its headers");
        return -1;
    }
    if (read_identifier(file, "WAVE", MSG_WAVE_READ_FAILED, MSG_WAVE_MISSING,
                        "not a WAVE file (RIFF type \"%s\")") != 0) {
        return -1;
    }
    if (read_identifier(file, "fmt ", MSG_FMT_READ_FAILED, MSG_FMT_MISSING,
                        "no fmt chunk after the WAVE header (found \"%s\")") != 0) {
        return -1;
    }
    if (read_fmt_chunk(file, format) != 0) {
        log_error(MSG_FMT_READ_FAILED, ERROR_PREFIX);
        return -1;
    }

    unsigned char window[4];
    if (!read_or_log(file, window, 4, MSG_DATA_READ_FAILED)) return -1;
    if (!find_data_chunk(file, window)) {
        log_error(MSG_DATA_NOT_FOUND, ERROR_PREFIX);
        note_failure_reason("no data chunk");
        return -1;
    }
    unsigned char b[4];
    if (!read_or_log(file, b, 4, MSG_DATA_SIZE_READ_FAILED)) return -1;
    std::int32_t data_size = load_le32_signed(b);
    const std::int64_t present = std::max<std::int64_t>(bytes_remaining(file), 0);
    if (data_size - present > MAX_DATA_SHORTFALL) data_size = static_cast<std::int32_t>(present);
    sample_count = data_size / format.bytes_per_sample() / format.channel_count;
    if (sample_count <= 0) {
        log_error(MSG_DATA_SIZE_TOO_LARGE, ERROR_PREFIX);
        note_failure_reason("the data chunk holds no whole sample (size %d bytes)",
                            static_cast<int>(data_size));
        return -1;
    }
    return 0;
}

namespace {

// Reads frames [start, end) from `file`, which stands at frame `start`, and
// decodes those of the `wanted` ranges (in increasing order, disjoint),
// frame wanted[k].first + i into to[k][i], each the mean of its channels;
// the file is read past stretches of other frames without decoding them.
// Returns false when the file ended first: a value the file ends inside is
// not added, the frame keeps the values read before it (divided by the
// channel count), and later frames are not written.
bool read_frames(std::FILE* file, const WavFormat& format, int start, int end, std::span<const SampleRange> wanted,
                 double* const* to) {
    const int bytes_per_sample = format.bytes_per_sample();
    const int channel_count = format.channel_count;
    const std::size_t value_bytes = static_cast<std::size_t>(bytes_per_sample);
    const std::size_t frame_bytes = value_bytes * static_cast<std::size_t>(channel_count);
    std::vector<unsigned char> bytes(frame_bytes * static_cast<std::size_t>(std::min(FRAMES_PER_READ, end - start)));
    std::size_t next = 0;  // the first wanted range that ends past `first`
    for (int first = start; first < end;) {
        while (next < wanted.size() && wanted[next].last <= first) ++next;
        if (next == wanted.size()) return true;
        if (wanted[next].first >= static_cast<long long>(first) + FRAMES_PER_READ) {
            // A whole read's worth of frames nobody wants: past them.
            const int skip_to = std::min(wanted[next].first, end);
            const std::int64_t skipped =
                static_cast<std::int64_t>(skip_to - first) * static_cast<std::int64_t>(frame_bytes);
            if (!seek_relative(file, skipped)) return false;
            first = skip_to;
            continue;
        }
        const int frames = std::min(FRAMES_PER_READ, end - first);
        const std::size_t size = frame_bytes * static_cast<std::size_t>(frames);
        const std::size_t got = std::fread(bytes.data(), 1, size, file);
        for (std::size_t k = next; k < wanted.size() && wanted[k].first < first + frames; ++k) {
            const int lo = std::max(wanted[k].first, first);
            const int hi = std::min(wanted[k].last, first + frames);
            double* out = to[k] - wanted[k].first;
            for (int frame = lo; frame < hi; ++frame) {
                const int i = frame - first;
                double sum = 0.0;
                for (int c = 0; c < channel_count; ++c) {
                    const std::size_t offset = (static_cast<std::size_t>(i) * channel_count + c) * value_bytes;
                    if (offset + value_bytes > got) break;
                    sum += decode_value(bytes.data() + offset, bytes_per_sample, format.encoding);
                }
                out[frame] = sum / channel_count;
            }
        }
        if (got < size) return false;  // the file ended: later samples stay 0.0
        first += frames;
    }
    return true;
}

// All `count` frames into out[0 .. count-1].
bool read_frames(std::FILE* file, const WavFormat& format, double* out, int count) {
    const SampleRange all{0, count};
    return read_frames(file, format, 0, count, std::span<const SampleRange>(&all, 1), &out);
}

}  // namespace

// The file an input's samples are still to be decoded from.
struct WavSource {
    FileHandle file;
    WavFormat format;
    std::int64_t data_start = 0;  // the first sample byte
};

int read_sample_data(std::FILE* file, const WavFormat& format, int sample_count,
                     SampleBuffer& samples) {
    samples = SampleBuffer::allocate(sample_count);
    if (samples.empty()) {
        log_error(MSG_SAMPLE_MEMORY, ERROR_PREFIX);
        note_failure_reason("out of memory for %d samples", sample_count);
        return -1;
    }
    read_frames(file, format, samples.data(), sample_count);
    return 0;
}

int decode_samples(DecodedInput& input, int first, int last) {
    WavSource* source = input.source.get();
    if (source == nullptr) return 0;
    first = std::max(first, 0);
    last = std::min(last, input.samples.count());
    if (first >= last) return 0;
    const std::int64_t frame_bytes =
        static_cast<std::int64_t>(source->format.bytes_per_sample()) * source->format.channel_count;
    // A file that cannot be positioned or ends early leaves zeros, as when
    // it is read through.
    if (seek_to(source->file.get(), source->data_start + static_cast<std::int64_t>(first) * frame_bytes)) {
        make_present(input.samples.data() + first, static_cast<std::size_t>(last - first) * sizeof(double));
        read_frames(source->file.get(), source->format, input.samples.data() + first, last - first);
    }
    return 0;
}

namespace {

// Decodes the frames of `ranges` (in increasing order, disjoint, inside the
// data) of `source`, range k from to[k] on; a file that cannot be
// positioned or ends early leaves zeros, as when it is read through.
void read_ranges(WavSource& source, std::span<const SampleRange> ranges, double* const* to) {
    const int first = ranges.front().first;
    const int last = ranges.back().last;
    const std::int64_t frame_bytes =
        static_cast<std::int64_t>(source.format.bytes_per_sample()) * source.format.channel_count;
    if (seek_to(source.file.get(), source.data_start + static_cast<std::int64_t>(first) * frame_bytes)) {
        read_frames(source.file.get(), source.format, first, last, ranges, to);
    }
}

}  // namespace

int decode_sample_ranges(DecodedInput& input, std::span<const SampleRange> ranges) {
    WavSource* source = input.source.get();
    if (source == nullptr) return 0;
    std::vector<SampleRange> wanted;
    try {
        wanted = merged_ranges(std::vector<SampleRange>(ranges.begin(), ranges.end()), input.samples.count());
    } catch (const std::bad_alloc&) {
        // Without the list, every sample the ranges span.
        SampleRange hull{INT_MAX, INT_MIN};
        for (const SampleRange& r : ranges) {
            hull = SampleRange{std::min(hull.first, r.first), std::max(hull.last, r.last)};
        }
        return decode_samples(input, hull.first, hull.last);
    }
    if (wanted.empty()) return 0;
    const int first = wanted.front().first;
    const int last = wanted.back().last;
    make_present(input.samples.data() + first, static_cast<std::size_t>(last - first) * sizeof(double));
    std::vector<double*> to;
    try {
        for (const SampleRange& r : wanted) to.push_back(input.samples.data() + r.first);
    } catch (const std::bad_alloc&) {
        return decode_samples(input, first, last);
    }
    read_ranges(*source, wanted, to.data());
    return 0;
}

int decode_sample_stretches(DecodedInput& input, std::vector<SampleRange> ranges, BulkArena* memory) {
    WavSource* source = input.source.get();
    if (source == nullptr) return 0;
    ranges = merged_ranges(std::move(ranges), input.samples.count());
    if (ranges.empty()) return 0;
    SampleStretches stretches = SampleStretches::allocate_in(memory, ranges, input.samples.count());
    std::vector<double*> to;
    try {
        to.reserve(ranges.size());
    } catch (const std::bad_alloc&) {
        stretches = SampleStretches{};
    }
    if (stretches.empty()) return decode_sample_ranges(input, ranges);
    for (std::size_t k = 0; k < ranges.size(); ++k) to.push_back(stretches.stretch_data(k));
    read_ranges(*source, ranges, to.data());
    input.stretches = std::move(stretches);
    return 0;
}

int decode_all_samples(DecodedInput& input) {
    decode_samples(input, 0, input.samples.count());
    input.source.reset();
    return 0;
}

namespace {

// Opens the WAV file at `path` and reads its headers: `file` then stands at
// the first sample byte. Returns 0, or -1 after logging.
int open_wav_headers(const std::string& path, FileHandle& file, WavFormat& format, int& sample_count) {
    file = open_file(path, "rb");
    if (!file) {
        log_error(MSG_CANNOT_OPEN_FILE, ERROR_PREFIX, path.c_str());
        note_failure("cannot open input file \"%s\"", path.c_str());
        return -1;
    }
    if (!has_wav_extension(path)) {
        log_error(MSG_UNKNOWN_EXTENSION, ERROR_PREFIX);
        note_failure("input file \"%s\" does not end in .wav or .WAV", path.c_str());
        return -1;
    }
    if (read_wav_headers(file.get(), format, sample_count) != 0) {
        note_failure("cannot read input file \"%s\"", path.c_str());
        return -1;
    }
    return 0;
}

}  // namespace

int open_wav_file(const std::string& path, DecodedInput& input) {
    input = DecodedInput{};
    auto source = std::make_shared<WavSource>();
    int sample_count = 0;
    if (open_wav_headers(path, source->file, source->format, sample_count) != 0) return -1;
    source->data_start = file_position(source->file.get());
    if (source->data_start < 0) {
        // The samples could not be found again later: read them now.
        if (read_sample_data(source->file.get(), source->format, sample_count, input.samples) != 0) {
            note_failure("cannot read input file \"%s\"", path.c_str());
            input = DecodedInput{};
            return -1;
        }
        input.sample_rate = source->format.sample_rate;
        return 0;
    }
    // Its pages come as samples are decoded into them: a note may want only
    // a stretch of a long file.
    input.samples = SampleBuffer::allocate_in_bulk(sample_count, Presence::on_touch);
    if (input.samples.empty()) {
        log_error(MSG_SAMPLE_MEMORY, ERROR_PREFIX);
        note_failure_reason("out of memory for %d samples", sample_count);
        note_failure("cannot read input file \"%s\"", path.c_str());
        input = DecodedInput{};
        return -1;
    }
    input.sample_rate = source->format.sample_rate;
    input.source = std::move(source);
    return 0;
}

int read_wav_file(const std::string& path, DecodedInput& input) {
    input = DecodedInput{};
    FileHandle file;
    WavFormat format;
    int sample_count = 0;
    if (open_wav_headers(path, file, format, sample_count) != 0) return -1;
    if (read_sample_data(file.get(), format, sample_count, input.samples) != 0) {
        note_failure("cannot read input file \"%s\"", path.c_str());
        input = DecodedInput{};
        return -1;
    }
    input.sample_rate = format.sample_rate;
    return 0;
}

}  // namespace qern
