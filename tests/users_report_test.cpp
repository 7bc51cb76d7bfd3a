// The voicebank check of qern-prep --report on generated banks: a clean bank
// of sung vowels gives no finding, and every planted fault is found at its
// place with the right severity; oto.ini files in code page 932 and UTF-8
// with a byte-order mark read the same as plain UTF-8.
#include <gtest/gtest.h>

#include "test_support.h"
#include "tools/oto_ini.h"
#include "tools/voicebank_report.h"

namespace qern {
namespace {

using test::TempDir;

constexpr double TWO_PI = 6.283185307179586;

// A sung "a" of 1300 ms: 150 ms of digital silence, 100 ms of a hiss (noise
// above the analysis band), then 1000 ms of a vowel at `hz` with a short
// fade-in and a 100 ms fade-out, and 50 ms of silence.
std::vector<double> sung_vowel(int rate, double hz, double amplitude = 8000.0) {
    const int count = rate * 13 / 10;
    std::vector<double> x(static_cast<std::size_t>(count), 0.0);
    unsigned state = 7;
    double previous = 0.0;
    double phase = 0.0;
    for (int n = 0; n < count; ++n) {
        const double ms = n * 1000.0 / rate;
        double v = 0.0;
        if (ms >= 150.0 && ms < 250.0) {
            state = state * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 3000.0;
            v = noise - previous;  // differenced: its energy lies far above 900 Hz
            previous = noise;
        } else if (ms >= 250.0 && ms < 1250.0) {
            const double envelope = std::min({1.0, (ms - 250.0) / 20.0, (1250.0 - ms) / 100.0});
            for (int h = 1; h <= 6; ++h) v += std::sin(h * phase) / h;
            v *= amplitude * envelope;
            phase = std::fmod(phase + TWO_PI * hz / rate, TWO_PI);
        }
        x[static_cast<std::size_t>(n)] = v;
    }
    return x;
}

// A folder holding three clean vowels (a, i, u at 220, 230 and 210 Hz) and
// their oto.ini, to which a test adds its faulty sample and lines.
class Bank {
public:
    Bank() {
        add_sample("a.wav", sung_vowel(44100, 220.0));
        add_sample("i.wav", sung_vowel(44100, 230.0));
        add_sample("u.wav", sung_vowel(44100, 210.0));
        oto_ = "a.wav=a,100,200,-900,150,50\ni.wav=i,100,200,-900,150,50\nu.wav=u,100,200,-900,150,50\n";
    }
    void add_sample(const std::string& name, const std::vector<double>& x, int rate = 44100) {
        test::write_file(dir_.file(name), test::wav16(x, rate));
    }
    void add_oto_line(const std::string& line) { oto_ += line + "\n"; }
    VoicebankReport check() {
        test::write_file(dir_.file("oto.ini"), oto_);
        return check_voicebank(dir_.path().string(), 2);
    }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    std::string oto_;
};

std::vector<Finding> findings_of(const VoicebankReport& report, const std::string& sample) {
    std::vector<Finding> found;
    for (const Finding& f : report.findings) {
        if (f.sample == sample) found.push_back(f);
    }
    return found;
}

// The one finding of `sample` whose text starts with `what`; fails the test
// when there is none.
Finding finding_of(const VoicebankReport& report, const std::string& sample, const std::string& what) {
    for (const Finding& f : report.findings) {
        if (f.sample == sample && f.what.rfind(what, 0) == 0) return f;
    }
    ADD_FAILURE() << "no \"" << what << "\" for " << sample;
    return Finding{};
}

std::string all_findings(const VoicebankReport& report) {
    std::string text;
    for (const Finding& f : report.findings) {
        text += f.sample + " | " + f.alias + " | " + f.what + " | " + std::to_string(f.from_ms) + " | " + f.reason +
                "\n";
    }
    return text;
}

TEST(UsersReport, CleanBankGivesNoFinding) {
    Bank bank;
    const VoicebankReport report = bank.check();
    EXPECT_EQ(report.samples.size(), 3u);
    EXPECT_EQ(report.entry_count, 3);
    EXPECT_TRUE(report.findings.empty()) << all_findings(report);
}

TEST(UsersReport, HumInTheLeadInAndConsonantIsFoundThere) {
    Bank bank;
    // A 120 Hz hum 20 dB below the vowel under the whole recording.
    std::vector<double> x = sung_vowel(44100, 220.0);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] += 900.0 * std::sin(TWO_PI * 120.0 * static_cast<double>(n) / 44100.0);
    bank.add_sample("ha.wav", x);
    bank.add_oto_line("ha.wav=ha,100,200,-900,150,50");
    const VoicebankReport report = bank.check();

