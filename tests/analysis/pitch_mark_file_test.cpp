#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "base/file_io.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "support/console.h"
#include "support/signals.h"

namespace qern {
namespace {

using Bytes = std::vector<unsigned char>;
using Marks = std::vector<std::int32_t>;

// A cache file: version, mean, count, then (position, period) pairs.
Bytes pmk(int version, double mean, std::int64_t count, const std::vector<std::pair<int, int>>& entries) {
    std::string b = test::le16(version) + test::float64_bytes(mean) + test::le32(count);
    for (const auto& [position, period] : entries) b += test::le32(position) + test::le32(period);
    return Bytes(b.begin(), b.end());
}

TEST(WritePitchMarkFile, WritesTheExactLayout) {
    test::TempDir dir;
    const Marks periods{49, 49, 50, 200, 512};
    const Marks positions{0, 49, 99, 299, 811};
    ASSERT_EQ(write_pitch_mark_file(dir.file("a.pmk"), periods, positions, 4), 0);
    // Mean of the voiced periods 50, 200, 512; 49 is left out.
    const double mean = static_cast<double>(50 + 200 + 512) / 3;
    EXPECT_EQ(test::read_bytes(dir.file("a.pmk")),
              pmk(19, mean, 4, {{49, 49}, {99, 50}, {299, 200}, {811, 512}}));
    EXPECT_EQ(test::read_bytes(dir.file("a.pmk")).size(), 14u + 8u * 4u);
}

TEST(WritePitchMarkFile, UnvoicedOnlyAndEmptySetsHaveMeanZero) {
    test::TempDir dir;
    ASSERT_EQ(write_pitch_mark_file(dir.file("a.pmk"), Marks{49, 49, 49}, Marks{0, 49, 98}, 2), 0);
    EXPECT_EQ(test::read_bytes(dir.file("a.pmk")), pmk(19, 0.0, 2, {{49, 49}, {98, 49}}));
    ASSERT_EQ(write_pitch_mark_file(dir.file("b.pmk"), Marks{49}, Marks{0}, 0), 0);
    EXPECT_EQ(test::read_bytes(dir.file("b.pmk")), pmk(19, 0.0, 0, {}));
}

TEST(WritePitchMarkFile, RefusesInvalidMarksAfterTheVersion) {
    struct Case {
        Marks periods, positions;
        const char* message;
    };
    const std::vector<Case> cases{
        {{49, 100, 513}, {0, 100, 300}, "エラー:T0[2]の値が不正 513\n"},
        {{49, 48, 100}, {0, 100, 300}, "エラー:T0[1]の値が不正 48\n"},
        {{49, 100, 100}, {0, 48, 300}, "エラー:PitchMarkの値が不正 Mark[0]=0\tMark[1]=48\n"},
        {{49, 100, 100}, {0, 100, 613}, "エラー:PitchMarkの値が不正 Mark[1]=100\tMark[2]=613\n"},
        {{49, 100, 100}, {0, 100, 50}, "エラー:PitchMarkの値が不正 Mark[1]=100\tMark[2]=50\n"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        test::LogCapture log;
        EXPECT_EQ(write_pitch_mark_file(dir.file("a.pmk"), c.periods, c.positions, 2), -1);
        EXPECT_EQ(log.text(), c.message);
        EXPECT_EQ(test::read_bytes(dir.file("a.pmk")), (Bytes{0x13, 0x00}));
    }
    // The limits themselves pass: distance 49 and 512, periods 49 and 512.
    test::TempDir dir;
    EXPECT_EQ(write_pitch_mark_file(dir.file("a.pmk"), Marks{49, 49, 512}, Marks{0, 49, 561}, 2), 0);
}

TEST(WritePitchMarkFile, ReportsAFileThatCannotBeCreated) {
    test::TempDir dir;
    test::LogCapture log;
    EXPECT_EQ(write_pitch_mark_file(dir.file("missing/a.pmk"), Marks{49}, Marks{0}, 0), -1);
    EXPECT_EQ(log.text(), "エラー:pmkファイルの作成に失敗\n");
}

// Reads `bytes` as a cache file for an input of `sample_count` samples.
struct ReadResult {
    int status;
    std::string log;
    AnalysisResult analysis;
};

ReadResult read_cache(const Bytes& bytes, int sample_count = 100000) {
    test::TempDir dir;
    test::write_bytes(dir.file("a.pmk"), bytes);
    ReadResult r{};
    r.analysis.marks.assign(3, PitchMarkEntry{7, 7});  // replaced
    test::LogCapture log;
    FileHandle f = open_file(dir.file("a.pmk"), "rb");
    r.status = read_pitch_mark_file(f.get(), sample_count, r.analysis);
    r.log = log.text();
    return r;
}

std::vector<std::pair<int, int>> entries(const std::vector<PitchMarkEntry>& marks) {
    std::vector<std::pair<int, int>> e;
    for (const PitchMarkEntry& m : marks) e.emplace_back(m.position, m.period);
    return e;
}

TEST(ReadPitchMarkFile, LoadsTheEntries) {
    const ReadResult r = read_cache(pmk(19, 125.5, 3, {{49, 49}, {99, 50}, {299, 511}}));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.analysis.mean_period, 125.5);
    const std::vector<std::pair<int, int>> expected{{49, 49}, {99, 50}, {299, 511}};
    EXPECT_EQ(entries(r.analysis.marks), expected);

    const ReadResult empty = read_cache(pmk(19, 0.0, 0, {}));
    ASSERT_EQ(empty.status, 0);
    EXPECT_TRUE(empty.analysis.marks.empty());

    // The version is not examined.
    EXPECT_EQ(read_cache(pmk(3, 0.0, 1, {{49, 49}})).status, 0);
}

TEST(ReadPitchMarkFile, RefusesCountsTheFileCannotHold) {
    for (const std::int64_t count : {std::int64_t{3}, std::int64_t{-1}, std::int64_t{0x7FFFFFFF},
                                     std::int64_t{-2147483647 - 1}}) {
        const ReadResult r = read_cache(pmk(19, 100.0, count, {{49, 49}, {99, 50}}));
        EXPECT_EQ(r.status, -1) << count;
        EXPECT_EQ(r.log, "エラー:合成パラメータ数の読み込みに失敗\n") << count;
        EXPECT_TRUE(r.analysis.marks.empty());
    }
    // A partial entry after the last whole one is not counted.
    Bytes b = pmk(19, 100.0, 2, {{49, 49}});
    b.insert(b.end(), {1, 2, 3, 4, 5});
    EXPECT_EQ(read_cache(b).log, "エラー:合成パラメータ数の読み込みに失敗\n");
}

TEST(ReadPitchMarkFile, RefusesShortHeaders) {
    EXPECT_EQ(read_cache(Bytes{0x13, 0x00, 1, 2, 3}).log, "エラー:平均基本周期の読み込みに失敗\n");
    Bytes b = pmk(19, 1.0, 0, {});
    b.resize(12);
    EXPECT_EQ(read_cache(b).log, "エラー:合成パラメータ数の読み込みに失敗\n");
}

TEST(ReadPitchMarkFile, RefusesPeriodsOutside49To511) {
    EXPECT_EQ(read_cache(pmk(19, 0.0, 2, {{49, 49}, {600, 512}})).log, "エラー:合成パラメータが不正\n");
    EXPECT_EQ(read_cache(pmk(19, 0.0, 1, {{600, 48}})).log, "エラー:合成パラメータが不正\n");
    EXPECT_EQ(read_cache(pmk(19, 0.0, 1, {{600, 0}})).status, -1);
}

TEST(ReadPitchMarkFile, RefusesGrainsOutsideTheInputAndItsMargins) {
    // 1000 samples: a grain of period P at position m reads m - P .. m + P - 1,
    // which must lie in -2048 .. 3047.
    EXPECT_EQ(read_cache(pmk(19, 0.0, 2, {{-1748, 300}, {2748, 300}}), 1000).status, 0);
    EXPECT_EQ(read_cache(pmk(19, 0.0, 1, {{-1749, 300}}), 1000).log, "エラー:合成パラメータが不正\n");
    EXPECT_EQ(read_cache(pmk(19, 0.0, 1, {{2749, 300}}), 1000).log, "エラー:合成パラメータが不正\n");
    EXPECT_EQ(read_cache(pmk(19, 0.0, 1, {{-2147483647 - 1, 300}}), 1000).status, -1);
    EXPECT_EQ(read_cache(pmk(19, 0.0, 1, {{2147483647, 300}}), 1000).status, -1);
}

TEST(PitchMarkCacheName, ReplacesTheLastDotOrBackslash) {
    EXPECT_EQ(pitch_mark_cache_name("C:\\voice\\a.wav"), "C:\\voice\\a_wav.pmk");
    EXPECT_EQ(pitch_mark_cache_name("voice.wav"), "voice_wav.pmk");
    EXPECT_EQ(pitch_mark_cache_name("C:\\dir.x\\file"), "C:\\dir.x_file.pmk");
    EXPECT_EQ(pitch_mark_cache_name("dir.x/file"), "dir_x/file.pmk");  // '/' is not looked for
    EXPECT_EQ(pitch_mark_cache_name("file"), "");
}

// A quarter second of voice, its input named voice.wav in `dir`.
struct VoiceInput {
    DecodedInput input;
    std::string input_path;
};
VoiceInput voice_job(const test::TempDir& dir, int count = 11025) {
    return VoiceInput{test::make_input(test::harmonic_signal(count, [](int) { return 150.0; }), 44100),
                      dir.file("voice.wav")};
}

// The .pmk a fresh analysis of voice_job writes.
Bytes fresh_cache() {
    test::TempDir dir;
    VoiceInput job = voice_job(dir);
    EXPECT_EQ(create_pitch_mark_file(job.input, dir.file("fresh.pmk")), 0);
    return test::read_bytes(dir.file("fresh.pmk"));
}

TEST(OpenPitchMarkCache, AnalysesWhenTheCacheIsAbsentShortOrOld) {
    const Bytes fresh = fresh_cache();
    ASSERT_GT(fresh.size(), 14u + 8u * 50u);
    EXPECT_EQ(fresh[0], 0x13);
    EXPECT_EQ(fresh[1], 0x00);

    const std::vector<std::pair<const char*, Bytes>> states{
        {"absent", {}},
        {"one byte", {0x13}},
        {"version 16", pmk(16, 100.0, 0, {})},
        {"version -1", pmk(-1, 100.0, 0, {})},
    };
    for (const auto& [state, content] : states) {
        test::TempDir dir;
        VoiceInput job = voice_job(dir);
        if (std::string(state) != "absent") test::write_bytes(dir.file("voice_wav.pmk"), content);
        test::write_bytes(dir.file("voice.wav.pmk"), {1, 2, 3});  // older name: deleted
        FileHandle f = open_pitch_mark_cache(job.input, job.input_path, 0);
        ASSERT_TRUE(f) << state;
        EXPECT_EQ(std::ftell(f.get()), 0) << state;
        EXPECT_EQ(test::read_bytes(dir.file("voice_wav.pmk")), fresh) << state;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"voice_wav.pmk"})) << state;
        AnalysisResult analysis;
        ASSERT_EQ(read_pitch_mark_file(f.get(), job.input.samples.count(), analysis), 0) << state;
        EXPECT_EQ(analysis.marks.size(), (fresh.size() - 14) / 8);
    }
}

