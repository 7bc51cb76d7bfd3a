#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "base/error_log.h"
#include "base/text_encoding.h"
#include "support/files.h"
#include "support/wav_bytes.h"

namespace qern {
namespace {

// The period of note number n (semitones above 55 Hz) plus t tenths.
double period_of(int rate, int n, int t = 0) {
    return rate / (55.0 * std::pow(2.0, (t + 10.0 * n) / 120.0));
}

// An argument vector for parse_arguments.
struct Arguments {
    explicit Arguments(std::vector<std::string> a) : strings(std::move(a)) {
        for (auto& s : strings) pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// What note_name_to_period reads and writes.
struct NoteUnderTest {
    int sample_rate = 44100;
    double target_period = 0.0;
};

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        clear_logged_messages();
        write_input("in.wav", 44100, 44100);
        write_input("in48.wav", 48000, 4800);
    }

    void write_input(const std::string& name, int rate, int count) {
        test::write_file(dir.file(name),
                         test::wav_file(test::fmt_body(1, 16, rate), std::string(2 * count, '\0')));
    }

    // Parses "qern in.wav out.wav" followed by `rest`.
    int parse(std::vector<std::string> rest, const std::string& input = "in.wav") {
        std::vector<std::string> all = {"qern", dir.file(input), dir.file("out.wav")};
        all.insert(all.end(), rest.begin(), rest.end());
        Arguments arguments(all);
        parsed = RunArguments{};
        loaded = DecodedInput{};
        return parse_arguments(arguments.argc(), arguments.argv(), parsed, loaded);
    }

