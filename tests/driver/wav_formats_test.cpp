// WAV input as hosts and recorders write it besides plain PCM: IEEE float
// (format tag 3) and the extensible layout (0xFFFE) with a PCM or float
// sub-format.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "base/error_log.h"
#include "driver/run.h"
#include "wav/wav_reader.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "support/signals.h"

namespace qern {
namespace {

using test::le16;
using test::le32;

constexpr int FORMAT_PCM = 1;
constexpr int FORMAT_FLOAT = 3;

// The sub-format GUID of the extensible layout for a format tag.
std::string subformat_guid(int format_tag) {
    return le16(format_tag) + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
}

// The 40-byte body of an extensible fmt chunk, with `extra` bytes after it.
std::string extensible_fmt(int channels, int bits, int rate, int sub_format, int valid_bits,
                           const std::string& extra = "") {
    const int block = channels * bits / 8;
    return le16(0xFFFE) + le16(channels) + le32(rate) + le32(static_cast<std::int64_t>(rate) * block) +
           le16(block) + le16(bits) + le16(22 + static_cast<int>(extra.size())) + le16(valid_bits) +
           le32(channels == 2 ? 3 : 4) + subformat_guid(sub_format) + extra;
}

std::string float32_data(const std::vector<double>& values) {
    std::string s;
    for (const double v : values) s += test::float32_bytes(static_cast<float>(v));
    return s;
}

std::string float64_data(const std::vector<double>& values) {
    std::string s;
    for (const double v : values) s += test::float64_bytes(v);
    return s;
}

class WavFormats : public ::testing::Test {
protected:
    // Reads `bytes` as a WAV file; the messages of the read are kept in `messages`.
    int read(const std::string& bytes, const std::string& name = "in.wav") {
        test::write_file(dir.file(name), bytes);
        const MessageCapture capture;
        const int result = read_wav_file(dir.file(name), job);
        messages = capture.messages();
        return result;
    }
    std::vector<double> samples() const {
        return std::vector<double>(job.samples.data(), job.samples.data() + job.samples.count());
    }