// A run reads only the input's headers at first; its analysis must still
// see every sample.
TEST(OpenPitchMarkCache, AnInputStillBeingReadIsReadThroughBeforeItsAnalysis) {
    test::TempDir dir;
    const std::string path = dir.file("voice.wav");
    test::write_file(path, test::wav16(test::harmonic_signal(11025, [](int) { return 150.0; }), 44100));
    DecodedInput whole;
    ASSERT_EQ(read_wav_file(path, whole), 0);
    ASSERT_EQ(create_pitch_mark_file(whole, dir.file("expected.pmk")), 0);
    DecodedInput deferred;
    ASSERT_EQ(open_wav_file(path, deferred), 0);
    FileHandle f = open_pitch_mark_cache(deferred, path, 0);
    ASSERT_TRUE(f);
    EXPECT_EQ(test::read_bytes(dir.file("voice_wav.pmk")), test::read_bytes(dir.file("expected.pmk")));
    EXPECT_EQ(deferred.source, nullptr);
}

TEST(OpenPitchMarkCache, ReusesACurrentCacheUnlessRIsGiven) {
    const Bytes fresh = fresh_cache();
    const Bytes current = pmk(17, 150.0, 1, {{100, 150}});
    {
        test::TempDir dir;
        VoiceInput job = voice_job(dir);
        const double sample = job.input.samples[100];
        test::write_bytes(dir.file("voice_wav.pmk"), current);
        FileHandle f = open_pitch_mark_cache(job.input, job.input_path, 0);
        ASSERT_TRUE(f);
        EXPECT_EQ(std::ftell(f.get()), 2);
        EXPECT_EQ(test::read_bytes(dir.file("voice_wav.pmk")), current);
        EXPECT_EQ(job.input.samples[100], sample);  // not analysed, so not filtered
    }
    {
        test::TempDir dir;
        VoiceInput job = voice_job(dir);
        test::write_bytes(dir.file("voice_wav.pmk"), current);
        FileHandle f = open_pitch_mark_cache(job.input, job.input_path, 1);
        ASSERT_TRUE(f);
        EXPECT_EQ(test::read_bytes(dir.file("voice_wav.pmk")), fresh);
    }
}

