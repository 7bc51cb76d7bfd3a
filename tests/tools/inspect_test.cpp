// qern-inspect: reading oto regions, the analysis it shows, and its picture.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "base/error_log.h"
#include "driver/run.h"
#include "tools/sample_inspection.h"
#include "support/files.h"
#include "support/wav_bytes.h"
#include "support/signals.h"

namespace qern {
namespace {

// The five regions of an oto line, in its order.
std::vector<double> fields(const OtoRegions& r) {
    return {r.offset_ms, r.consonant_ms, r.cutoff_ms, r.preutterance_ms, r.overlap_ms};
}

TEST(OtoRegions, ReadsOtoLinesAndBareNumbers) {
    OtoRegions r;
    std::string alias;
    ASSERT_TRUE(parse_oto_regions("_あ.wav=- あ,12.5,80,-300,60,20", r, alias));
    EXPECT_EQ(alias, "- あ");
    EXPECT_EQ(fields(r), (std::vector<double>{12.5, 80.0, -300.0, 60.0, 20.0}));

    // Empty fields and missing trailing ones are 0; an alias may be empty.
    ASSERT_TRUE(parse_oto_regions("ka.wav=,100,,50", r, alias));
    EXPECT_EQ(alias, "");
    EXPECT_EQ(fields(r), (std::vector<double>{100.0, 0.0, 50.0, 0.0, 0.0}));

    // Bare numbers, by commas or spaces.
    ASSERT_TRUE(parse_oto_regions("5 6 -7 8 9\r\n", r, alias));
    EXPECT_EQ(fields(r), (std::vector<double>{5.0, 6.0, -7.0, 8.0, 9.0}));
    ASSERT_TRUE(parse_oto_regions("1,2,3", r, alias));
    EXPECT_EQ(fields(r), (std::vector<double>{1.0, 2.0, 3.0, 0.0, 0.0}));

    for (const char* wrong : {"", "a.wav=x", "1,2,3,4,5,6", "1,two,3", "a.wav=x,1,2,3,4,5,6", "nan"}) {
        EXPECT_FALSE(parse_oto_regions(wrong, r, alias)) << wrong;
    }
}

// The entries of a .pmk file.
std::vector<PitchMarkEntry> read_pmk_entries(const std::string& path, double& mean) {
    FileHandle f = open_file(path, "rb");
    AnalysisResult analysis;
    EXPECT_TRUE(f);
    if (!f) return {};
    EXPECT_EQ(read_pitch_mark_file(f.get(), 1 << 30, analysis), 0);  // no position is out of reach
    mean = analysis.mean_period;
    return analysis.marks;
}

class Inspection : public ::testing::Test {
protected:
    void SetUp() override {
        input = dir.file("voice.wav");
        test::write_file(input, test::wav16(test::voice_signal(40000, 44100, 170.0, 260.0, 7), 44100));
        // The cache an analysis-only run makes.
        std::vector<std::string> args = {dir.file("qern"), input, "nul", "C4", "100"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        const MessageCapture quiet;
        run_resampler(static_cast<int>(args.size()), argv.data());
        pmk_entries = read_pmk_entries(dir.file("voice_wav.pmk"), pmk_mean);
    }
    test::TempDir dir;
    std::string input;
    std::vector<PitchMarkEntry> pmk_entries;
    double pmk_mean = 0.0;
};

TEST_F(Inspection, ShowsTheAnalysisTheCacheHolds) {
    SampleInspection in;
    {
        const MessageCapture quiet;
        ASSERT_EQ(inspect_sample(input, in), 0);
    }
    ASSERT_GT(pmk_entries.size(), 100u);
    ASSERT_EQ(in.marks.size(), pmk_entries.size());
    for (std::size_t i = 0; i < in.marks.size(); ++i) {
        EXPECT_EQ(in.marks[i].position, pmk_entries[i].position) << i;
        EXPECT_EQ(in.marks[i].period, pmk_entries[i].period) << i;
    }
    EXPECT_EQ(in.mean_period, pmk_mean);
    EXPECT_EQ(in.sample_rate, 44100);
    ASSERT_EQ(in.samples.size(), 40000u);
    EXPECT_EQ(in.samples[30000], test::to_int16(test::voice_signal(40000, 44100, 170.0, 260.0, 7))[30000]);
    // One T0 per frame: ceil(40000 / 256) + 1, before and after the correction.
    EXPECT_EQ(in.frame_periods.size(), 158u);
    EXPECT_EQ(in.raw_frame_periods.size(), 158u);
    // The breathy start is unvoiced, the tone voiced; no file was written.
    EXPECT_EQ(in.frame_periods[10], UNVOICED_T0);
    EXPECT_NEAR(in.frame_periods[120], 44100.0 / (170.0 + 90.0 * 120 * 256 / 40000), 3.0);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"voice.wav", "voice_wav.pmk"}));

