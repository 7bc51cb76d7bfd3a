// A note is the same whatever the state of the cache, a cache made from an
// earlier recording is not used, and no output ever replaces the voice
// sample or its cache.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "base/failure_summary.h"
#include "base/text_encoding.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "support/console.h"
#include "support/process.h"
#include "support/signals.h"
#include "tools/voicebank_prep.h"

namespace qern {
namespace {

namespace fs = std::filesystem;
using std::chrono::hours;

const std::string& PROGRAM = test::PROGRAM_FILE_NAME;
const std::string ANALYSIS_PROGRESS =
    "pmkファイル作成開始\n基本周期の計算開始\nピッチ基本波の計算開始\npmkファイル作成完了\n";

// What the executable prints or logs: the console encoding, in text mode.
std::string printed(const std::string& utf8) { return test::text_mode(to_console_encoding(utf8)); }

// 0.6 s of a voiced tone of `period` samples at 44100 Hz riding on a DC
// offset of `offset` (the analysis high-passes it away; the synthesis keeps it).
std::string tone_wav(double period, double offset, double amplitude = 7000.0) {
    std::vector<double> x = test::harmonic_signal(26460, [period](int) { return period; }, amplitude);
    for (double& v : x) v += offset;
    return test::wav16(x, 44100);
}

// Whole files compared byte for byte, told briefly when they differ.
::testing::AssertionResult same_bytes(const std::string& a, const std::string& b) {
    if (a == b) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size()
                                         << ", first difference at byte " << at;
}

// A cache of regular marks, `period` apart, over the first `end` samples.
std::string hand_made_cache(int period, int end) {
    std::string entries;
    int count = 0;
    for (int m = period; m + period < end; m += period, ++count) entries += test::le32(m) + test::le32(period);
    return test::le16(PMK_VERSION) + test::float64_bytes(period) + test::le32(count) + entries;
}

class SameNote : public ::testing::Test {
protected:
    void SetUp() override { fs::copy_file(QERN_EXECUTABLE, dir.file(PROGRAM)); }

    test::ProcessResult run(const std::vector<std::string>& args) {
        return test::run_process(dir.file(PROGRAM), args, dir.path());
    }
    // The note of `args` (output "note.wav" first) rendered in a folder of
    // its own from a copy of `wav` and no cache.
    std::string clean_rendering(const std::string& wav, const std::vector<std::string>& note) {
        const test::TempDir clean;
        fs::copy_file(QERN_EXECUTABLE, clean.file(PROGRAM));
        test::write_file(clean.file("a.wav"), wav);
        std::vector<std::string> args = {"a.wav", "note.wav"};
        args.insert(args.end(), note.begin(), note.end());
        EXPECT_EQ(test::run_process(clean.file(PROGRAM), args, clean.path()).exit_status, 0);
        return test::read_file(clean.file("note.wav"));
    }
    // Sets the last-modification times of the WAV (to a whole second: the
    // finest time some file systems keep) and of the cache, `offset` later.
    void set_cache_time(fs::file_time_type::duration offset) {
        const auto wav_time = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(dir.file("a.wav")));
        fs::last_write_time(dir.file("a.wav"), wav_time);
        fs::last_write_time(dir.file("a_wav.pmk"), wav_time + offset);
    }