TEST(OpenPitchMarkCache, ANewCacheReplacesTheOldOneInOneStep) {
#ifdef _WIN32
    GTEST_SKIP() << "an open file cannot be replaced on Windows";
#else
    // The new cache is written under another name and renamed into place:
    // a reader that has the old file open keeps reading the old file whole,
    // and the cache name never shows a partly written file.
    test::TempDir dir;
    VoiceInput job = voice_job(dir);
    const Bytes stale = pmk(16, 100.0, 1, {{100, 150}});
    test::write_bytes(dir.file("voice_wav.pmk"), stale);
    FileHandle reader = open_file(dir.file("voice_wav.pmk"), "rb");
    ASSERT_TRUE(reader);
    ASSERT_TRUE(open_pitch_mark_cache(job.input, job.input_path, 0));
    Bytes seen(stale.size() + 16);
    seen.resize(std::fread(seen.data(), 1, seen.size(), reader.get()));
    EXPECT_EQ(seen, stale);
    EXPECT_EQ(test::read_bytes(dir.file("voice_wav.pmk")), fresh_cache());
#endif
}

TEST(OpenPitchMarkCache, AFailedAnalysisLeavesNoCache) {
    // 40 samples give no mark at all: placement fails.
    for (const bool stale : {false, true}) {
        test::TempDir dir;
        VoiceInput job = voice_job(dir, 40);
        if (stale) test::write_bytes(dir.file("voice_wav.pmk"), pmk(16, 100.0, 0, {}));
        test::LogCapture log;
        EXPECT_FALSE(open_pitch_mark_cache(job.input, job.input_path, 0));
        EXPECT_EQ(log.text(), "エラー:音声パラメータの抽出に失敗\nエラー:パラメータ記録処理に失敗\n");
        EXPECT_TRUE(dir.entries().empty());
    }
}

