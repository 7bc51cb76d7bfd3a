// The analysis as the executable runs it: analysis-only calls, reuse of the
// cache by a later call, and several processes analysing one sample at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "support/process.h"
#include "support/signals.h"
#include "base/text_encoding.h"
#include "wav/wav_reader.h"

namespace qern {
namespace {

// 0.3 s of a voice-like signal at 44100 Hz as a 16-bit mono WAV file.
std::string voice_wav() {
    return test::wav16(test::harmonic_signal(
                           13230, [](int n) { return n < 5000 || n > 7500 ? 160.0 + n / 2205.0 : 0.0; }, 6000.0),
                       44100);
}

// The cache a fresh in-process analysis of `wav_path` writes.
std::string expected_cache(const test::TempDir& dir, const std::string& wav_path) {
    DecodedInput job;
    EXPECT_EQ(read_wav_file(wav_path, job), 0);
    EXPECT_EQ(create_pitch_mark_file(job, dir.file("expected.pmk")), 0);
    const std::string bytes = test::read_file(dir.file("expected.pmk"));
    std::filesystem::remove(dir.file("expected.pmk"));
    return bytes;
}

const std::string ANALYSIS_PROGRESS = to_console_encoding(
    "pmkファイル作成開始\n基本周期の計算開始\nピッチ基本波の計算開始\npmkファイル作成完了\n");

class AnalysisRuns : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "runs the executable through a POSIX shell";
#endif
        std::filesystem::copy_file(QERN_EXECUTABLE, dir.file("qern"));
        test::write_file(dir.file("voice.wav"), voice_wav());
    }
    test::TempDir dir;
};

TEST_F(AnalysisRuns, AnalysisOnlyRunPreparesTheCacheAndALaterRunReusesIt) {
    const std::string expected = expected_cache(dir, dir.file("voice.wav"));

    test::ProcessResult r = test::run_process(dir.file("qern"), {"voice.wav", "nul", "C4", "100"}, dir.path());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, ANALYSIS_PROGRESS);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::read_file(dir.file("voice_wav.pmk")), expected);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"qern", "voice.wav", "voice_wav.pmk"}));

    // "NUL" as well; the cache is current now, so nothing is analysed.
    r = test::run_process(dir.file("qern"), {"voice.wav", "NUL", "C4", "100"}, dir.path());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");

    // A synthesis run reads the cache without analysing.
    r = test::run_process(dir.file("qern"), {"voice.wav", "out.wav", "C4", "100"}, dir.path());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out.find("pmk"), std::string::npos);
    EXPECT_TRUE(test::file_exists(dir.file("out.wav")));
    EXPECT_FALSE(test::file_exists(dir.file("qern.log")));
    EXPECT_EQ(test::read_file(dir.file("voice_wav.pmk")), expected);

    // The R flag analyses again.
    r = test::run_process(dir.file("qern"), {"voice.wav", "nul", "C4", "100", "R"}, dir.path());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, ANALYSIS_PROGRESS);
    EXPECT_EQ(test::read_file(dir.file("voice_wav.pmk")), expected);
}

TEST_F(AnalysisRuns, ConcurrentRunsOnOneSampleAllSucceedWithOneCache) {
    const std::string expected = expected_cache(dir, dir.file("voice.wav"));
    constexpr int PROCESSES = 4;
    // Each process has its own copy of the program, so its own log file,
    // which stays only when its run fails.
    for (const char* kind : {"p", "s"}) {
        for (int p = 0; p < PROCESSES; ++p) {
            const std::string sub = dir.file(kind + std::to_string(p));
            std::filesystem::create_directory(sub);
            std::filesystem::copy_file(dir.file("qern"), sub + "/qern");
        }
    }
    for (int round = 0; round < 2; ++round) {
        std::filesystem::remove(dir.file("voice_wav.pmk"));
        std::string script = "cd " + test::shell_quote(dir.path().string()) + " && (";
        for (int p = 0; p < PROCESSES; ++p) {
            const std::string sub = "p" + std::to_string(p);
            script += "(cd " + sub + " && ./qern ../voice.wav nul C4 100 >stdout.txt 2>stderr.txt; echo $? >status.txt) & ";
        }
        // Synthesis runs that start while the others are analysing read
        // the cache only when it is complete (or analyse themselves).
        for (int p = 0; p < PROCESSES; ++p) {
            const std::string sub = "s" + std::to_string(p);
            script += "(sleep 0.0" + std::to_string(2 * p + 1) + "; cd " + sub +
                      " && ./qern ../voice.wav ../out" + std::to_string(p) +
                      ".wav C4 100 >stdout.txt 2>stderr.txt; echo $? >status.txt) & ";
        }
        script += "wait)";
        ASSERT_EQ(std::system(script.c_str()), 0);

        int analysed = 0;
        for (int p = 0; p < PROCESSES; ++p) {
            const std::string sub = dir.file("p" + std::to_string(p)) + "/";
            EXPECT_EQ(test::read_file(sub + "status.txt"), "0\n") << round << " " << p;
            EXPECT_FALSE(test::file_exists(sub + "qern.log")) << test::read_file(sub + "qern.log");
            EXPECT_EQ(test::read_file(sub + "stderr.txt"), "");
            const std::string out = test::read_file(sub + "stdout.txt");
            EXPECT_TRUE(out.empty() || out == ANALYSIS_PROGRESS) << out;
            if (!out.empty()) ++analysed;
        }
        EXPECT_GE(analysed, 1);
        for (int p = 0; p < PROCESSES; ++p) {
            const std::string sub = dir.file("s" + std::to_string(p)) + "/";
            EXPECT_EQ(test::read_file(sub + "status.txt"), "0\n") << round << " " << p;
            EXPECT_FALSE(test::file_exists(sub + "qern.log")) << test::read_file(sub + "qern.log");
            EXPECT_TRUE(test::file_exists(dir.file("out" + std::to_string(p) + ".wav")));
            std::filesystem::remove(dir.file("out" + std::to_string(p) + ".wav"));
        }
        
        EXPECT_EQ(test::read_file(dir.file("voice_wav.pmk")), expected) << round;
        // No temporary file is left behind.
        std::vector<std::string> expected_entries{"qern", "voice.wav", "voice_wav.pmk"};
        for (int p = 0; p < PROCESSES; ++p) {
            expected_entries.push_back("p" + std::to_string(p));
            expected_entries.push_back("s" + std::to_string(p));
        }
        std::sort(expected_entries.begin(), expected_entries.end());
        EXPECT_EQ(dir.entries(), expected_entries);
    }
}

}  // namespace
}  // namespace qern