    test::TempDir dir;
};

const std::vector<std::string> NOTE = {"C4", "100", "", "0", "400", "50"};

std::vector<std::string> note_call(const std::string& output, const std::vector<std::string>& note = NOTE) {
    std::vector<std::string> args = {"a.wav", output};
    args.insert(args.end(), note.begin(), note.end());
    return args;
}

TEST_F(SameNote, ColdWarmAndReanalysingRunsGiveTheSameBytes) {
    test::write_file(dir.file("a.wav"), tone_wav(200.0, 4000.0));
    const std::vector<std::vector<std::string>> notes = {
        NOTE,
        {"G3", "80", "g-20H20", "20", "300", "80", "0", "100", "30", "!120", "AA#5#ABADAGAK"},
        {"A4", "140", "g25P100", "0", "500", "30", "-400", "120"},
    };
    for (const auto& note : notes) {
        fs::remove(dir.file("a_wav.pmk"));
        test::ProcessResult cold = run(note_call("cold.wav", note));
        ASSERT_EQ(cold.exit_status, 0) << cold.err;
        EXPECT_EQ(cold.out.find(printed(ANALYSIS_PROGRESS)), 0u) << note[0];
        test::ProcessResult warm = run(note_call("warm.wav", note));
        EXPECT_EQ(warm.exit_status, 0);
        EXPECT_EQ(warm.out.find("pmk"), std::string::npos) << note[0];
        std::vector<std::string> again = note_call("again.wav", note);
        again.resize(std::max<std::size_t>(again.size(), 5));
        again[4] += "R";
        EXPECT_EQ(run(again).exit_status, 0);

        const std::string sound = test::read_file(dir.file("cold.wav"));
        ASSERT_GT(sound.size(), 44u);
        EXPECT_NE(sound.find_first_not_of('\0', 44), std::string::npos) << note[0];
        EXPECT_TRUE(same_bytes(test::read_file(dir.file("warm.wav")), sound)) << note[0];
        EXPECT_TRUE(same_bytes(test::read_file(dir.file("again.wav")), sound)) << note[0];
    }
}

TEST_F(SameNote, ReRecordedSampleIsAnalysedAgainAndSoundsAsFromACleanFolder) {
    test::write_file(dir.file("a.wav"), tone_wav(150.0, 0.0));
    ASSERT_EQ(run(note_call("nul")).exit_status, 0);
    const std::string old_cache = test::read_file(dir.file("a_wav.pmk"));

    // A new take, longer in period and louder, saved after the cache.
    const std::string new_take = tone_wav(230.0, 1500.0, 9000.0);
    test::write_file(dir.file("a.wav"), new_take);
    set_cache_time(-hours(1));
    const test::ProcessResult r = run(note_call("note.wav"));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out.find(printed(ANALYSIS_PROGRESS)), 0u) << r.out;
    EXPECT_TRUE(same_bytes(test::read_file(dir.file("note.wav")), clean_rendering(new_take, NOTE)));
    const std::string new_cache = test::read_file(dir.file("a_wav.pmk"));
    EXPECT_FALSE(same_bytes(new_cache, old_cache));

    // The new cache is current: the next note reuses it.
    const test::ProcessResult next = run(note_call("next.wav"));
    EXPECT_EQ(next.exit_status, 0);
    EXPECT_EQ(next.out.find("pmk"), std::string::npos) << next.out;
    EXPECT_TRUE(same_bytes(test::read_file(dir.file("a_wav.pmk")), new_cache));
    EXPECT_TRUE(same_bytes(test::read_file(dir.file("next.wav")), test::read_file(dir.file("note.wav"))));
}

TEST_F(SameNote, CacheAtLeastAsNewAsItsSampleIsUsedAsItIs) {
    const std::string wav = tone_wav(200.0, 0.0);
    test::write_file(dir.file("a.wav"), wav);
    const std::string analysed = clean_rendering(wav, NOTE);
    // Marks of another period than the recording's: a note made from them
    // differs from the analysed one, so their use shows.
    const std::string hand_made = hand_made_cache(120, 26460);
    for (const auto offset : {fs::file_time_type::duration::zero(),
                              std::chrono::duration_cast<fs::file_time_type::duration>(hours(1))}) {
        test::write_file(dir.file("a_wav.pmk"), hand_made);
        set_cache_time(offset);
        const test::ProcessResult r = run(note_call("note.wav"));
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.out.find("pmk"), std::string::npos) << r.out;
        EXPECT_TRUE(same_bytes(test::read_file(dir.file("a_wav.pmk")), hand_made));
        EXPECT_FALSE(same_bytes(test::read_file(dir.file("note.wav")), analysed));
        EXPECT_TRUE(has_current_pitch_mark_cache(dir.file("a.wav")));
    }
    // One second older than the sample: out of date, for qern-prep too.
    set_cache_time(-std::chrono::seconds(1));
    EXPECT_FALSE(has_current_pitch_mark_cache(dir.file("a.wav")));
    const PrepResult prepared = prepare_pitch_mark_cache(dir.file("a.wav"), false);
    EXPECT_EQ(prepared.outcome, PrepOutcome::ANALYSED) << prepared.messages;
    EXPECT_FALSE(same_bytes(test::read_file(dir.file("a_wav.pmk")), hand_made));
    EXPECT_EQ(run(note_call("note.wav")).exit_status, 0);
    EXPECT_TRUE(same_bytes(test::read_file(dir.file("note.wav")), analysed));
}