    const Finding fixed = finding_of(report, "ha.wav", "hum in the fixed part");
    EXPECT_EQ(fixed.alias, "ha");
    EXPECT_EQ(fixed.severity, Severity::SOUNDS_WRONG);
    EXPECT_GE(fixed.from_ms, 100.0);
    EXPECT_LE(fixed.to_ms, 300.0);
    EXPECT_NE(fixed.reason.find("(120 Hz)"), std::string::npos) << fixed.reason;
    const Finding hum = finding_of(report, "ha.wav", "hum or noise analysed as voice");
    EXPECT_LT(hum.from_ms, 50.0);  // the lead-in carries it from the start
    EXPECT_EQ(hum.severity, Severity::SOUNDS_WRONG);
    EXPECT_EQ(findings_of(report, "a.wav").size(), 0u) << all_findings(report);
}

TEST(UsersReport, ClippingDcAndQuietnessAreFoundInTheirSamples) {
    Bank bank;
    std::vector<double> clipped = sung_vowel(44100, 220.0);
    for (std::size_t n = 600 * 441 / 10; n < 700 * 441 / 10; ++n) {
        clipped[n] = std::clamp(clipped[n] * 5.0, -32768.0, 32767.0);
    }
    bank.add_sample("clip.wav", clipped);
    std::vector<double> offset = sung_vowel(44100, 220.0);
    for (double& v : offset) v += 1000.0;
    bank.add_sample("dc.wav", offset);
    std::vector<double> quiet_recording = sung_vowel(44100, 220.0);
    for (double& v : quiet_recording) v *= 0.008;  // recorded 42 dB too low: peak 118
    bank.add_sample("quiet.wav", quiet_recording);
    const VoicebankReport report = bank.check();

    const Finding clip = finding_of(report, "clip.wav", "clipping");
    EXPECT_EQ(clip.severity, Severity::SOUNDS_WRONG);
    EXPECT_NEAR(clip.from_ms, 600.0, 10.0);
    EXPECT_NEAR(clip.to_ms, 700.0, 10.0);
    const Finding dc = finding_of(report, "dc.wav", "DC offset");
    EXPECT_NE(dc.reason.find("+1000"), std::string::npos) << dc.reason;
    const Finding quiet = finding_of(report, "quiet.wav", "too quiet to be voiced");
    EXPECT_EQ(quiet.severity, Severity::SOUNDS_WRONG);
    for (const Finding& f : findings_of(report, "clip.wav")) EXPECT_EQ(f.what, "clipping") << f.reason;
}

TEST(UsersReport, OctaveJumpInsideTheVowelIsFoundWhereItJumps) {
    Bank bank;
    // The vowel leaps from 220 to 440 Hz at 700 ms.
    std::vector<double> x = sung_vowel(44100, 220.0);
    const std::vector<double> high = sung_vowel(44100, 440.0);
    std::copy(high.begin() + 700 * 441 / 10, high.end(), x.begin() + 700 * 441 / 10);
    bank.add_sample("jump.wav", x);
    bank.add_oto_line("jump.wav=jump,100,200,-900,150,50");
    const VoicebankReport report = bank.check();

    const Finding jump = finding_of(report, "jump.wav", "octave jump");
    EXPECT_EQ(jump.severity, Severity::SOUNDS_WRONG);
    EXPECT_NEAR(jump.from_ms, 700.0, 15.0);
    EXPECT_NE(jump.reason.find(" to 100 samples"), std::string::npos) << jump.reason;
}

TEST(UsersReport, RegionsOutsideTheFileOrOutOfOrderSayWhatANoteDoes) {
    Bank bank;
    bank.add_oto_line("a.wav=past,1400,100,-300,50,20");     // offset beyond the 1300 ms
    bank.add_oto_line("a.wav=long,100,200,-1500,150,50");    // used region ends at 1600 ms
    bank.add_oto_line("a.wav=order,100,400,-300,150,50");    // cutoff at 400, consonant to 500
    bank.add_oto_line("a.wav=fixed,1200,200,-300,150,50");   // fixed part to 1400 ms
    bank.add_oto_line("missing.wav=gone,100,200,-900,150,50");
    const VoicebankReport report = bank.check();

    const auto of_alias = [&](const std::string& alias) {
        std::vector<Finding> found;
        for (const Finding& f : report.findings) {
            if (f.alias == alias) found.push_back(f);
        }
        return found;
    };
    ASSERT_EQ(of_alias("past").size(), 1u) << all_findings(report);
    EXPECT_EQ(of_alias("past")[0].severity, Severity::FAILS);
    EXPECT_NE(of_alias("past")[0].what.find("every note from it fails"), std::string::npos);
    // The region also takes in the fade-out and the silence after it.
    ASSERT_EQ(of_alias("long").size(), 2u) << all_findings(report);
    const Finding past_end = finding_of(report, "a.wav", "cutoff past the end of the file");
    EXPECT_EQ(past_end.severity, Severity::SOUNDS_WRONG);
    EXPECT_NEAR(past_end.from_ms, 1300.0, 0.1);
    EXPECT_NEAR(past_end.to_ms, 1600.0, 0.1);
    EXPECT_EQ(finding_of(report, "a.wav", "unvoiced frames in the stretched part").alias, "long");
    ASSERT_EQ(of_alias("order").size(), 1u) << all_findings(report);
    EXPECT_NE(of_alias("order")[0].what.find("silent"), std::string::npos);
    EXPECT_NEAR(of_alias("order")[0].from_ms, 400.0, 0.1);
    ASSERT_EQ(of_alias("fixed").size(), 1u) << all_findings(report);
    EXPECT_NE(of_alias("fixed")[0].what.find("silent"), std::string::npos);
    ASSERT_EQ(of_alias("gone").size(), 1u);
    EXPECT_EQ(of_alias("gone")[0].severity, Severity::FAILS);
    EXPECT_EQ(of_alias("gone")[0].sample, "missing.wav");
}

TEST(UsersReport, UnvoicedGapInTheVowelIsFoundAndABreathIsOnlyWorthALook) {
    Bank bank;
    // A 150 ms hiss breaks the vowel at 600 ms.
    std::vector<double> x = sung_vowel(44100, 220.0);
    const std::vector<double> hiss = sung_vowel(44100, 220.0);
    for (int k = 0; k < 150 * 441 / 10; ++k) {
        x[static_cast<std::size_t>(600 * 441 / 10 + k)] = hiss[static_cast<std::size_t>(150 * 441 / 10 + k % 4410)];
    }
    bank.add_sample("gap.wav", x);
    bank.add_oto_line("gap.wav=gap,100,200,-900,150,50");
    // A breath used whole: the cutoff at the end of the fixed part, by design.
    bank.add_oto_line("a.wav=breath,0,1000,-1000,900,20");
    const VoicebankReport report = bank.check();

    const Finding gap = finding_of(report, "gap.wav", "unvoiced frames in the stretched part");
    EXPECT_EQ(gap.severity, Severity::SOUNDS_WRONG);
    EXPECT_NEAR(gap.from_ms, 600.0, 30.0);
    EXPECT_NEAR(gap.to_ms, 750.0, 30.0);
    const Finding breath = finding_of(report, "a.wav", "nothing to stretch");
    EXPECT_EQ(breath.alias, "breath");
    EXPECT_EQ(breath.severity, Severity::WORTH_A_LOOK);
    EXPECT_EQ(findings_of(report, "a.wav").size(), 1u) << all_findings(report);
}

TEST(UsersReport, OtherSampleRateAndMistunedEntryAreFound) {
    Bank bank;
    bank.add_sample("e.wav", sung_vowel(48000, 220.0), 48000);
    bank.add_sample("o.wav", sung_vowel(44100, 330.0));  // a fifth above the others
    bank.add_oto_line("e.wav=e,100,200,-900,150,50");
    bank.add_oto_line("o.wav=o,100,200,-900,150,50");
    const VoicebankReport report = bank.check();

    const Finding rate = finding_of(report, "e.wav", "sample rate unlike");
    EXPECT_EQ(rate.severity, Severity::SOUNDS_WRONG);
    EXPECT_NE(rate.reason.find("48000 Hz"), std::string::npos) << rate.reason;
    const Finding tune = finding_of(report, "o.wav", "pitch far from the rest");
    EXPECT_EQ(tune.alias, "o");
    EXPECT_EQ(tune.severity, Severity::WORTH_A_LOOK);
    EXPECT_EQ(findings_of(report, "e.wav").size(), 1u) << all_findings(report);
}

TEST(UsersReport, UnreadableOtoLinesAreFindingsAndTheRestIsRead) {
    Bank bank;
    bank.add_oto_line("no equals sign here");
    bank.add_oto_line("a.wav=bad,100,x,-900");
    bank.add_oto_line("=nameless,1,2,3,4,5");
    bank.add_oto_line("a.wav=\x81\x20,1,2,3,4,5");  // neither UTF-8 nor code page 932
    const VoicebankReport report = bank.check();

    EXPECT_EQ(report.entry_count, 3);
    std::vector<int> lines;
    for (const Finding& f : findings_of(report, "oto.ini")) {
        EXPECT_EQ(f.severity, Severity::FAILS);
        lines.push_back(std::atoi(f.what.c_str() + std::string("unreadable oto.ini line ").size()));
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<int>{4, 5, 6, 7})) << all_findings(report);
}

