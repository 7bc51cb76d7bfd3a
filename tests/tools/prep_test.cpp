// The voicebank preparation (qern-prep) and the per-thread message capture
// it relies on.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "base/error_log.h"
#include "driver/run.h"
#include "tools/voicebank_prep.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "support/console.h"
#include "support/process.h"
#include "support/signals.h"

namespace qern {
namespace {

namespace fs = std::filesystem;

TEST(MessageCapture, TakesTheMessagesOfItsOwnThreadOnly) {
    clear_logged_messages();
    std::string other_thread;
    {
        const MessageCapture outer;
        log_error("%souter\n", ERROR_PREFIX);
        {
            const MessageCapture inner;
            log_error("%sinner %d\n", ERROR_PREFIX, 1);
            log_warning("%swarning\n", WARNING_PREFIX);
            print_progress("progress\n");
            EXPECT_EQ(inner.messages(), "エラー:inner 1\n警告:warning\n");
            EXPECT_EQ(inner.output(), "progress\n");
        }
        std::thread([&] {
            const MessageCapture own;
            log_error("%sthread\n", ERROR_PREFIX);
            other_thread = own.messages();
        }).join();
        print_formatted("%d\n", 7);
        EXPECT_EQ(outer.messages(), "エラー:outer\n");
        EXPECT_EQ(outer.output(), "7\n");
    }
    EXPECT_EQ(other_thread, "エラー:thread\n");
    // Nothing reached the process-wide log.
    EXPECT_EQ(logged_messages(), "");
}

// Every regular file under `root`, by relative path, with its bytes.
std::map<std::string, std::string> tree_of(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) files[fs::relative(e.path(), root).generic_string()] = test::read_file(e.path().string());
    }
    return files;
}

// The files of a small voicebank: voiced samples of several pitches in
// nested folders, one broken file, one file of another kind.
void write_voicebank(const fs::path& root) {
    fs::create_directories(root / "high" / "deep");
    const auto write = [&](const fs::path& path, const std::string& bytes) {
        test::write_file(path.string(), bytes);
    };
    write(root / "a.wav", test::wav16(test::voice_signal(30000, 44100, 180.0, 220.0, 1), 44100));
    write(root / "i.WAV", test::wav16(test::voice_signal(26000, 44100, 260.0, 240.0, 2), 44100));
    write(root / "high" / "u.wav", test::wav16(test::voice_signal(24000, 44100, 420.0, 500.0, 3), 44100));
    write(root / "high" / "deep" / "e.wav", test::wav16(test::voice_signal(20000, 22050, 150.0, 130.0, 4), 22050));
    write(root / "high" / "broken.wav", "RIFF" + test::le32(8) + "WAVEjunk");
    write(root / "oto.ini", "a.wav=a,0,0,0,0,0\n");
}

// An analysis-only run of the resampler on `input`, its log beside
// `program`; its console texts are kept out of the test output.
void run_analysis_only(const std::string& program, const std::string& input) {
    std::vector<std::string> args = {program, input, "nul", "C4", "100"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    const MessageCapture quiet;
    run_resampler(static_cast<int>(args.size()), argv.data());
}

class VoicebankPrep : public ::testing::Test {
protected:
    void SetUp() override {
        write_voicebank(dir.path() / "prep");
        write_voicebank(dir.path() / "runs");
    }
    test::TempDir dir;
};

TEST_F(VoicebankPrep, FindsTheWavFilesOfAllSubfolders) {
    const fs::path root = dir.path() / "prep";
    test::write_file((root / "x.Wav").string(), "");  // an ending the resampler refuses
    const std::vector<std::string> files = find_wav_files(root.string());
    const std::vector<std::string> expected = {
        (root / "a.wav").string(), (root / "high" / "broken.wav").string(),
        (root / "high" / "deep" / "e.wav").string(), (root / "high" / "u.wav").string(),
        (root / "i.WAV").string()};
    EXPECT_EQ(files, expected);
    EXPECT_TRUE(find_wav_files((root / "oto.ini").string()).empty());
    EXPECT_TRUE(find_wav_files((root / "missing").string()).empty());
}

TEST_F(VoicebankPrep, LeavesTheFilesOfASeriesOfAnalysisOnlyRuns) {
    const fs::path prep = dir.path() / "prep";
    const fs::path runs = dir.path() / "runs";
    // Old-style cache names, which every run removes.
    test::write_file((prep / "a.wav.pmk").string(), "old");
    test::write_file((runs / "a.wav.pmk").string(), "old");

    std::vector<int> reported;
    const std::vector<std::string> inputs = find_wav_files(prep.string());
    const std::vector<PrepResult> results =
        prepare_voicebank(inputs, 3, false, [&](int done, int total, const PrepResult&) {
            EXPECT_EQ(total, 5);
            reported.push_back(done);
        });
    EXPECT_EQ(reported, (std::vector<int>{1, 2, 3, 4, 5}));
    ASSERT_EQ(results.size(), inputs.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].path, inputs[i]);
        const bool broken = inputs[i].find("broken") != std::string::npos;
        EXPECT_EQ(results[i].outcome, broken ? PrepOutcome::FAILED : PrepOutcome::ANALYSED) << inputs[i];
        if (broken) {
            EXPECT_EQ(results[i].messages, "エラー:fmtチャンクがない\n入っていたのはjunkでした\n");
        } else {
            EXPECT_EQ(results[i].messages, "") << inputs[i];
        }
    }

    for (const std::string& input : find_wav_files(runs.string())) {
        run_analysis_only(dir.file("qern"), input);
    }
    const auto prepared = tree_of(prep);
    EXPECT_EQ(prepared, tree_of(runs));
    // Four caches, with marks in them.
    int caches = 0;
    for (const auto& [name, bytes] : prepared) {
        if (name.size() > 4 && name.substr(name.size() - 4) == ".pmk") {
            ++caches;
            EXPECT_GT(bytes.size(), 14u + 8u * 100u) << name;
        }
    }
    EXPECT_EQ(caches, 4);
    EXPECT_FALSE(prepared.contains("a.wav.pmk"));
}