TEST_F(SameNote, OutputNamingTheSampleOrItsCacheFailsBeforeAnythingIsWritten) {
    const std::string wav = tone_wav(200.0, 0.0);
    test::write_file(dir.file("a.wav"), wav);
    fs::create_directory(dir.file("sub"));
    std::vector<std::string> sample_names = {"a.wav", "./a.wav", dir.file("a.wav"), "sub/../a.wav"};
    std::error_code no_link;
    fs::create_hard_link(dir.file("a.wav"), dir.file("link.wav"), no_link);
    if (!no_link) sample_names.push_back("link.wav");
    const std::vector<std::string> cache_names = {"a_wav.pmk", "./a_wav.pmk", dir.file("a_wav.pmk"),
                                                  "sub/../a_wav.pmk"};
    const std::string tail = "エラー:コマンドラインオプションの処理に失敗しました\n";

    for (const bool warm : {false, true}) {
        if (warm) {
            ASSERT_EQ(run(note_call("nul")).exit_status, 0);
        }
        const std::string cache = warm ? test::read_file(dir.file("a_wav.pmk")) : "";
        const std::vector<std::string> before = dir.entries();
        auto expect_refused = [&](const std::vector<std::string>& args, const std::string& message,
                                  const std::string& line) {
            const test::ProcessResult r = run(args);
            const std::string what = args[0] + " -> " + args[1] + (warm ? " (warm)" : " (cold)");
            EXPECT_EQ(r.exit_status, 1) << what;
            EXPECT_EQ(test::read_file(dir.file("qern.log")), printed(message + tail)) << what;
            EXPECT_EQ(r.err, printed(message + tail) + test::text_mode(plain_ascii(line) + "\n")) << what;
            EXPECT_EQ(r.out, "") << what;
            fs::remove(dir.file("qern.log"));
            EXPECT_EQ(dir.entries(), before) << what;
            EXPECT_TRUE(same_bytes(test::read_file(dir.file("a.wav")), wav)) << what;
            if (warm) {
                EXPECT_TRUE(same_bytes(test::read_file(dir.file("a_wav.pmk")), cache)) << what;
            }
        };
        for (const std::string& name : sample_names) {
            // The input spelled as usual, and otherwise than the output.
            for (const std::string input : {"a.wav", "./a.wav"}) {
                std::vector<std::string> args = note_call(name);
                args[0] = input;
                expect_refused(args, "エラー:出力ファイル" + name + "が入力音声ファイルと同じです\n",
                               "qern: output file \"" + name + "\" is the input file \"" + input +
                                   "\" (it would be overwritten)");
            }
        }
        for (const std::string& name : cache_names) {
            expect_refused(note_call(name), "エラー:出力ファイル" + name + "がpmkファイルと同じです\n",
                           "qern: output file \"" + name +
                               "\" is the cache file \"a_wav.pmk\" of the input (it would be overwritten)");
        }
    }

    // Outputs that do not exist yet, in the same folder and beside it, and
    // the analysis-only names, are as they always were.
    for (const std::string output : {"new.wav", "sub/a.wav", "a_wav.wav", "nul", "NUL"}) {
        const test::ProcessResult r = run(note_call(output));
        EXPECT_EQ(r.exit_status, 0) << output << r.err;
        if (output != "nul" && output != "NUL") {
            EXPECT_TRUE(test::file_exists(dir.file(output))) << output;
        }
    }
    EXPECT_TRUE(same_bytes(test::read_file(dir.file("a.wav")), wav));
}

}  // namespace
}  // namespace qern
