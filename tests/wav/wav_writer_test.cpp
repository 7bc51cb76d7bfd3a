#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error_log.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "support/signals.h"
#include "wav/wav_reader.h"
#include "wav/wav_writer.h"

namespace qern {
namespace {

class WavWriter : public ::testing::Test {
protected:
    void SetUp() override { clear_logged_messages(); }
    test::TempDir dir;
};

TEST_F(WavWriter, WritesTheFixedHeaderAndTruncatedSamples) {
    const std::string path = dir.file("out.wav");
    ASSERT_EQ(write_wav_file(path, test::make_input({1.9, -1.9, -32768.0}, 44100).samples, 44100), 0);
    const std::string expected =
        std::string("RIFF") + std::string("\x2A\x00\x00\x00", 4) + "WAVE" + "fmt " +
        std::string("\x10\x00\x00\x00" "\x01\x00" "\x01\x00" "\x44\xAC\x00\x00"
                    "\x88\x58\x01\x00" "\x02\x00" "\x10\x00", 20) +
        "data" + std::string("\x06\x00\x00\x00" "\x01\x00" "\xFF\xFF" "\x00\x80", 10);
    EXPECT_EQ(test::read_file(path), expected);
    EXPECT_EQ(test::read_file(path).size(), 50u);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"});  // no temporary left
    EXPECT_EQ(logged_messages(), "");
}

TEST_F(WavWriter, SampleConversionTruncatesTowardZero) {
    const std::string path = dir.file("out.wav");
    ASSERT_EQ(write_wav_file(path, test::make_input({32767.0, -0.5, 0.5, -32767.9, 1000.99}, 8000).samples, 8000), 0);
    EXPECT_EQ(test::read_file(path).substr(44),
              std::string("\xFF\x7F" "\x00\x00" "\x00\x00" "\x01\x80" "\xE8\x03", 10));
}

TEST_F(WavWriter, EmptySignalGivesA44ByteFile) {
    const std::string path = dir.file("out.wav");
    ASSERT_EQ(write_wav_file(path, test::make_input({}, 48000).samples, 48000), 0);
    const std::string bytes = test::read_file(path);
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(4, 4), test::le32(36));
    EXPECT_EQ(bytes.substr(24, 4), test::le32(48000));
    EXPECT_EQ(bytes.substr(28, 4), test::le32(96000));
    EXPECT_EQ(bytes.substr(40, 4), test::le32(0));
}

TEST_F(WavWriter, ReplacesAnExistingFileEntirelyAndReadsBackExactly) {
    const std::string path = dir.file("out.wav");
    test::write_file(path, std::string(10000, 'x'));
    std::vector<double> values;
    for (int i = 0; i < 3000; ++i) values.push_back((i * 977) % 65536 - 32768);
    ASSERT_EQ(write_wav_file(path, test::make_input(values, 22050).samples, 22050), 0);
    EXPECT_EQ(test::read_file(path).size(), 44u + 2 * 3000);

    DecodedInput back;
    ASSERT_EQ(read_wav_file(path, back), 0);
    EXPECT_EQ(back.sample_rate, 22050);
    ASSERT_EQ(back.samples.count(), 3000);
    for (int i = 0; i < 3000; ++i) EXPECT_EQ(back.samples[i], values[i]) << i;
}

TEST_F(WavWriter, FailuresLogTheirMessageAndLeaveNoFile) {
    const SampleBuffer no_samples;
    EXPECT_EQ(write_wav_file(dir.file("a.wav"), no_samples, 44100), -1);
    EXPECT_EQ(logged_messages(), "エラー:書き込むデータが存在しません\n");

    clear_logged_messages();
    const std::string in_missing_dir = dir.file("missing/out.wav");
    EXPECT_EQ(write_wav_file(in_missing_dir, test::make_input({1.0}, 44100).samples, 44100), -1);
    EXPECT_EQ(logged_messages(), "エラー:ファイル" + in_missing_dir + "を開けません\n");

    // The final name cannot be replaced (it is a directory): the complete
    // temporary file is removed again and the directory stays as it was.
    clear_logged_messages();
    const std::string occupied = dir.file("occupied.wav");
    std::filesystem::create_directory(occupied);
    EXPECT_EQ(write_wav_file(occupied, test::make_input({1.0, 2.0}, 44100).samples, 44100), -1);
    EXPECT_EQ(logged_messages(), "エラー:ファイル" + occupied + "を開けません\n");
    EXPECT_TRUE(std::filesystem::is_directory(occupied));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"occupied.wav"});
}

}  // namespace
}  // namespace qern
