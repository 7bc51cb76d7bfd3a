// The executable under hostile input and failing writes: bounded memory for
// a header that declares far more data than the file holds, and no partial
// output or cache when the disk refuses a write.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/wav_bytes.h"

namespace qern {
namespace {

// A voiced 220 Hz tone with two harmonics, 16-bit.
std::string voice_pcm(int count, int rate) {
    std::vector<int> values;
    for (int i = 0; i < count; ++i) {
        const double x = 6.283185307179586 * 220.0 * i / rate;
        values.push_back(static_cast<int>(6000.0 * (std::sin(x) + 0.5 * std::sin(2 * x) + 0.25 * std::sin(3 * x))));
    }
    return test::pcm16(values);
}

struct ChildResult {
    int exit_status = -1;
    long peak_rss_kib = 0;
};

// Runs the executable (copied into `dir`) with `args`, its output streams
// sent to the null device, each file it writes limited to `file_limit`
// bytes (0: no limit; a write beyond fails instead of raising SIGXFSZ).
// Reports the exit status and the peak resident memory of that process.
ChildResult run_limited(const test::TempDir& dir, const std::vector<std::string>& args,
                        rlim_t file_limit = 0) {
    const std::string program = dir.file("qern");
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(dir.path().c_str()) != 0) _exit(126);
        if (file_limit != 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{file_limit, file_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ChildResult result;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.peak_rss_kib = usage.ru_maxrss;
    }
    return result;
}

class Hardening : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::copy_file(QERN_EXECUTABLE, dir.file("qern")); }
    std::vector<std::string> entries_with(const std::string& part) const {
        std::vector<std::string> found;
        for (const std::string& e : dir.entries()) {
            if (e.find(part) != std::string::npos) found.push_back(e);
        }
        return found;
    }
    test::TempDir dir;
};

// An unbounded reader would take 0x7FFFFFF0 / 2 samples of 8 bytes each,
// some 8.6 GB, and minutes of zeroing; clamped, the run stays small.
TEST_F(Hardening, DeclaredDataSizeFarBeyondTheFileKeepsTheRunSmall) {
    const std::string voice = voice_pcm(22050, 44100);
    test::write_file(dir.file("huge.wav"), test::wav_file(test::fmt_body(1, 16, 44100), voice, 0x7FFFFFF0));
    const ChildResult r = run_limited(dir, {"huge.wav", "out.wav", "A4", "100", "", "0", "400"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_LT(r.peak_rss_kib, 256 * 1024);
    // The note is made of the samples present: 400 ms plus the tail.
    EXPECT_EQ(test::read_file(dir.file("out.wav")).size(), 44u + 2u * (17640u + 1024u));
    EXPECT_FALSE(test::file_exists(dir.file("qern.log")));

    // Stereo 32-bit: 8 bytes a frame, the same clamp.
    test::write_file(dir.file("huge32.wav"),
                     test::wav_file(test::fmt_body(2, 32, 44100), std::string(4000, '\x11'), 0x7FFFFFFF));
    const ChildResult r32 = run_limited(dir, {"huge32.wav", "nul", "A4", "100"});
    EXPECT_EQ(r32.exit_status, 0);
    EXPECT_LT(r32.peak_rss_kib, 256 * 1024);
}

TEST_F(Hardening, OutputThatCannotBeWrittenInFullLeavesNoFile) {
    test::write_file(dir.file("voice.wav"), test::wav_file(test::fmt_body(1, 16, 44100), voice_pcm(22050, 44100)));
    // The cache first, without a limit.
    ASSERT_EQ(run_limited(dir, {"voice.wav", "nul", "A4", "100"}).exit_status, 0);
    const std::string cache = test::read_file(dir.file("voice_wav.pmk"));
    ASSERT_GT(cache.size(), 14u);

    // One second of output is 90 KB; 16 KiB is all a file may hold.
    const ChildResult r = run_limited(dir, {"voice.wav", "out.wav", "A4", "100", "", "0", "1000"}, 16384);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_FALSE(test::file_exists(dir.file("out.wav")));
    EXPECT_EQ(entries_with(".tmp"), std::vector<std::string>{});
    EXPECT_NE(test::read_file(dir.file("qern.log")).find("エラー:ファイルの書き出しに失敗しました\n"), std::string::npos);
    EXPECT_EQ(test::read_file(dir.file("voice_wav.pmk")), cache);

    // Without the limit the same run succeeds.
    EXPECT_EQ(run_limited(dir, {"voice.wav", "out.wav", "A4", "100", "", "0", "1000"}).exit_status, 0);
    EXPECT_EQ(test::read_file(dir.file("out.wav")).size(), 44u + 2u * (44100u + 1024u));
}

TEST_F(Hardening, CacheThatCannotBeWrittenInFullIsNotLeftBehind) {
    test::write_file(dir.file("voice.wav"), test::wav_file(test::fmt_body(1, 16, 44100), voice_pcm(44100, 44100)));
    // A second of 220 Hz holds some 200 marks: 1.6 KB of cache; 512 bytes fit.
    const ChildResult r = run_limited(dir, {"voice.wav", "out.wav", "A4", "100", "", "0", "100"}, 512);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(entries_with(".pmk"), std::vector<std::string>{});
    EXPECT_EQ(entries_with(".tmp"), std::vector<std::string>{});
    EXPECT_FALSE(test::file_exists(dir.file("out.wav")));
    EXPECT_NE(test::read_file(dir.file("qern.log")).find("エラー:pmkファイルの取得に失敗\n"), std::string::npos);

    // The next run is not misled by anything the failed one left.
    EXPECT_EQ(run_limited(dir, {"voice.wav", "out.wav", "A4", "100", "", "0", "100"}).exit_status, 0);
    EXPECT_TRUE(test::file_exists(dir.file("out.wav")));
    EXPECT_FALSE(test::file_exists(dir.file("qern.log")));
}

}  // namespace
}  // namespace qern

#endif  // _WIN32