TEST(OpenPitchMarkCache, RefusesAnInputNameWithoutDotOrBackslash) {
    test::TempDir dir;
    VoiceInput job = voice_job(dir);
    test::LogCapture log;
    EXPECT_FALSE(open_pitch_mark_cache(job.input, "voice", 0));
    EXPECT_EQ(log.text(), "エラー:入力音声ファイル名が不正\n");
}

TEST(InstallPitchMarkFile, KeepsACompleteCacheWhenTheRenameFails) {
    test::TempDir dir;
    const Bytes complete = pmk(19, 100.0, 2, {{49, 49}, {98, 49}});
    test::write_bytes(dir.file("new.tmp"), complete);
    ASSERT_EQ(install_pitch_mark_file(dir.file("new.tmp"), dir.file("a.pmk")), 0);
    EXPECT_EQ(test::read_bytes(dir.file("a.pmk")), complete);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.pmk"}));

    // The rename fails (nothing to move); the complete cache in place is used.
    EXPECT_EQ(install_pitch_mark_file(dir.file("gone.tmp"), dir.file("a.pmk")), 0);

    // A partial one does not count.
    Bytes partial = complete;
    partial.resize(20);
    test::write_bytes(dir.file("a.pmk"), partial);
    test::LogCapture log;
    EXPECT_EQ(install_pitch_mark_file(dir.file("gone.tmp"), dir.file("a.pmk")), -1);
    EXPECT_EQ(log.text(), "エラー:pmkファイルの作成に失敗\n");
    EXPECT_FALSE(is_complete_pitch_mark_file(dir.file("a.pmk")));
    test::write_bytes(dir.file("a.pmk"), pmk(16, 0.0, 0, {}));
    EXPECT_FALSE(is_complete_pitch_mark_file(dir.file("a.pmk")));
}

}  // namespace
}  // namespace qern