    test::TempDir dir;
    DecodedInput job;
    std::string messages;
};

// A 16-bit signal as interleaved frames of `channels` channels (the second
// channel a reversed, halved copy), with the same values as floats.
struct Twin {
    std::vector<int> pcm;      // 16-bit values, interleaved
    std::vector<double> full;  // the same on the float scale (value / 32768)
};

Twin make_twin(int frames, int channels) {
    const std::vector<int> mono = test::to_int16(test::voice_signal(frames, 44100, 200.0, 230.0, 5));
    Twin twin;
    for (int i = 0; i < frames; ++i) {
        twin.pcm.push_back(mono[static_cast<std::size_t>(i)]);
        if (channels == 2) twin.pcm.push_back(-mono[static_cast<std::size_t>(frames - 1 - i)] / 2);
    }
    for (const int v : twin.pcm) twin.full.push_back(v / 32768.0);
    return twin;
}

// The encodings of one signal that must all read alike.
std::vector<std::pair<std::string, std::string>> encodings_of(const Twin& t, int channels) {
    const std::string pcm = test::pcm16(t.pcm);
    return {
        {"float32", test::wav_file(test::fmt_body(channels, 32, 44100, FORMAT_FLOAT), float32_data(t.full))},
        {"float32, fmt of 18 bytes",
         test::wav_file(test::fmt_body(channels, 32, 44100, FORMAT_FLOAT) + le16(0), float32_data(t.full))},
        {"float64", test::wav_file(test::fmt_body(channels, 64, 44100, FORMAT_FLOAT), float64_data(t.full))},
        {"extensible pcm16", test::wav_file(extensible_fmt(channels, 16, 44100, FORMAT_PCM, 16), pcm)},
        {"extensible float32",
         test::wav_file(extensible_fmt(channels, 32, 44100, FORMAT_FLOAT, 32), float32_data(t.full))},
        {"extensible float64",
         test::wav_file(extensible_fmt(channels, 64, 44100, FORMAT_FLOAT, 64), float64_data(t.full))},
    };
}

TEST_F(WavFormats, FloatAndExtensibleFilesReadAsTheir16BitTwins) {
    for (const int channels : {1, 2}) {
        const Twin twin = make_twin(3000, channels);
        ASSERT_EQ(read(test::wav_file(test::fmt_body(channels, 16, 44100), test::pcm16(twin.pcm))), 0);
        const std::vector<double> expected = samples();
        ASSERT_EQ(expected.size(), 3000u);
        for (const auto& [what, bytes] : encodings_of(twin, channels)) {
            ASSERT_EQ(read(bytes), 0) << what << ", " << channels << " channels";
            EXPECT_EQ(job.sample_rate, 44100) << what;
            EXPECT_EQ(samples(), expected) << what << ", " << channels << " channels";
            // The usual fmt sizes of these layouts bring no warning.
            EXPECT_EQ(messages, "") << what;
        }
    }
}

TEST_F(WavFormats, FloatAndExtensibleFilesAreAnalysedAlike) {
    const Twin twin = make_twin(30000, 1);
    const std::string reference = dir.file("pcm16.wav");
    test::write_file(reference, test::wav_file(test::fmt_body(1, 16, 44100), test::pcm16(twin.pcm)));
    std::vector<std::string> inputs = {reference};
    int n = 0;
    for (const auto& [what, bytes] : encodings_of(twin, 1)) {
        inputs.push_back(dir.file("twin" + std::to_string(n++) + ".wav"));
        test::write_file(inputs.back(), bytes);
    }
    for (const std::string& input : inputs) {
        std::vector<std::string> args = {dir.file("qern"), input, "nul", "C4", "100"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        const MessageCapture quiet;
        run_resampler(static_cast<int>(args.size()), argv.data());
    }
    const std::string expected = test::read_file(dir.file("pcm16_wav.pmk"));
    ASSERT_GT(expected.size(), 14u + 8u * 100u);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(test::read_file(dir.file("twin" + std::to_string(i) + "_wav.pmk")), expected)
            << encodings_of(twin, 1)[static_cast<std::size_t>(i)].first;
    }
}

TEST_F(WavFormats, ExtensiblePcmReadsExactlyAsPlainPcmOfItsBitDepth) {
    struct Case {
        int bits;
        int valid_bits;
        std::string data;
    };
    const std::vector<Case> cases = {
        {8, 8, std::string("\x00\x80\xFF\x01", 4)},
        {16, 16, test::pcm16({-32768, 32767, -1, 1000})},
        {24, 24, std::string("\xFF\xFF\xFF\x00\x00\x80\xFF\xFF\x7F\x01\x02\x03", 12)},
        // 24 valid bits in 32: the values keep their 32-bit scale, as in a plain 32-bit file.
        {32, 24, le32(0x80000000LL) + le32(0x7FFFFF00) + le32(0x00000100) + le32(0xFFFFFF00)},
    };
    for (const Case& c : cases) {
        for (const int channels : {1, 2}) {
            ASSERT_EQ(read(test::wav_file(test::fmt_body(channels, c.bits, 8000), c.data)), 0) << c.bits;
            const std::vector<double> plain = samples();
            ASSERT_EQ(read(test::wav_file(extensible_fmt(channels, c.bits, 8000, FORMAT_PCM, c.valid_bits),
                                          c.data)),
                      0)
                << c.bits;
            EXPECT_EQ(samples(), plain) << c.bits << " bits, " << channels << " channels";
            EXPECT_EQ(messages, "");
        }
    }
    // An extension longer than usual is skipped (with the size warning).
    const std::string data = test::pcm16({5, -6});
    ASSERT_EQ(read(test::wav_file(extensible_fmt(1, 16, 8000, FORMAT_PCM, 16, "xy"), data)), 0);
    EXPECT_EQ(samples(), (std::vector<double>{5.0, -6.0}));
    EXPECT_EQ(messages, "警告:fmtチャンクサイズが16ではなく42となっています\nデータが正しく読み込めない可能性があります\n");
}

TEST_F(WavFormats, FloatSamplesComeOnThe16BitScale) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> values = {0.0, 1.0, -1.0, 0.5, -0.25, 1.5, 1e10, -inf, inf,
                                        std::numeric_limits<double>::quiet_NaN()};
    const std::vector<double> expected = {0.0,     32768.0, -32768.0,     16384.0,       -8192.0,
                                          49152.0, 2147483647.0, -2147483648.0, 2147483647.0, 0.0};
    ASSERT_EQ(read(test::wav_file(test::fmt_body(1, 32, 48000, FORMAT_FLOAT), float32_data(values))), 0);
    EXPECT_EQ(samples(), expected);
    ASSERT_EQ(read(test::wav_file(test::fmt_body(1, 64, 48000, FORMAT_FLOAT), float64_data(values))), 0);
    EXPECT_EQ(samples(), expected);
    // Fractions are kept: 64-bit 0.1 is 3276.8; stereo is the mean.
    ASSERT_EQ(read(test::wav_file(test::fmt_body(2, 64, 48000, FORMAT_FLOAT), float64_data({0.1, 0.2}))), 0);
    EXPECT_EQ(samples(), (std::vector<double>{(0.1 * 32768.0 + 0.2 * 32768.0) / 2.0}));
    // A float file cut short keeps its length with silence, as PCM does.
    ASSERT_EQ(read(test::wav_file(test::fmt_body(1, 32, 48000, FORMAT_FLOAT), float32_data({0.5}), 12)), 0);
    EXPECT_EQ(samples(), (std::vector<double>{16384.0, 0.0, 0.0}));
}

TEST_F(WavFormats, OtherFormatsAndDepthsAreRefused) {
    const std::string fmt_fail = "エラー:fmtチャンクの読み込みに失敗\n";
    const std::string not_pcm = "エラー:リニアPCMのフォーマットIDではありません\n" + fmt_fail;
    const std::string data = std::string(16, '\0');
    struct Case {
        const char* what;
        std::string bytes;
        std::string log;
    };
    std::string wrong_guid = extensible_fmt(1, 16, 8000, FORMAT_PCM, 16);
    wrong_guid[39] = 'x';
    const std::vector<Case> cases = {
        {"float16", test::wav_file(test::fmt_body(1, 16, 8000, FORMAT_FLOAT), data),
         "エラー:対応していないBitsPerSample値 16\n" + fmt_fail},
        {"float24", test::wav_file(test::fmt_body(1, 24, 8000, FORMAT_FLOAT), data),
         "エラー:対応していないBitsPerSample値 24\n" + fmt_fail},
        {"pcm64", test::wav_file(test::fmt_body(1, 64, 8000, FORMAT_PCM), data),
         "エラー:対応していないBitsPerSample値 64\n" + fmt_fail},
        {"extensible ADPCM", test::wav_file(extensible_fmt(1, 4, 8000, 2, 4), data), not_pcm},
        {"extensible with a foreign GUID", test::wav_file(wrong_guid, data), not_pcm},
        {"extensible pcm12", test::wav_file(extensible_fmt(1, 12, 8000, FORMAT_PCM, 12), data),
         "エラー:対応していないBitsPerSample値 12\n" + fmt_fail},
        {"extensible float16", test::wav_file(extensible_fmt(1, 16, 8000, FORMAT_FLOAT, 16), data),
         "エラー:対応していないBitsPerSample値 16\n" + fmt_fail},
        {"extensible without its extension",
         test::wav_file(test::fmt_body(1, 16, 8000, 0xFFFE) + le16(0), data),
         "警告:fmtチャンクサイズが16ではなく18となっています\nデータが正しく読み込めない可能性があります\n"
         "エラー:フォーマットIDの読み込みに失敗\n" + fmt_fail},
        {"extensible three channels", test::wav_file(extensible_fmt(3, 16, 8000, FORMAT_PCM, 16), data),
         "エラー:対応していないチャンネル数 3\n" + fmt_fail},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.bytes), -1) << c.what;
        EXPECT_EQ(messages, c.log) << c.what;
        EXPECT_TRUE(job.samples.empty()) << c.what;
    }
}

}  // namespace
}  // namespace qern
