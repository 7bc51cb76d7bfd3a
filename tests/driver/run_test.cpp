#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <regex>
#include <string_view>
#include <string>
#include <vector>

#include "base/error_log.h"
#include "base/failure_summary.h"
#include "driver/run.h"
#include "base/text_encoding.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "support/console.h"
#include "support/process.h"
#include "support/signals.h"

namespace qern {
namespace {

const std::string& PROGRAM = test::PROGRAM_FILE_NAME;

const std::string BANNER =
    "QERN Ver0.19\n"
    "このプログラムは、「歌声合成ツール　ＵＴＡＵ」用に\n"
    "作られた歌声合成エンジンです。\n"
    "コマンドラインオプションの仕様は、resampler Ver10.42に準じます。\n";

// What the stand-in stages saw and should do.
struct StageScript {
    bool cache_fails = false;
    bool read_fails = false;
    bool synthesis_fails = false;
    bool synthesis_throws = false;
    int synthesis_calls = 0;
};
StageScript g_script;

FileHandle fake_open_cache(DecodedInput&, const std::string&, int) {
    if (g_script.cache_fails) {
        log_error("%s(cache)\n", ERROR_PREFIX);
        return nullptr;
    }
    return FileHandle(std::tmpfile());
}

int fake_read_marks(std::FILE* stream, int, AnalysisResult& analysis) {
    if (stream == nullptr || g_script.read_fails) {
        log_error("%s(marks)\n", ERROR_PREFIX);
        return -1;
    }
    analysis.marks = {PitchMarkEntry{0, 0}};
    return 0;
}

// Makes an output of three samples.
int fake_synthesize(const DecodedInput&, const AnalysisResult&, const NoteSettings&, SampleBuffer& output,
                    BulkArena*) {
    ++g_script.synthesis_calls;
    if (g_script.synthesis_throws) {
        log_error("%s(throws)\n", ERROR_PREFIX);
        throw std::bad_alloc();
    }
    if (g_script.synthesis_fails) {
        log_error("%s(synthesis)\n", ERROR_PREFIX);
        return -1;
    }
    output = SampleBuffer::allocate(3);
    output[0] = 1.0;
    output[1] = -2.0;
    output[2] = 3.0;
    return 0;
}

const RunStages FAKE_STAGES{&fake_open_cache, &fake_read_marks, &fake_synthesize};

// What the executable prints: the console encoding, in text mode.
std::string printed(const std::string& utf8) { return test::text_mode(to_console_encoding(utf8)); }

// A regular expression matching `text` literally (code page 932 text holds
// bytes such as '{' and '\\').
std::string literally(const std::string& text) {
    std::string pattern;
    for (char c : text) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

const std::string PROCESSING_TIME = literally(printed("処理時間=")) + "[0-9]+msec" + printed("\n");

struct RunOutput {
    int status = -1;
    std::string out;
    std::string err;
};

class RunSequence : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = StageScript{};
        test::write_file(dir.file("in.wav"),
                         test::wav_file(test::fmt_body(1, 16, 44100), test::pcm16({1, 2, 3, 4})));
        program = dir.file("qern");
        log_path = dir.file("qern.log");
    }

    RunOutput run(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        RunOutput result;
        result.status = run_resampler(static_cast<int>(args.size()), argv.data(), FAKE_STAGES);
        result.out = ::testing::internal::GetCapturedStdout();
        result.err = ::testing::internal::GetCapturedStderr();
        return result;
    }

    std::vector<std::string> command(const std::string& output, const std::string& note = "A4") {
        return {program, dir.file("in.wav"), output, note, "100", "", "0", "100"};
    }

    test::TempDir dir;
    std::string program;
    std::string log_path;
};

TEST_F(RunSequence, FewerThanFourArgumentsPrintTheBanner) {
    for (std::size_t count : {1u, 4u}) {
        std::vector<std::string> args = command(dir.file("out.wav"));
        args.resize(count);
        const RunOutput r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, to_console_encoding(BANNER));
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(test::file_exists(log_path));
    }
}

