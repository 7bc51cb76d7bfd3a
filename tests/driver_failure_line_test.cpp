#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "driver/error_log.h"
#include "driver/failure_summary.h"
#include "driver/run.h"
#include "driver/text_encoding.h"
#include "test_support.h"

namespace qern {
namespace {

TEST(FailureLine, PlainAsciiKeepsPrintableAsciiAndSpellsOutEverythingElse) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"C:\\voice\\a.wav", "C:\\voice\\a.wav"},
        {"あ.wav", "<U+3042>.wav"},
        {"\xC3\xA9", "<U+00E9>"},
        {"\xF0\x9F\x8E\xB5", "<U+1F3B5>"},           // four bytes
        {"\x82\xA0.wav", "<0x82><0xA0>.wav"},        // code page 932, not UTF-8
        {"\xE3\x81", "<0xE3><0x81>"},                // cut short at the end
        {"\xE3\x81" "a", "<0xE3><0x81>a"},           // cut short before ASCII
        {"\xC0\xAF", "<0xC0><0xAF>"},                // overlong '/'
        {"\xED\xA0\x80", "<0xED><0xA0><0x80>"},      // a surrogate
        {"\xF4\x90\x80\x80", "<0xF4><0x90><0x80><0x80>"},  // past U+10FFFF
        {std::string("a\tb\nc\0d", 7), "a<0x09>b<0x0A>c<0x00>d"},
        {"\x7F~", "<0x7F>~"},
    };
    for (const auto& c : cases) EXPECT_EQ(plain_ascii(c.in), c.out) << c.out;
}

TEST(FailureLine, FirstFailureStandsWithTheReasonNotedBeforeIt) {
    clear_logged_messages();
    EXPECT_EQ(failure_line(noted_failure()), "");

    note_failure_reason("no data chunk");
    note_failure_reason("a later, more general reason");
    EXPECT_EQ(failure_line(noted_failure()), "") << "a reason alone makes no line";
    note_failure("cannot read input file \"%s\"", "あ.wav");
    note_failure("invalid command line");
    note_failure_reason("too late");
    EXPECT_EQ(failure_line(noted_failure()),
              "qern: cannot read input file \"<U+3042>.wav\": no data chunk\n");

    clear_logged_messages();
    note_failure("invalid note name \"%s\"", "H4");
    EXPECT_EQ(failure_line(noted_failure()), "qern: invalid note name \"H4\"\n");
    clear_logged_messages();
}

TEST(FailureLine, NotesOfACapturedThreadStayInItsCapture) {
    clear_logged_messages();
    FailureSummary seen;
    std::thread worker([&] {
        MessageCapture capture;
        note_failure_reason("too short");
        note_failure("cannot analyse \"%s\"", "x.wav");
        seen = capture.failure();
    });
    worker.join();
    EXPECT_EQ(failure_line(seen), "qern: cannot analyse \"x.wav\": too short\n");
    EXPECT_EQ(failure_line(noted_failure()), "");
}

// One bad-input case of the whole run sequence: the files beside the
// program, the arguments after the input, and the line it must end with.
struct BadInput {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args;  // after program and input
    std::string line;  // "%in", "%pmk" and "%out" stand for the paths
};

std::string replaced(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t at = 0; (at = text.find(key, at)) != std::string::npos; at += value.size()) {
        text.replace(at, key.size(), value);
    }
    return text;
}

std::string tone(int count) {
    return test::wav16(test::harmonic_signal(count, [](int) { return 220.5; }), 44100);
}

// A cache of the given marks (position, period) promising `count` of them.
std::string pmk(const std::vector<std::pair<int, int>>& marks, int count) {
    std::string bytes = test::le16(19) + std::string("\0\0\0\0\0\0\x69\x40", 8) + test::le32(count);
    for (const auto& [position, period] : marks) bytes += test::le32(position) + test::le32(period);
    return bytes;
}

