#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "base/error_log.h"
#include "base/text_encoding.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "wav/wav_reader.h"

namespace qern {
namespace {

using test::fmt_body;
using test::le16;
using test::le32;
using test::pcm16;
using test::wav_file;

class WavReader : public ::testing::Test {
protected:
    void SetUp() override { clear_logged_messages(); }

    // Writes `bytes` as `name` in the temporary directory and reads it.
    int read(const std::string& bytes, const std::string& name = "in.wav") {
        const std::string path = dir.file(name);
        test::write_file(path, bytes);
        return read_wav_file(path, input);
    }

    std::vector<double> samples() const {
        return std::vector<double>(input.samples.data(), input.samples.data() + input.samples.count());
    }

    test::TempDir dir;
    DecodedInput input;
};

TEST_F(WavReader, CanonicalMono16BitKeepsTheIntegerScale) {
    std::vector<int> values(500);
    for (int i = 0; i < 500; ++i) values[i] = (i * 131) % 65536 - 32768;
    ASSERT_EQ(read(wav_file(fmt_body(1, 16, 44100), pcm16(values))), 0);
    EXPECT_EQ(input.sample_rate, 44100);
    EXPECT_EQ(input.samples.count(), 500);
    EXPECT_EQ(input.samples.count(), 500);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(input.samples[i], values[i]) << i;
    for (int i = 1; i <= SAMPLE_MARGIN; ++i) {
        EXPECT_EQ(input.samples[-i], 0.0);
        EXPECT_EQ(input.samples[500 - 1 + i], 0.0);
    }
    EXPECT_EQ(logged_messages(), "");
}

TEST_F(WavReader, DecodesEveryDepthAndMixesStereoToTheMean) {
    ASSERT_EQ(read(wav_file(fmt_body(2, 16, 22050), pcm16({100, 300, -3, 0}))), 0);
    EXPECT_EQ(samples(), (std::vector<double>{200.0, -1.5}));
    EXPECT_EQ(input.sample_rate, 22050);

    ASSERT_EQ(read(wav_file(fmt_body(1, 8, 8000), std::string("\x80\xFF\x00", 3))), 0);
    EXPECT_EQ(samples(), (std::vector<double>{0.0, 127.0, -128.0}));

    ASSERT_EQ(read(wav_file(fmt_body(1, 24, 48000), std::string("\xFF\xFF\xFF\x01\x00\x80\xFF\xFF\x7F", 9))), 0);
    EXPECT_EQ(samples(), (std::vector<double>{-1.0, -8388607.0, 8388607.0}));

    ASSERT_EQ(read(wav_file(fmt_body(1, 32, 48000), std::string("\x00\x00\x00\x80\xFF\xFF\xFF\x7F", 8))), 0);
    EXPECT_EQ(samples(), (std::vector<double>{-2147483648.0, 2147483647.0}));

    // Stereo 24-bit: (-1 + 3) / 2.
    ASSERT_EQ(read(wav_file(fmt_body(2, 24, 48000), std::string("\xFF\xFF\xFF\x03\x00\x00", 6))), 0);
    EXPECT_EQ(samples(), (std::vector<double>{1.0}));
    EXPECT_EQ(logged_messages(), "");
}

TEST_F(WavReader, FindsTheDataChunkBehindOtherChunksByteByByte) {
    const std::string list = "LIST" + le32(6) + "abcdef";
    ASSERT_EQ(read(wav_file(fmt_body(1, 16, 44100), pcm16({7, -7}), -1, list)), 0);
    EXPECT_EQ(samples(), (std::vector<double>{7.0, -7.0}));

    // "data" inside another chunk's content is taken for the data chunk.
    const std::string decoy = "junk" + le32(10) + "xxdata" + le32(2);
    ASSERT_EQ(read(wav_file(fmt_body(1, 16, 44100), pcm16({5}), -1, decoy)), 0);
    EXPECT_EQ(input.samples.count(), 1);
    EXPECT_EQ(samples(), (std::vector<double>{static_cast<double>(0x6164)}));  // the bytes "da"
}

TEST_F(WavReader, FmtChunkOfOtherSizeWarnsOnStandardErrorAndReads) {
    ::testing::internal::CaptureStderr();
    const int result = read(wav_file(fmt_body(1, 16, 44100) + le16(0), pcm16({1, 2, 3})));
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(result, 0);
    EXPECT_EQ(samples(), (std::vector<double>{1.0, 2.0, 3.0}));
    // Standard error gets the console's encoding (code page 932 on Windows).
    EXPECT_EQ(err, to_console_encoding("警告:fmtチャンクサイズが16ではなく18となっています\n"
                                       "データが正しく読み込めない可能性があります\n"));
    EXPECT_EQ(logged_messages(), "");
}

TEST_F(WavReader, TruncatedDataReadsAsZerosAndKeepsTheDeclaredLength) {
    ASSERT_EQ(read(wav_file(fmt_body(1, 16, 44100), pcm16({9, 8}) + "\x05", 10)), 0);
    EXPECT_EQ(input.samples.count(), 5);
    EXPECT_EQ(samples(), (std::vector<double>{9.0, 8.0, 0.0, 0.0, 0.0}));

    // The file ends inside a frame's second channel: the first value over two.
    ASSERT_EQ(read(wav_file(fmt_body(2, 16, 44100), pcm16({10, 20, 30}), 16)), 0);
    EXPECT_EQ(samples(), (std::vector<double>{15.0, 15.0, 0.0, 0.0}));
    EXPECT_EQ(logged_messages(), "");
}

TEST_F(WavReader, DeclaredSizeFarBeyondTheFileIsClampedToTheBytesPresent) {
    const std::string data = pcm16({1, 2, 3});
    // A shortfall of up to MAX_DATA_SHORTFALL bytes is honoured ...
    ASSERT_EQ(read(wav_file(fmt_body(1, 8, 8000), data, 6 + MAX_DATA_SHORTFALL)), 0);
    EXPECT_EQ(input.samples.count(), 6 + MAX_DATA_SHORTFALL);
    // ... one byte more is not: the size becomes the 6 bytes present.
    ASSERT_EQ(read(wav_file(fmt_body(1, 8, 8000), data, 7 + MAX_DATA_SHORTFALL)), 0);
    EXPECT_EQ(input.samples.count(), 6);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(read(wav_file(fmt_body(1, 8, 8000), data, 0x7FFFFFFF)), 0);
    EXPECT_EQ(input.samples.count(), 6);
    EXPECT_EQ(samples(), (std::vector<double>{-127.0, -128.0, -126.0, -128.0, -125.0, -128.0}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

struct BadWav {
    const char* what;
    std::string bytes;
    std::string log;
};

TEST_F(WavReader, MalformedFilesFailWithTheirMessages) {
    const std::string fmt16 = fmt_body(1, 16, 44100);
    const std::string fmt_fail = "エラー:fmtチャンクの読み込みに失敗\n";
    const std::vector<BadWav> cases = {
        {"empty file", "", "エラー:RIFFヘッダの読み込みに失敗\n"},
        {"not RIFF", "RIFX" + le32(0) + "WAVE", "エラー:RIFFヘッダがない\n入っていたのはRIFXでした\n"},
        {"zero byte in the identifier", std::string("RI\0F", 4), "エラー:RIFFヘッダがない\n入っていたのはRIでした\n"},
        {"no WAVE", "RIFF" + le32(4), "エラー:WAVEヘッダの読み込みに失敗\n"},
        {"AVI", "RIFF" + le32(4) + "AVI ", "エラー:WAVEヘッダがない\n入っていたのはAVI でした\n"},
        {"data before fmt", "RIFF" + le32(20) + "WAVEdata" + le32(0) + "fmt ",
         "エラー:fmtチャンクがない\n入っていたのはdataでした\n"},
        {"three channels", wav_file(fmt_body(3, 16, 44100), pcm16({0, 0, 0})),
         "エラー:対応していないチャンネル数 3\n" + fmt_fail},
        {"12 bits", wav_file(fmt_body(1, 12, 44100), pcm16({0})),
         "エラー:対応していないBitsPerSample値 12\n" + fmt_fail},
        {"ADPCM format", wav_file(fmt_body(1, 4, 44100, 2), le32(0)),
         "エラー:リニアPCMのフォーマットIDではありません\n" + fmt_fail},
        {"zero rate", wav_file(fmt_body(1, 16, 0), pcm16({0})),
         "エラー:サンプリングレートの値が不正 0\n" + fmt_fail},
        {"fmt cut short", "RIFF" + le32(20) + "WAVEfmt " + le32(16) + le16(1) + le16(1),
         "エラー:サンプリングレートの読み込みに失敗\n" + fmt_fail},
        {"nothing after fmt", "RIFF" + le32(28) + "WAVEfmt " + le32(16) + fmt16,
         "エラー:dataチャンクの読み込みに失敗\n"},
        {"no data chunk", "RIFF" + le32(40) + "WAVEfmt " + le32(16) + fmt16 + "LIST" + le32(4) + "abcd",
         "エラー:dataチャンクが見つかりませんでした\n"},
        {"no data size", "RIFF" + le32(32) + "WAVEfmt " + le32(16) + fmt16 + "da" + "ta",
         "エラー:データサイズの読み込みに失敗\n"},
        {"empty data", wav_file(fmt16, ""), "エラー:データサイズが大きすぎる\n"},
        {"less than a frame", wav_file(fmt16, "\x01"), "エラー:データサイズが大きすぎる\n"},
        {"size of 2^31 or more", wav_file(fmt16, pcm16({1}), 0x80000000LL), "エラー:データサイズが大きすぎる\n"},
    };
    for (const auto& c : cases) {
        clear_logged_messages();
        EXPECT_EQ(read(c.bytes), -1) << c.what;
        EXPECT_EQ(logged_messages(), c.log) << c.what;
        EXPECT_TRUE(input.samples.empty()) << c.what;
        EXPECT_EQ(input.samples.count(), 0) << c.what;
    }
}

TEST_F(WavReader, NameMustEndInLowerOrUpperCaseWav) {
    const std::string good = wav_file(fmt_body(1, 16, 44100), pcm16({1}));
    EXPECT_EQ(read(good, "upper.WAV"), 0);
    for (const char* name : {"a.wave", "a.Wav", "a.wav.txt"}) {
        clear_logged_messages();
        EXPECT_EQ(read(good, name), -1) << name;
        EXPECT_EQ(logged_messages(), "エラー:未知の拡張子です\n") << name;
    }
    // The file is opened before its name is tested.
    clear_logged_messages();
    const std::string missing = dir.file("x.txt");
    EXPECT_EQ(read_wav_file(missing, input), -1);
    EXPECT_EQ(logged_messages(), "エラー:ファイル" + missing + "を開けません\n");
}

TEST_F(WavReader, PathShorterThanFourCharactersIsAWrongExtension) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    test::write_file("wav", wav_file(fmt_body(1, 16, 44100), pcm16({1})));
    const int result = read_wav_file("wav", input);
    std::filesystem::current_path(previous);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(logged_messages(), "エラー:未知の拡張子です\n");
}

}  // namespace
}  // namespace qern

namespace qern {
namespace {

// Samples of `input` as a vector.
std::vector<double> all_samples(const DecodedInput& input) {
    return std::vector<double>(input.samples.data(), input.samples.data() + input.samples.count());
}

TEST(DeferredWavReading, StretchesDecodeAsTheWholeReadAndLeaveZerosElsewhere) {
    test::TempDir dir;
    std::vector<int> many(70000);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<int>((i * 7919) % 65536) - 32768;
    // Stereo 16-bit, a chunk before the data, a file that ends inside a frame,
    // 24-bit mono, and one longer than a read block.
    const std::vector<std::string> files = {
        test::wav_file(fmt_body(2, 16, 44100), pcm16({100, 300, -3, 0, 7, 9, 11, 13, -5, 5})),
        test::wav_file(fmt_body(1, 16, 44100), pcm16({1, 2, 3, 4, 5, 6}), -1, "LIST" + le32(4) + "abcd"),
        test::wav_file(fmt_body(2, 16, 44100), pcm16({10, 20, 30, 40, 50}), 28),
        test::wav_file(fmt_body(1, 24, 48000), std::string("\xFF\xFF\xFF\x01\x00\x80\xFF\xFF\x7F\x02\x00\x00", 12)),
        test::wav_file(fmt_body(1, 16, 44100), pcm16(many)),
    };
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string path = dir.file("in" + std::to_string(k) + ".wav");
        test::write_file(path, files[k]);
        DecodedInput whole;
        ASSERT_EQ(read_wav_file(path, whole), 0);
        const std::vector<double> expected = all_samples(whole);
        const int n = whole.samples.count();

        DecodedInput deferred;
        ASSERT_EQ(open_wav_file(path, deferred), 0);
        EXPECT_EQ(deferred.sample_rate, whole.sample_rate);
        ASSERT_EQ(deferred.samples.count(), n);
        EXPECT_EQ(all_samples(deferred), std::vector<double>(static_cast<std::size_t>(n), 0.0)) << k;
        // Two stretches, out of order and clamped to the samples.
        const int a = n / 3;
        const int b = n - n / 4;
        decode_samples(deferred, b, n + 100);
        decode_samples(deferred, a, a + 1);
        std::vector<double> partial(static_cast<std::size_t>(n), 0.0);
        for (int i = b; i < n; ++i) partial[static_cast<std::size_t>(i)] = expected[static_cast<std::size_t>(i)];
        partial[static_cast<std::size_t>(a)] = expected[static_cast<std::size_t>(a)];
        EXPECT_EQ(all_samples(deferred), partial) << k;
        decode_all_samples(deferred);
        EXPECT_EQ(deferred.source, nullptr);
        EXPECT_EQ(all_samples(deferred), expected) << k;

        // Ranges out of order, overlapping, touching, clamped, and (in the
        // long file) far enough apart that the reading skips a block.
        DecodedInput ranged;
        ASSERT_EQ(open_wav_file(path, ranged), 0);
        const std::vector<SampleRange> ranges = {{n - 2, n + 5}, {n / 2, n / 2 + 3}, {0, 1},       {1, 2},
                                                 {n / 3, n / 3 + 2}, {n / 3 + 1, n / 3 + 4}, {-9, -1}};
        decode_sample_ranges(ranged, ranges);
        std::vector<double> wanted(static_cast<std::size_t>(n), 0.0);
        for (const SampleRange r : ranges) {
            for (int i = std::max(r.first, 0); i < std::min(r.last, n); ++i) {
                wanted[static_cast<std::size_t>(i)] = expected[static_cast<std::size_t>(i)];
            }
        }
        EXPECT_EQ(all_samples(ranged), wanted) << k;

        // The same ranges, clamped, sorted and merged, into stretches of
        // their own.
        DecodedInput stretched;
        ASSERT_EQ(open_wav_file(path, stretched), 0);
        std::vector<SampleRange> sorted;
        for (int i = 0; i < n; ++i) {
            const bool in = std::any_of(ranges.begin(), ranges.end(), [&](SampleRange r) { return i >= r.first && i < r.last; });
            if (!in) continue;
            if (!sorted.empty() && sorted.back().last == i) {
                sorted.back().last = i + 1;
            } else {
                sorted.push_back(SampleRange{i, i + 1});
            }
        }
        decode_sample_stretches(stretched, sorted, nullptr);
        ASSERT_FALSE(stretched.stretches.empty()) << k;
        for (const SampleRange r : sorted) {
            const SampleSpan view = stretched.stretches.view_holding(r.first, r.last);
            for (int i = r.first; i < r.last; ++i) ASSERT_EQ(view[i], expected[static_cast<std::size_t>(i)]) << k << " " << i;
        }
    }
}

}  // namespace
}  // namespace qern