TEST_F(VoicebankPrep, SkipsCurrentCachesUnlessToldToRedo) {
    const fs::path prep = dir.path() / "prep";
    fs::remove(prep / "high" / "broken.wav");
    const std::vector<std::string> inputs = find_wav_files(prep.string());
    ASSERT_EQ(inputs.size(), 4u);
    prepare_voicebank(inputs, 2, false, nullptr);
    const auto first = tree_of(prep);

    // A current cache is kept as it is, even a damaged one (as a run does);
    // an outdated one (version 16) is made again.
    const std::string a_cache = (prep / "a_wav.pmk").string();
    const std::string u_cache = (prep / "high" / "u_wav.pmk").string();
    test::write_file(a_cache, test::le16(PMK_VERSION) + "damaged");
    test::write_file(u_cache, test::le16(16) + first.at("high/u_wav.pmk").substr(2));
    test::write_file((prep / "i.WAV.pmk").string(), "old");
    std::vector<PrepResult> results = prepare_voicebank(inputs, 2, false, nullptr);
    std::map<std::string, PrepOutcome> outcome;
    for (const PrepResult& r : results) outcome[fs::relative(r.path, prep).generic_string()] = r.outcome;
    EXPECT_EQ(outcome, (std::map<std::string, PrepOutcome>{{"a.wav", PrepOutcome::SKIPPED},
                                                          {"high/deep/e.wav", PrepOutcome::SKIPPED},
                                                          {"high/u.wav", PrepOutcome::ANALYSED},
                                                          {"i.WAV", PrepOutcome::SKIPPED}}));
    auto now = tree_of(prep);
    EXPECT_EQ(now.at("a_wav.pmk"), test::le16(PMK_VERSION) + "damaged");
    EXPECT_EQ(now.at("high/u_wav.pmk"), first.at("high/u_wav.pmk"));
    EXPECT_FALSE(now.contains("i.WAV.pmk"));

    // --redo analyses everything again, on one thread as on several.
    results = prepare_voicebank(inputs, 1, true, nullptr);
    for (const PrepResult& r : results) EXPECT_EQ(r.outcome, PrepOutcome::ANALYSED) << r.path;
    EXPECT_EQ(tree_of(prep), first);
}

// The built qern-prep beside the built qern.
std::string prep_executable() {
    std::string path = QERN_EXECUTABLE;
    const bool exe = path.size() > 4 && path.substr(path.size() - 4) == ".exe";
    path = (fs::path(path).parent_path() / "qern-prep").string();
    return exe ? path + ".exe" : path;
}

TEST_F(VoicebankPrep, ExecutableSummarisesAndReportsTheBrokenFile) {
    const fs::path prep = dir.path() / "prep";
    test::ProcessResult r = test::run_process(prep_executable(), {prep.string(), "-j", "2"}, dir.path());
    r.out = test::printed_text(r.out);
    EXPECT_EQ(r.exit_status, 1);
    // Standard output is no terminal here: no progress bar, only the summary.
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_NE(r.out.find("5 files: 4 analysed, 0 skipped (cache current), 1 failed;"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("failed: " + (prep / "high" / "broken.wav").string() +
                         "\n    エラー:fmtチャンクがない\n    入っていたのはjunkでした\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "");

    fs::remove(prep / "high" / "broken.wav");
    r = test::run_process(prep_executable(), {prep.string()}, dir.path());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find("4 files: 0 analysed, 4 skipped (cache current), 0 failed;"), std::string::npos) << r.out;

    r = test::run_process(prep_executable(), {prep.string(), "--redo", "-j1"}, dir.path());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find("4 files: 4 analysed, 0 skipped"), std::string::npos) << r.out;

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{}, {prep.string(), "-j", "0"}, {prep.string(), "--fast"}, {"a", "b"}}) {
        r = test::run_process(prep_executable(), wrong, dir.path());
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_NE(r.err.find("usage: qern-prep"), std::string::npos);
    }
    r = test::run_process(prep_executable(), {(dir.path() / "nothing").string()}, dir.path());
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("no .wav files"), std::string::npos);
}

}  // namespace
}  // namespace qern