TEST(FailureLine, EveryFailurePathOfTheRunEndsStandardErrorWithItsLine) {
    const std::string fmt16 = test::fmt_body(1, 16, 44100);
    const std::string samples = test::pcm16(std::vector<int>(100, 0));
    const std::vector<std::string> note = {"out.wav", "A4", "100", "", "0", "300"};
    const auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"out.wav", "A4", "100"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const std::string read_failed = "qern: cannot read input file \"%in\": ";
    const std::vector<BadInput> cases = {
        {"missing input", {}, note, "qern: cannot open input file \"%in\""},
        {"not .wav", {{"in.Wav", tone(2000)}}, note,
         "qern: input file \"%in\" does not end in .wav or .WAV"},
        {"not RIFF", {{"in.wav", "ID3\x03" + std::string(100, '\0')}}, note,
         read_failed + "not a RIFF file (it starts with \"ID3<0x03>\")"},
        {"not WAVE", {{"in.wav", "RIFF" + test::le32(4) + "AVI " + std::string(100, '\0')}}, note,
         read_failed + "not a WAVE file (RIFF type \"AVI \")"},
        {"cut in the header", {{"in.wav", "RIFF" + test::le32(4) + "WA"}}, note,
         read_failed + "the file ends inside its headers"},
        {"data before fmt", {{"in.wav", "RIFF" + test::le32(4) + "WAVEdata" + test::le32(0)}}, note,
         read_failed + "no fmt chunk after the WAVE header (found \"data\")"},
        {"ADPCM", {{"in.wav", test::wav_file(test::fmt_body(1, 4, 44100, 2), samples)}}, note,
         read_failed + "unsupported format tag 2 (linear PCM or IEEE float needed)"},
        {"16-bit float", {{"in.wav", test::wav_file(test::fmt_body(1, 16, 44100, 3), samples)}}, note,
         read_failed + "unsupported bits per sample 16 for float (32 or 64)"},
        {"12 bits", {{"in.wav", test::wav_file(test::fmt_body(1, 12, 44100), samples)}}, note,
         read_failed + "unsupported bits per sample 12 for PCM (8, 16, 24 or 32)"},
        {"three channels", {{"in.wav", test::wav_file(test::fmt_body(3, 16, 44100), samples)}}, note,
         read_failed + "unsupported channel count 3 (mono or stereo needed)"},
        {"rate 0", {{"in.wav", test::wav_file(test::fmt_body(1, 16, 0), samples)}}, note,
         read_failed + "invalid sample rate 0"},
        {"no data chunk", {{"in.wav", "RIFF" + test::le32(4) + "WAVEfmt " + test::le32(16) + fmt16 + "LIST"}},
         note, read_failed + "no data chunk"},
        {"empty data", {{"in.wav", test::wav_file(fmt16, "")}}, note,
         read_failed + "the data chunk holds no whole sample (size 0 bytes)"},
        {"too short to analyse", {{"in.wav", tone(40)}}, note,
         "qern: cannot analyse input file \"%in\": no pitch marks could be placed in its 40 "
         "samples (too short?)"},
        {"bad note", {{"in.wav", tone(2000)}}, {"out.wav", "H4", "100"},
         "qern: invalid note name \"H4\""},
        {"negative left blank", {{"in.wav", tone(2000)}}, with({"", "-10", "300"}),
         "qern: negative left blank \"-10\" (ms)"},
        {"negative length", {{"in.wav", tone(2000)}}, with({"", "0", "-300.5"}),
         "qern: negative length \"-300.5\" (ms)"},
        {"pitch bend too long", {{"in.wav", tone(2000)}},
         with({"", "0", "300", "0", "0", "100", "0", "!120", "AA#5000000#"}),
         "qern: pitch bend of more than 4194304 points (or no memory for it)"},
        {"left blank past the end", {{"in.wav", tone(22050)}}, with({"", "2000", "300", "50"}),
         "qern: cannot synthesise the note from input file \"%in\": no pitch marks for the "
         "consonant part from 2000 ms (the input lasts 500 ms)"},
        {"cache count", {{"in.wav", tone(22050)}, {"in_wav.pmk", pmk({{300, 200}}, 5)}}, note,
         "qern: cannot use cache file \"%pmk\" (delete it or use the R flag): it "
         "promises 5 pitch marks but holds fewer"},
        {"cache period", {{"in.wav", tone(22050)}, {"in_wav.pmk", pmk({{300, 600}}, 1)}}, note,
         "qern: cannot use cache file \"%pmk\" (delete it or use the R flag): pitch "
         "mark 0 (position 300, period 600) is out of range for an input of 22050 samples"},
        {"cache cut short", {{"in.wav", tone(22050)}, {"in_wav.pmk", test::le16(19) + std::string(4, '\0')}}, note,
         "qern: cannot use cache file \"%pmk\" (delete it or use the R flag): the "
         "file ends inside its header"},
        {"output folder missing", {{"in.wav", tone(22050)}}, {"none/out.wav", "A4", "100"},
         "qern: cannot create output file \"%out\" (missing folder or not writable?)"},
    };
    for (const BadInput& c : cases) {
        test::TempDir dir;
        for (const auto& [name, bytes] : c.files) test::write_file(dir.file(name), bytes);
        const std::string input = dir.file(c.files.empty() ? "in.wav" : c.files.front().first);
        const std::string output = (dir.path() / c.args[0]).string();
        std::vector<std::string> args = {dir.file("qern"), input, output};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        std::string expected = replaced(c.line, "%in", plain_ascii(input));
        expected = replaced(expected, "%pmk", plain_ascii(dir.file("in_wav.pmk")));
        expected = replaced(expected, "%out", plain_ascii(output));
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = run_resampler(static_cast<int>(args.size()), argv.data());
        ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(status, 1) << c.what;
        const std::string log = test::printed_text(test::read_file(dir.file("qern.log")));
        EXPECT_NE(log, "") << c.what;
        // The copy of the log as it was, then the line.
        EXPECT_EQ(err, to_console_encoding(log) + expected + "\n") << c.what;
    }
}

#ifndef _WIN32
// A disk that fills up: the file-size limit of a shell that then runs the
// executable (the signal for going past it ignored, so the write fails).
TEST(FailureLine, FullDiskNamesTheFileThatCouldNotBeWritten) {
    test::TempDir dir;
    std::filesystem::copy_file(QERN_EXECUTABLE, dir.file("qern"));
    test::write_file(dir.file("in.wav"), tone(44100));
    const auto limited = [&](const std::string& blocks, const std::string& command) {
        return test::run_process("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f " + blocks + "; exec " + command},
                                 dir.path());
    };
    test::ProcessResult r = limited("1", "./qern in.wav out.wav A4 100");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, test::read_file(dir.file("qern.log")) +
                         "qern: cannot write cache file \"in_wav.pmk\": write failed (disk full?)\n");

    ASSERT_EQ(test::run_process(dir.file("qern"), {"in.wav", "nul", "A4", "100"}, dir.path()).exit_status, 0);
    r = limited("32", "./qern in.wav out.wav A4 100 '' 0 1000");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, test::read_file(dir.file("qern.log")) +
                         "qern: cannot write output file \"out.wav\" (disk full?)\n");
}
#endif

}  // namespace
}  // namespace qern