    SampleInspection missing;
    const MessageCapture capture;
    EXPECT_EQ(inspect_sample(dir.file("none.wav"), missing), -1);
    EXPECT_EQ(capture.messages(), "エラー:ファイル" + dir.file("none.wav") + "を開けません\n");
}

TEST_F(Inspection, PictureHoldsEveryMarkAndTheOtoRegions) {
    SampleInspection in;
    {
        const MessageCapture quiet;
        ASSERT_EQ(inspect_sample(input, in), 0);
    }
    InspectionPicture picture;
    picture.title = "<voice & \"more\">";
    picture.alias = "- a";
    picture.oto = OtoRegions{100.0, 50.0, -500.0, 70.0, 30.0};
    picture.width = 1088;  // a plot 1000 pixels wide
    const std::string svg = render_inspection_svg(in, picture);

    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_NE(svg.find("<title>&lt;voice &amp; &quot;more&quot;&gt;</title>"), std::string::npos);

    const std::regex mark_pattern("<line class=\"mark (voiced|unvoiced)\" data-position=\"(-?[0-9]+)\" "
                                  "data-period=\"([0-9]+)\"");
    std::vector<PitchMarkEntry> drawn;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), mark_pattern); it != std::sregex_iterator(); ++it) {
        const PitchMarkEntry e{std::stoi((*it)[2]), std::stoi((*it)[3])};
        EXPECT_EQ((*it)[1] == "voiced", e.period >= 50);
        drawn.push_back(e);
    }
    ASSERT_EQ(drawn.size(), pmk_entries.size());
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        EXPECT_EQ(drawn[i].position, pmk_entries[i].position) << i;
        EXPECT_EQ(drawn[i].period, pmk_entries[i].period) << i;
    }

    // The regions in samples: offset 4410, consonant to 6615, cutoff
    // (negative: from the offset) at 26460; preutterance at 7497, overlap
    // at 5733. The plot spans the samples and the marks past them.
    const double span = std::max(40000.0, pmk_entries.back().position + 1.0);
    const auto x_of = [&](double position) { return 72.0 + position * 1000.0 / span; };
    const auto attribute = [&](const std::string& id, const std::string& name) {
        const std::size_t at = svg.find("id=\"" + id + "\"");
        EXPECT_NE(at, std::string::npos) << id;
        const std::size_t value = svg.find(name + "=\"", at) + name.size() + 2;
        return std::stod(svg.substr(value, svg.find('"', value) - value));
    };
    EXPECT_NEAR(attribute("oto-offset", "width"), x_of(4410) - 72.0, 0.06);
    EXPECT_NEAR(attribute("oto-consonant", "x"), x_of(4410), 0.06);
    EXPECT_NEAR(attribute("oto-consonant", "width"), x_of(6615) - x_of(4410), 0.1);
    EXPECT_NEAR(attribute("oto-cutoff", "x"), x_of(26460), 0.06);
    EXPECT_NEAR(attribute("oto-preutterance", "x1"), x_of(7497), 0.06);
    EXPECT_NEAR(attribute("oto-overlap", "x1"), x_of(5733), 0.06);
    EXPECT_NE(svg.find(">- a</text>"), std::string::npos);

    // Without oto regions nothing of them is drawn.
    picture.oto.reset();
    EXPECT_EQ(render_inspection_svg(in, picture).find("oto-"), std::string::npos);
}

}  // namespace
}  // namespace qern