TEST_F(RunSequence, SuccessWritesTheOutputAndLeavesNoLog) {
    // An invalid pitch letter is logged but does not fail the run.
    std::vector<std::string> args = command(dir.file("out.wav"));
    args.insert(args.end(), {"0", "100", "0", "!120", "A*"});
    const RunOutput r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex(literally(to_console_encoding("処理時間=")) + "[0-9]+msec\n")))
        << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(logged_messages(), "エラー:ピッチ文字列に不正な文字\n");
    EXPECT_FALSE(test::file_exists(log_path));
    EXPECT_EQ(test::read_file(dir.file("out.wav")).substr(40),
              test::le32(6) + test::pcm16({1, -2, 3}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", "out.wav"}));
}

TEST_F(RunSequence, OutputNamedNulOnlyAnalyses) {
    for (const char* nul : {"nul", "NUL"}) {
        const RunOutput r = run(command(nul));
        EXPECT_EQ(r.status, 0) << nul;
        EXPECT_EQ(r.out, "") << nul;
        EXPECT_EQ(r.err, "") << nul;
    }
    EXPECT_EQ(g_script.synthesis_calls, 0);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.wav"});

#ifndef _WIN32
    // Any other spelling is an ordinary file name. (Not on Windows, where
    // every spelling of nul is the null device.)
    const RunOutput r = run(command(dir.file("Nul")));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(g_script.synthesis_calls, 1);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Nul", "in.wav"}));
#endif
}

TEST_F(RunSequence, EachFailureKeepsItsLogAndCopiesItToStandardError) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        StageScript script;
        std::string log;
        std::string line;  // the English line after the copy of the log
    };
    const std::string out = dir.file("out.wav");
    const std::string no_dir = dir.file("none/out.wav");
    const std::string in = plain_ascii(dir.file("in.wav"));
    const std::string cache = plain_ascii(dir.file("in_wav.pmk"));
    const std::vector<Case> cases = {
        {"bad note", command(out, "H4"), {},
         "エラー:不正な音階名H4\nエラー:コマンドラインオプションの処理に失敗しました\n",
         "qern: invalid note name \"H4\"\n"},
        {"exception", command(out), {false, false, false, true, 0}, "エラー:(throws)\n",
         "qern: out of memory\n"},
        {"cache", command(out), {true, false, false, false, 0},
         "エラー:(cache)\nエラー:pmkファイルの取得に失敗\n",
         "qern: cannot analyse input file \"" + in + "\"\n"},
        {"cache before nul", command("nul"), {true, false, false, false, 0},
         "エラー:(cache)\nエラー:pmkファイルの取得に失敗\n",
         "qern: cannot analyse input file \"" + in + "\"\n"},
        {"marks", command(out), {false, true, false, false, 0},
         "エラー:(marks)\nエラー:パラメータファイル読み込みに失敗しました\n",
         "qern: cannot use cache file \"" + cache + "\" (delete it or use the R flag)\n"},
        {"synthesis", command(out), {false, false, true, false, 0},
         "エラー:(synthesis)\nエラー:音声の合成に失敗しました\n",
         "qern: cannot synthesise the note from input file \"" + in + "\"\n"},
        {"output", command(no_dir), {},
         "エラー:ファイル" + no_dir + "を開けません\nエラー:ファイルの書き出しに失敗しました\n",
         "qern: cannot create output file \"" + plain_ascii(no_dir) +
             "\" (missing folder or not writable?)\n"},
    };
    for (const auto& c : cases) {
        g_script = c.script;
        const RunOutput r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(test::read_file(log_path), test::text_mode(to_console_encoding(c.log))) << c.what;
        EXPECT_EQ(r.err, to_console_encoding(c.log) + c.line) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
        EXPECT_FALSE(test::file_exists(out)) << c.what;
    }
}

TEST_F(RunSequence, LogThatCannotBeCreatedSendsMessagesToStandardError) {
    program = dir.file("missing-folder/qern");
    const std::string no_log = "エラーログ出力用ファイルの作成に失敗\n";

    RunOutput r = run(command(dir.file("out.wav")));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, to_console_encoding(no_log));
    EXPECT_TRUE(test::file_exists(dir.file("out.wav")));

    r = run(command(dir.file("out2.wav"), "H4"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, to_console_encoding(no_log + "エラー:不正な音階名H4\n"
                                                  "エラー:コマンドラインオプションの処理に失敗しました\n") +
                         "qern: invalid note name \"H4\"\n");
}

