#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/error_log.h"
#include "driver/pitch_bend.h"

namespace qern {
namespace {

const std::string INVALID_CHARACTER = "エラー:ピッチ文字列に不正な文字\n";
const std::string NO_MEMORY = "エラー:ピッチ格納用メモリの確保に失敗\n";

// The period factor of an offset in cents.
double factor(int cents) { return std::pow(2.0, cents / -1200.0); }

struct BendCase {
    const char* text;
    std::vector<int> cents;  // the points, before the final 1.0
    int invalid_characters;
};

TEST(PitchBend, DecodesPairsAndRuns) {
    const std::vector<BendCase> cases = {
        {"", {}, 0},
        {"AA", {0}, 0},
        {"Bk", {100}, 0},
        {"//", {-1}, 0},
        {"gA", {-2048}, 0},
        {"f/", {2047}, 0},
        {"AB#3#AC", {1, 1, 1, 1, 2}, 0},
        {"#2#AB", {0, 0, 1}, 0},
        {"AB#0#CD", {1, 131}, 0},
        {"ABC", {1, 128}, 1},         // odd length: C and the end of the string
        {"A*", {0}, 1},
        {"A#3#", {0, -576}, 2},       // "#" at the second place of a pair is no run
        {"AB#12", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 0},  // unclosed run
        {"AB##CD", {1, 131}, 0},       // a run without digits adds nothing
        {"+/9A", {62 * 64 + 63 - 4096, 61 * 64 - 4096}, 0},
    };
    for (const auto& c : cases) {
        clear_logged_messages();
        PitchBend bend;
        ASSERT_EQ(decode_pitch_bend(c.text, bend), 0) << c.text;
        ASSERT_EQ(bend.bend_count, static_cast<int>(c.cents.size())) << c.text;
        ASSERT_EQ(bend.bend_curve.size(), c.cents.size() + 1) << c.text;
        for (std::size_t k = 0; k < c.cents.size(); ++k)
            EXPECT_DOUBLE_EQ(bend.bend_curve[k], factor(c.cents[k])) << c.text << " point " << k;
        EXPECT_EQ(bend.bend_curve.back(), 1.0) << c.text;
        std::string expected_log;
        for (int i = 0; i < c.invalid_characters; ++i) expected_log += INVALID_CHARACTER;
        EXPECT_EQ(logged_messages(), expected_log) << c.text;
    }
}

TEST(PitchBend, FactorsFollowTheCents) {
    PitchBend bend;
    ASSERT_EQ(decode_pitch_bend("BkgAAA", bend), 0);
    EXPECT_NEAR(bend.bend_curve[0], 0.9438743126816935, 1e-15);  // +100 cents: a shorter period
    EXPECT_NEAR(bend.bend_curve[1], 3.2640579399537826, 1e-15);  // -2048 cents
    EXPECT_EQ(bend.bend_curve[2], 1.0);
}

TEST(PitchBend, PairValuesAreTwelveBitTwosComplement) {
    clear_logged_messages();
    EXPECT_EQ(decode_bend_pair("AA"), 0);
    EXPECT_EQ(decode_bend_pair("f/"), 2047);
    EXPECT_EQ(decode_bend_pair("gA"), -2048);
    EXPECT_EQ(decode_bend_pair("//"), -1);
    EXPECT_EQ(decode_bend_pair("3#"), 55 * 64 - 4096);
    EXPECT_EQ(logged_messages(), INVALID_CHARACTER);
}

TEST(PitchBend, CountsBeyondTheLimitFailWithoutACurve) {
    for (const char* text : {"AA#4194304#",                   // one point more than the limit
                             "AA#2097152#AA#2097152#",         // two runs adding up beyond it
                             "#99999999999999999999999999#",  // beyond any integer
                             "AB#2147483647#AB#2147483647#AB"}) {
        clear_logged_messages();
        PitchBend bend;
        bend.bend_count = 7;
        bend.bend_curve = {1.0, 1.0};
        EXPECT_EQ(decode_pitch_bend(text, bend), -1) << text;
        EXPECT_EQ(logged_messages(), NO_MEMORY) << text;
        EXPECT_EQ(bend.bend_count, 0) << text;
        EXPECT_TRUE(bend.bend_curve.empty()) << text;
    }
}

TEST(PitchBend, LongRunsWithinTheLimitAreExpanded) {
    PitchBend bend;
    ASSERT_EQ(decode_pitch_bend("Bk#99999#AA", bend), 0);
    ASSERT_EQ(bend.bend_count, 100001);
    EXPECT_DOUBLE_EQ(bend.bend_curve[99999], factor(100));
    EXPECT_EQ(bend.bend_curve[100000], 1.0);
    EXPECT_EQ(bend.bend_curve[100001], 1.0);
}

}  // namespace
}  // namespace qern