    test::TempDir dir;
    RunArguments parsed;
    DecodedInput loaded;
};

TEST_F(CommandLine, FourArgumentsGiveTheDefaults) {
    ASSERT_EQ(parse({"A4", "100"}), 0);
    EXPECT_EQ(parsed.input_path, dir.file("in.wav"));
    EXPECT_EQ(parsed.output_path, dir.file("out.wav"));
    EXPECT_EQ(loaded.sample_rate, 44100);
    EXPECT_EQ(loaded.samples.count(), 44100);
    EXPECT_DOUBLE_EQ(parsed.note.target_period, 44100.0 / 440.0);
    EXPECT_EQ(parsed.note.left_blank, 0);
    EXPECT_EQ(parsed.note.required_length, 0);
    EXPECT_EQ(parsed.note.consonant_length, 0);
    EXPECT_EQ(parsed.note.consonant_out_length, 0);
    EXPECT_EQ(parsed.note.right_blank, 0);
    EXPECT_EQ(parsed.note.volume, 100);
    EXPECT_EQ(parsed.note.modulation, 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 0);
    EXPECT_EQ(parsed.note.bend.bend_count, 0);
    EXPECT_TRUE(parsed.note.bend.bend_curve.empty());
    EXPECT_EQ(parsed.note.flag_g, 0);
    EXPECT_EQ(parsed.note.flag_H, 0);
    EXPECT_EQ(parsed.note.flag_P, 86);
    EXPECT_EQ(parsed.flag_R, 0);
    EXPECT_EQ(logged_messages(), "");
}

TEST_F(CommandLine, NoteNamesAndNumbersGiveThePeriod) {
    NoteUnderTest j;
    j.sample_rate = 44100;
    const auto period = [&](const char* name, int t = 0) {
        j.target_period = -1.0;
        EXPECT_EQ(note_name_to_period(name, j.sample_rate, t, j.target_period), 0) << name;
        return j.target_period;
    };
    EXPECT_DOUBLE_EQ(period("A4"), 44100.0 / 440.0);
    EXPECT_DOUBLE_EQ(period("69"), 44100.0 / 440.0);
    EXPECT_NEAR(period("C4"), 44100.0 / 261.6255653005986, 1e-9);
    EXPECT_EQ(period("C#4"), period("Db4"));
    EXPECT_EQ(period("C#4"), period("61"));
    EXPECT_EQ(period("A#3"), period("Bb3"));
    EXPECT_EQ(period("4"), period_of(44100, 4 - 33));
    EXPECT_EQ(period("C-1"), period("C1"));          // the minus sign is skipped
    EXPECT_EQ(period("Gx_5"), period("G5"));          // so is anything else
    EXPECT_EQ(period("A4", 10), period("A#4"));      // t10: one semitone up
    EXPECT_EQ(period("A4", -5), period_of(44100, 36, -5));
    EXPECT_EQ(period("0"), period_of(44100, -33));
    j.sample_rate = 48000;
    EXPECT_DOUBLE_EQ(period("A4"), 48000.0 / 440.0);

    for (const char* invalid : {"H4", "c4", "C", "C#", "Db", "", "#4", " 69", "C♯"}) {
        EXPECT_EQ(note_name_to_period(invalid, j.sample_rate, 0, j.target_period), -1) << invalid;
    }
}

TEST_F(CommandLine, TwoByteSharpAndFlatSigns) {
    NoteUnderTest j;
    j.sample_rate = 44100;
    ::testing::internal::CaptureStdout();
    // The signs arrive in the command-line encoding (code page 932 on Windows).
    ASSERT_EQ(note_name_to_period(to_console_encoding("C♯4").c_str(), j.sample_rate, 0, j.target_period), 0);
    const double sharp = j.target_period;
    const std::string after_sharp = ::testing::internal::GetCapturedStdout();
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(note_name_to_period(to_console_encoding("D♭4").c_str(), j.sample_rate, 0, j.target_period), 0);
    const double flat = j.target_period;
    const std::string after_flat = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(note_name_to_period("C#4", j.sample_rate, 0, j.target_period), 0);
    EXPECT_EQ(sharp, j.target_period);
    EXPECT_EQ(flat, j.target_period);
    EXPECT_EQ(after_sharp, to_console_encoding("ここには来てます\n"));
    EXPECT_EQ(after_flat, "");

    // The editor's own bytes (code page 932) are signs on every platform.
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(note_name_to_period("C\x81\xF2" "4", j.sample_rate, 0, j.target_period), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), to_console_encoding("ここには来てます\n"));
    EXPECT_EQ(sharp, j.target_period);
    ASSERT_EQ(note_name_to_period("D\x81\xF3" "4", j.sample_rate, 0, j.target_period), 0);
    EXPECT_EQ(flat, j.target_period);
}

TEST_F(CommandLine, ExtremeNoteNamesAreInvalidWithoutOverflow) {
    NoteUnderTest j;
    j.sample_rate = 44100;
    for (const char* name : {"99999999999999999999", "2147483647", "C2147483647", "B99999999999",
                             "A9999", "C12"}) {
        EXPECT_EQ(note_name_to_period(name, j.sample_rate, 0, j.target_period), -1) << name;
    }
    EXPECT_EQ(note_name_to_period("A4", j.sample_rate, INT_MIN, j.target_period), -1);  // a period beyond any double
    EXPECT_EQ(note_name_to_period("A4", j.sample_rate, INT_MAX, j.target_period), -1);  // a period below one sample
    // The highest valid C: 55 Hz * 2^(111/12) is below 44100 Hz.
    EXPECT_EQ(note_name_to_period("C11", j.sample_rate, 0, j.target_period), 0);
    EXPECT_GE(j.target_period, 1.0);

    EXPECT_EQ(parse({"C99999999999", "100"}), -1);
    EXPECT_EQ(logged_messages(), "エラー:不正な音階名C99999999999\n");
}

TEST_F(CommandLine, InvalidNoteNameIsLoggedAfterTheInputLoads) {
    EXPECT_EQ(parse({"H4", "100"}), -1);
    EXPECT_EQ(logged_messages(), "エラー:不正な音階名H4\n");
    EXPECT_EQ(loaded.samples.count(), 44100);  // the input was loaded first

    // A missing input reports the input alone, before the note name.
    clear_logged_messages();
    EXPECT_EQ(parse({"H4", "100"}, "none.wav"), -1);
    EXPECT_EQ(logged_messages(), "エラー:ファイル" + dir.file("none.wav") + "を開けません\n");

    clear_logged_messages();
    Arguments three({"qern", dir.file("in.wav"), "out.wav", "A4"});
    EXPECT_EQ(parse_arguments(three.argc(), three.argv(), parsed, loaded), -1);
    EXPECT_EQ(logged_messages(), "エラー:引数が足りません\n");
}

struct FlagCase {
    const char* flags;
    int g, H, P, R, t;
};

TEST_F(CommandLine, FlagsAreReadFromTheLastToTheFirst) {
    const std::vector<FlagCase> cases = {
        {"", 0, 0, 86, 0, 0},          {"P150", 0, 0, 100, 0, 0},  {"P-3", 0, 0, 0, 0, 0},
        {"g-200", -100, 0, 86, 0, 0},  {"g150", 100, 0, 86, 0, 0}, {"g-5g10", -5, 0, 86, 0, 0},
        {"H300", 0, 300, 86, 0, 0},    {"R", 0, 0, 86, 1, 0},      {"R5", 0, 0, 86, 1, 0},
        {"BRE", 0, 0, 86, 1, 0},       {"g", 0, 0, 86, 0, 0},      {"t-5", 0, 0, 86, 0, -5},
        {"g-40H20P100", -40, 20, 100, 0, 0},                        {"g60t-5", 60, 0, 86, 0, -5},
        {"B0Y50h5G7", 0, 0, 86, 0, 0}, {"H99999999999", 0, INT_MAX, 86, 0, 0},
        {"t 12", 0, 0, 86, 0, 12},     {"gP50", 0, 0, 50, 0, 0},
    };
    for (const auto& c : cases) {
        const FlagValues j = parse_flags(c.flags);
        const int t = j.t;
        EXPECT_EQ(j.flag_g, c.g) << c.flags;
        EXPECT_EQ(j.flag_H, c.H) << c.flags;
        EXPECT_EQ(j.flag_P, c.P) << c.flags;
        EXPECT_EQ(j.flag_R, c.R) << c.flags;
        EXPECT_EQ(t, c.t) << c.flags;
    }
    ASSERT_EQ(parse({"A4", "100", "t10P20"}), 0);
    EXPECT_EQ(parsed.note.flag_P, 20);
    EXPECT_DOUBLE_EQ(parsed.note.target_period, period_of(44100, 36, 10));
}

TEST_F(CommandLine, MillisecondsVelocityAndBlanks) {
    ASSERT_EQ(parse({"A4", "100", "", "100.5", "300", "50", "10"}), 0);
    EXPECT_EQ(parsed.note.left_blank, 4432);  // 100.5 ms * 44100 / 1000 = 4432.05
    EXPECT_EQ(parsed.note.required_length, 13230);
    EXPECT_EQ(parsed.note.consonant_length, 2205);
    EXPECT_EQ(parsed.note.consonant_out_length, 2205);
    EXPECT_EQ(parsed.note.right_blank, 441);

    // Velocity 0 doubles the consonant ...
    ASSERT_EQ(parse({"A4", "0", "", "0", "300", "100"}), 0);
    EXPECT_EQ(parsed.note.consonant_length, 4410);
    EXPECT_EQ(parsed.note.consonant_out_length, 8820);
    // ... up to the required length.
    ASSERT_EQ(parse({"A4", "0", "", "0", "150", "100"}), 0);
    EXPECT_EQ(parsed.note.consonant_length, 3307);
    EXPECT_EQ(parsed.note.consonant_out_length, 6615);
    // Velocity 200 halves it; 150 gives 2^-0.5.
    ASSERT_EQ(parse({"A4", "200", "", "0", "300", "100"}), 0);
    EXPECT_EQ(parsed.note.consonant_out_length, 2205);
    ASSERT_EQ(parse({"A4", "150", "", "0", "300", "100"}), 0);
    EXPECT_EQ(parsed.note.consonant_out_length, static_cast<int>(4410 * std::pow(2.0, -0.5)));

    // A negative right blank is the used length from the left blank.
    ASSERT_EQ(parse({"A4", "100", "", "100", "0", "0", "-500"}), 0);
    EXPECT_EQ(parsed.note.right_blank, 44100 - 22050 - 4410);

    // A negative consonant is accepted unchanged.
    ASSERT_EQ(parse({"A4", "100", "", "0", "100", "-10"}), 0);
    EXPECT_EQ(parsed.note.consonant_length, -441);
    EXPECT_EQ(parsed.note.consonant_out_length, -441);

    EXPECT_EQ(parse({"A4", "100", "", "-1"}), -1);
    EXPECT_EQ(logged_messages(), "エラー:左ブランク値が負です。設定を確認してください\n");
    clear_logged_messages();
    EXPECT_EQ(parse({"A4", "100", "", "0", "-0.1"}), -1);
    EXPECT_EQ(logged_messages(), "エラー:指定された長さが負です。設定を確認してください\n");
}

TEST_F(CommandLine, HugeNumbersSaturateInsteadOfOverflowing) {
    ASSERT_EQ(parse({"A4", "-1e300", "", "1e400", "1e30", "1e30", "-1e30", "99999999999", "-99999999999"}), 0);
    EXPECT_EQ(parsed.note.left_blank, INT_MAX);
    EXPECT_EQ(parsed.note.required_length, INT_MAX);
    EXPECT_EQ(parsed.note.consonant_length, INT_MAX);
    EXPECT_EQ(parsed.note.consonant_out_length, INT_MAX);  // INT_MAX * infinity, not above the length
    EXPECT_EQ(parsed.note.right_blank, INT_MIN);
    EXPECT_EQ(parsed.note.volume, 200);
    EXPECT_EQ(parsed.note.modulation, INT_MIN);
    ASSERT_EQ(parse({"A4", "-1e300", "", "0", "1000", "100"}), 0);
    EXPECT_EQ(parsed.note.consonant_length, 0);  // 44100 / infinity
    EXPECT_EQ(parsed.note.consonant_out_length, 44100);
    // Not numbers in the arguments read as 0.
    ASSERT_EQ(parse({"A4", "nan", "", "inf", "0x10", "abc", "nan"}), 0);
    EXPECT_EQ(parsed.note.left_blank, 0);
    EXPECT_EQ(parsed.note.required_length, 0);
    EXPECT_EQ(parsed.note.consonant_length, 0);
    EXPECT_EQ(parsed.note.right_blank, 0);
}

TEST_F(CommandLine, VolumeIsClamped) {
    ASSERT_EQ(parse({"A4", "100", "", "0", "0", "0", "0", "250"}), 0);
    EXPECT_EQ(parsed.note.volume, 200);
    ASSERT_EQ(parse({"A4", "100", "", "0", "0", "0", "0", "-5", "30"}), 0);
    EXPECT_EQ(parsed.note.volume, 0);
    EXPECT_EQ(parsed.note.modulation, 30);
}

TEST_F(CommandLine, TempoGivesTheBendSpacing) {
    const std::vector<std::string> base = {"A4", "100", "", "0", "1000", "0", "0", "100", "0"};
    const auto with = [&](std::vector<std::string> tail) {
        std::vector<std::string> all = base;
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    ASSERT_EQ(parse(with({"!120"})), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 229);  // 44100 * 60 / 11520 = 229.6875
    EXPECT_EQ(parsed.note.bend.bend_count, 0);
    EXPECT_TRUE(parsed.note.bend.bend_curve.empty());
    ASSERT_EQ(parse(with({"!120"}), "in48.wav"), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 250);
    ASSERT_EQ(parse(with({"!87.5", "AB#2#"})), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 315);  // 2646000 / 8400
    EXPECT_EQ(parsed.note.bend.bend_count, 3);
    ASSERT_EQ(parse(with({"!119.99999", "AA"})), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 229);
    ASSERT_EQ(parse(with({"!480", "AA"})), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 57);

    // A tempo without a usable spacing gives no curve, and nothing divides by zero.
    for (const char* tempo : {"!0", "!-120", "!", "!abc", "!1e308", "!1e-320", "!0.0000001"}) {
        ASSERT_EQ(parse(with({tempo, "ABCD"})), 0) << tempo;
        EXPECT_EQ(parsed.note.bend.bend_spacing, 0) << tempo;
        EXPECT_EQ(parsed.note.bend.bend_count, 0) << tempo;
        EXPECT_TRUE(parsed.note.bend.bend_curve.empty()) << tempo;
    }
    ASSERT_EQ(parse(with({"!0.001", "ABCD"})), 0);  // 2646000000 / 0.096: still a count
    EXPECT_EQ(parsed.note.bend.bend_spacing, 27562500);
    EXPECT_EQ(parsed.note.bend.bend_count, 2);
    EXPECT_EQ(logged_messages(), "");
}

TEST_F(CommandLine, OldFormPitchBendInArgumentTwelve) {
    const std::vector<std::string> base = {"A4", "100", "", "0", "1000", "0", "0", "100", "0"};
    std::vector<std::string> args = base;
    args.push_back("Bk#2#");
    ASSERT_EQ(parse(args), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 256);
    EXPECT_EQ(parsed.note.bend.bend_count, 3);
    EXPECT_DOUBLE_EQ(parsed.note.bend.bend_curve[2], std::pow(2.0, -100 / 1200.0));

    args.push_back("AA");  // argument 13 replaces the curve, the spacing stays
    ASSERT_EQ(parse(args), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 256);
    EXPECT_EQ(parsed.note.bend.bend_curve, (std::vector<double>{1.0, 1.0}));

    args = base;
    args.push_back("");
    ASSERT_EQ(parse(args), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 256);
    EXPECT_EQ(parsed.note.bend.bend_count, 0);
    EXPECT_EQ(parsed.note.bend.bend_curve, (std::vector<double>{1.0}));
}

TEST_F(CommandLine, PitchBendFailures) {
    const std::vector<std::string> base = {"A4", "100", "", "0", "1000", "0", "0", "100", "0"};
    const std::string no_memory = "エラー:ピッチ格納用メモリの確保に失敗\n";
    // Argument 12 failing leaves no curve and the parse goes on.
    std::vector<std::string> args = base;
    args.push_back("AA#99999999999#");
    ASSERT_EQ(parse(args), 0);
    EXPECT_EQ(parsed.note.bend.bend_spacing, 256);
    EXPECT_EQ(parsed.note.bend.bend_count, 0);
    EXPECT_TRUE(parsed.note.bend.bend_curve.empty());
    EXPECT_EQ(logged_messages(), no_memory);
    // Argument 13 failing fails the parse.
    clear_logged_messages();
    args = base;
    args.insert(args.end(), {"!120", "AA#99999999999#"});
    EXPECT_EQ(parse(args), -1);
    EXPECT_EQ(logged_messages(), no_memory);
    // Invalid letters are logged and the parse succeeds.
    clear_logged_messages();
    args = base;
    args.insert(args.end(), {"!120", "A*", "ignored"});
    ASSERT_EQ(parse(args), 0);
    EXPECT_EQ(parsed.note.bend.bend_count, 1);
    EXPECT_EQ(logged_messages(), "エラー:ピッチ文字列に不正な文字\n");
}

}  // namespace
}  // namespace qern