TEST(UsersReport, OtoInCodePage932AndUtf8WithBomReadAlike) {
    // "あ.wav=あ,100,200,-900,150,50" with the name and alias in code page 932.
    const std::string cp932 = "\x82\xA0.wav=\x82\xA0,100,200,-900,150,50\r\n";
    const std::string utf8 = "\xE3\x81\x82.wav=\xE3\x81\x82,100,200,-900,150,50\r\n";
    for (const std::string& bytes : {cp932, "\xEF\xBB\xBF" + utf8, utf8}) {
        const OtoFile oto = parse_oto_text("bank/oto.ini", bytes);
        ASSERT_EQ(oto.entries.size(), 1u);
        EXPECT_TRUE(oto.problems.empty());
        EXPECT_EQ(oto.entries[0].sample_name, "\xE3\x81\x82.wav");
        EXPECT_EQ(oto.entries[0].alias, "\xE3\x81\x82");
        EXPECT_EQ(oto.entries[0].sample_path, "bank/\xE3\x81\x82.wav");
        EXPECT_DOUBLE_EQ(oto.entries[0].regions.cutoff_ms, -900.0);
    }
    EXPECT_EQ(parse_oto_text("oto.ini", cp932).encoding, OtoEncoding::CP932);
    EXPECT_EQ(parse_oto_text("oto.ini", "\xEF\xBB\xBF" + utf8).encoding, OtoEncoding::UTF8_WITH_BOM);

    // In a bank, the code page 932 name finds the sample in its subfolder.
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "sub");
    {
        // By its wide name: a narrow path would pass through the ANSI code page on Windows.
        const std::string wav = test::wav16(sung_vowel(44100, 220.0), 44100);
        std::ofstream out(dir.path() / "sub" / std::filesystem::path(u8"\u3042.wav"), std::ios::binary);
        out.write(wav.data(), static_cast<std::streamsize>(wav.size()));
    }
    test::write_file((dir.path() / "sub" / "oto.ini").string(), cp932);
    const VoicebankReport report = check_voicebank(dir.path().string(), 1);
    EXPECT_EQ(report.samples.size(), 1u);
    EXPECT_EQ(report.entry_count, 1);
    EXPECT_TRUE(report.findings.empty()) << all_findings(report);
}

}  // namespace
}  // namespace qern