// The built executable, copied into a temporary directory so that its log
// lands there.
class Executable : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file(QERN_EXECUTABLE, dir.file(PROGRAM));
        test::write_file(dir.file("in.wav"),
                         test::wav_file(test::fmt_body(1, 16, 44100), test::pcm16({1, 2, 3, 4})));
    }
    test::ProcessResult run(const std::vector<std::string>& args) {
        return test::run_process(dir.file(PROGRAM), args, dir.path());
    }
    test::TempDir dir;
};

// Half a second of a 200 Hz tone with a few harmonics, 16-bit at 44100 Hz.
std::string voiced_tone() { return test::wav16(test::harmonic_signal(22050, [](int) { return 220.5; }), 44100); }

const std::string ANALYSIS_PROGRESS =
    "pmkファイル作成開始\n基本周期の計算開始\nピッチ基本波の計算開始\npmkファイル作成完了\n";


TEST_F(Executable, FourArgumentsRunTheWholeSequenceAndLeaveNoLog) {
    test::write_file(dir.file("in.wav"), voiced_tone());
    test::write_file(dir.file("qern.log"), "from an earlier run");
    // The invalid pitch letter is logged, and the log still goes with the success.
    test::ProcessResult r = run({"in.wav", "out.wav", "A4", "100", "", "0", "0", "0", "0", "100",
                                 "0", "!120", "A*"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex(literally(printed(ANALYSIS_PROGRESS)) + PROCESSING_TIME))) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", "in_wav.pmk", "out.wav", PROGRAM}));
    // A length of 0 ms gives the 1024 samples of the tail, all silent.
    const std::string out = test::read_file(dir.file("out.wav"));
    ASSERT_EQ(out.size(), 44u + 2048);
    EXPECT_EQ(out.substr(4, 4), test::le32(36 + 2048));
    EXPECT_EQ(out.substr(20, 16), test::fmt_body(1, 16, 44100));
    EXPECT_EQ(out.substr(40, 4), test::le32(2048));
    EXPECT_EQ(out.substr(44), std::string(2048, '\0'));

    // With the cache in place a note reuses it: no progress lines.
    r = run({"in.wav", "note.wav", "C4", "100", "", "0", "300"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex(PROCESSING_TIME))) << r.out;
    EXPECT_EQ(test::read_file(dir.file("note.wav")).size(), 44u + 2 * (13230 + 1024));
    EXPECT_FALSE(test::file_exists(dir.file("qern.log")));
}

TEST_F(Executable, OutputNamedNulPreparesTheCacheOnly) {
    test::write_file(dir.file("in.wav"), voiced_tone());
    test::ProcessResult r = run({"in.wav", "nul", "D4", "100"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, printed(ANALYSIS_PROGRESS));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", "in_wav.pmk", PROGRAM}));

#ifndef _WIN32
    r = run({"in.wav", "Nul", "D4", "100"});  // an ordinary name (not on Windows)
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Nul", "in.wav", "in_wav.pmk", PROGRAM}));
#endif
}

TEST_F(Executable, PrintsTheBannerBytesForShortCommandLines) {
    const test::ProcessResult r = run({"in.wav", "out.wav", "A4"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, printed(BANNER));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", PROGRAM}));
}

TEST_F(Executable, FailedRunLeavesItsLogBesideTheProgram) {
    test::ProcessResult r = run({"in.wav", "out.wav", "H4", "100"});
    const std::string bad_note =
        "エラー:不正な音階名H4\nエラー:コマンドラインオプションの処理に失敗しました\n";
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(test::read_file(dir.file("qern.log")), printed(bad_note));
    EXPECT_EQ(r.err, printed(bad_note) + test::text_mode("qern: invalid note name \"H4\"\n"));
    EXPECT_EQ(r.out, "");

    // The next run empties the log first.
    r = run({"missing.wav", "out.wav", "A4", "100"});
    const std::string missing =
        "エラー:ファイルmissing.wavを開けません\nエラー:コマンドラインオプションの処理に失敗しました\n";
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(test::read_file(dir.file("qern.log")), printed(missing));
    EXPECT_EQ(r.err, printed(missing) + test::text_mode("qern: cannot open input file \"missing.wav\"\n"));
    EXPECT_FALSE(test::file_exists(dir.file("out.wav")));
}

}  // namespace
}  // namespace qern
