#include "tools/voicebank_report.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>

#include "analysis/frame_t0.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "dsp/kernels.h"
#include "tools/joined_threads.h"
#include "tools/voicebank_prep.h"
#include "wav/wav_reader.h"
#include "tools/utf8_paths.h"

namespace qern {

namespace {

namespace fs = std::filesystem;

// One key per file whatever way its path was written.
std::string path_key(const std::string& path) { return generic_utf8_of(path_of(path).lexically_normal()); }

std::string formatted(const char* format, ...) QERN_PRINTF_FORMAT(1, 2);
std::string formatted(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return length > 0 ? std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1))
                      : std::string();
}

// How the samples of a file are stored.
struct SampleFormat {
    int sample_rate = 0;
    int channel_count = 0;
    int bits_per_sample = 0;
    bool is_float = false;
};

bool read_sample_format(const std::string& path, SampleFormat& format) {
    const MessageCapture capture;  // a header the reader refuses is reported by the analysis
    const FileHandle file = open_file(path, "rb");
    if (!file) return false;
    WavFormat wav;
    int sample_count = 0;
    if (read_wav_headers(file.get(), wav, sample_count) != 0) return false;
    format = SampleFormat{wav.sample_rate, wav.channel_count, wav.bytes_per_sample() * 8,
                          wav.encoding == SampleEncoding::IEEE_FLOAT};
    return true;
}

std::string format_name(const SampleFormat& f) {
    return formatted("%d Hz, %s, %d-bit %s", f.sample_rate, f.channel_count == 1 ? "mono" : "stereo",
                     f.bits_per_sample, f.is_float ? "float" : "PCM");
}

// The largest magnitude the samples of the format reach as the reader
// gives them: the integer scale of PCM, the 16-bit scale of float.
double full_scale_of(const SampleFormat& f) {
    if (f.is_float || f.bits_per_sample <= 0) return 32768.0;
    return std::ldexp(1.0, f.bits_per_sample - 1);
}

// Where an entry's parts lie in the sample, in milliseconds.
struct EntryParts {
    double offset = 0.0;
    double consonant_end = 0.0;
    double cutoff_end = 0.0;
};

EntryParts parts_of(const OtoRegions& r, double length_ms) {
    EntryParts p;
    p.offset = r.offset_ms;
    p.consonant_end = r.offset_ms + r.consonant_ms;
    p.cutoff_end = r.cutoff_ms < 0.0 ? r.offset_ms - r.cutoff_ms : length_ms - r.cutoff_ms;
    return p;
}

double median_of(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    return values[middle];
}

// What the analysis gives per frame, with the level the voicing is decided on.
struct FrameFacts {
    double rate = 0.0;
    std::vector<int> period;      // corrected track
    std::vector<int> raw_period;  // before correction
    std::vector<double> level_db; // 900 Hz low-passed RMS over the frame's window
    double vowel_db = 0.0;        // the loud end of the voiced frames
    double vowel_period = 0.0;    // median period of the frames within 10 dB of it
    bool any_voiced = false;

    int count() const { return static_cast<int>(period.size()); }
    double ms(int frame) const { return frame * FRAME_HOP * 1000.0 / rate; }
    bool voiced(int frame) const { return period[static_cast<std::size_t>(frame)] != UNVOICED_T0; }
    bool quiet_voiced(int frame) const {
        return voiced(frame) && level_db[static_cast<std::size_t>(frame)] < vowel_db - QUIET_VOICED_DB;
    }
    bool off_vowel_pitch(double t0) const {
        return std::max(t0, vowel_period) >= HUM_PITCH_DIFFERENCE * std::min(t0, vowel_period);
    }
    // The frames whose centres lie in [from_ms, to_ms).
    std::pair<int, int> frames_in(double from_ms, double to_ms) const {
        const int first = std::max(0, static_cast<int>(std::ceil(from_ms * rate / 1000.0 / FRAME_HOP)));
        const int end = std::min(count(), static_cast<int>(std::ceil(to_ms * rate / 1000.0 / FRAME_HOP)));
        return {first, std::max(first, end)};
    }
};

FrameFacts frame_facts_of(const SampleInspection& in) {
    FrameFacts f;
    f.rate = in.sample_rate;
    f.period.assign(in.frame_periods.begin(), in.frame_periods.end());
    f.raw_period.assign(in.raw_frame_periods.begin(), in.raw_frame_periods.end());
    f.raw_period.resize(f.period.size(), UNVOICED_T0);
    const int count = static_cast<int>(in.samples.size());
    SampleBuffer low = SampleBuffer::allocate(count);
    if (!low.empty()) {
        std::copy(in.samples.begin(), in.samples.end(), low.data());
        fir_lowpass(low.span(), count, low.span(), 900.0 / in.sample_rate);
    }
    std::vector<double> voiced_levels;
    for (int i = 0; i < f.count(); ++i) {
        const int from = std::max(0, i * FRAME_HOP - AUTOCORRELATION_FRAME / 2);
        const int to = std::min(count, i * FRAME_HOP + AUTOCORRELATION_FRAME / 2);
        double sum = 0.0;
        for (int k = from; k < to && !low.empty(); ++k) sum += low.data()[k] * low.data()[k];
        const double rms = to > from ? std::sqrt(sum / (to - from)) : 0.0;
        f.level_db.push_back(20.0 * std::log10(rms + 1e-9));
        if (f.voiced(i)) voiced_levels.push_back(f.level_db.back());
    }
    f.any_voiced = !voiced_levels.empty();
    if (f.any_voiced) {
        std::sort(voiced_levels.begin(), voiced_levels.end());
        const auto at = static_cast<std::size_t>(VOWEL_LEVEL_PERCENTILE * static_cast<double>(voiced_levels.size() - 1));
        f.vowel_db = voiced_levels[at];
        std::vector<double> loud_periods;
        for (int i = 0; i < f.count(); ++i) {
            if (f.voiced(i) && f.level_db[static_cast<std::size_t>(i)] >= f.vowel_db - 10.0) {
                loud_periods.push_back(f.period[static_cast<std::size_t>(i)]);
            }
        }
        f.vowel_period = median_of(loud_periods);
    }
    return f;
}

// A run of quiet voiced frames with steady periods.
struct HumRun {
    int first = 0;
    int end = 0;
    double level_db = 0.0;  // the loudest frame of the run
    double period = 0.0;    // median
};

std::vector<HumRun> find_hum(const FrameFacts& f) {
    std::vector<HumRun> runs;
    int first = 0;
    const auto steady = [&](int end, int next) {
        double low_db = f.level_db[static_cast<std::size_t>(next)];
        double high_db = low_db;
        int low = f.period[static_cast<std::size_t>(next)];
        int high = low;
        for (int i = first; i < end; ++i) {
            low_db = std::min(low_db, f.level_db[static_cast<std::size_t>(i)]);
            high_db = std::max(high_db, f.level_db[static_cast<std::size_t>(i)]);
            low = std::min(low, f.period[static_cast<std::size_t>(i)]);
            high = std::max(high, f.period[static_cast<std::size_t>(i)]);
        }
        return high_db - low_db <= HUM_LEVEL_RANGE_DB && high <= HUM_PERIOD_SPREAD * low;
    };
    const auto close_run = [&](int end) {
        if (end - first < HUM_MIN_FRAMES) return;
        HumRun run{first, end, -1000.0, 0.0};
        std::vector<double> periods;
        for (int i = first; i < end; ++i) {
            run.level_db = std::max(run.level_db, f.level_db[static_cast<std::size_t>(i)]);
            periods.push_back(f.period[static_cast<std::size_t>(i)]);
        }
        run.period = median_of(periods);
        if (f.off_vowel_pitch(run.period)) runs.push_back(run);
    };
    bool in_run = false;
    for (int i = 0; i <= f.count(); ++i) {
        const bool quiet = i < f.count() && f.quiet_voiced(i);
        if (in_run && quiet && steady(i, i)) continue;
        if (in_run) close_run(i);
        in_run = quiet;
        first = i;
    }
    return runs;
}

// Everything learnt from one sample.
struct SampleResult {
    bool analysed = false;
    SampleFormat format;
    std::vector<Finding> findings;
    // Per entry of the sample (in its order): the median pitch of the
    // stretched part in Hz (0 without voiced frames) and its place.
    std::vector<double> entry_hz;
    std::vector<std::pair<double, double>> entry_stretch_ms;
};

Finding finding(const ReportSample& s, const std::string& alias, Severity severity, std::string what,
                double from_ms, double to_ms, std::string reason) {
    return Finding{s.name, alias, std::move(what), from_ms, to_ms, std::move(reason), severity};
}

// The checks of one entry's regions against the sample's length. Returns
// false when the regions leave nothing to analyse.
bool check_regions(const ReportSample& s, const OtoEntry& e, double length_ms, std::vector<Finding>& out) {
    const EntryParts p = parts_of(e.regions, length_ms);
    const auto add = [&](Severity severity, const char* what, double from, double to, std::string reason) {
        out.push_back(finding(s, e.alias, severity, what, from, to, std::move(reason)));
    };
    if (p.offset < 0.0) {
        add(Severity::FAILS, "negative offset: every note from it fails", 0.0, 0.0,
            formatted("offset %.1f ms", p.offset));
        return false;
    }
    if (p.offset >= length_ms) {
        add(Severity::FAILS, "offset past the end of the file: every note from it fails", length_ms, length_ms,
            formatted("offset %.1f ms, file %.1f ms", p.offset, length_ms));
        return false;
    }
    if (p.consonant_end > length_ms) {
        add(Severity::FAILS, "fixed part runs past the end: notes are silent after it", p.offset, length_ms,
            formatted("consonant ends at %.1f ms, file %.1f ms", p.consonant_end, length_ms));
        return false;
    }
    // A breath or a consonant meant to be used whole marks its cutoff at
    // the end of the fixed part: notes end in silence after it, by design.
    constexpr double SAME_PLACE_MS = 1.0;
    if (std::abs(p.cutoff_end - p.consonant_end) < SAME_PLACE_MS) {
        add(Severity::WORTH_A_LOOK, "nothing to stretch: notes longer than the fixed part end in silence",
            p.consonant_end, p.consonant_end,
            formatted("consonant and cutoff both end at %.1f ms", p.consonant_end));
        return false;
    }
    if (p.cutoff_end < p.consonant_end) {
        add(Severity::FAILS, "cutoff before the end of the consonant: notes are silent after the consonant",
            p.cutoff_end, p.consonant_end,
            formatted("consonant ends at %.1f ms, cutoff at %.1f ms", p.consonant_end, p.cutoff_end));
        return false;
    }
    if (e.regions.consonant_ms < 0.0) {
        add(Severity::WORTH_A_LOOK, "negative consonant: the vowel starts before the offset",
            p.consonant_end, p.offset, formatted("consonant %.1f ms", e.regions.consonant_ms));
    }
    if (p.cutoff_end > length_ms) {
        const double share = (p.cutoff_end - length_ms) / (p.cutoff_end - std::max(p.consonant_end, p.offset));
        add(Severity::SOUNDS_WRONG, "cutoff past the end of the file: the end of every note is silent", length_ms,
            p.cutoff_end,
            formatted("region ends %.1f ms past the end (%.0f %% of the stretched part)", p.cutoff_end - length_ms,
                      100.0 * share));
    }
    const double preutterance = p.offset + e.regions.preutterance_ms;
    if (e.regions.preutterance_ms < 0.0 || preutterance > p.cutoff_end) {
        add(Severity::WORTH_A_LOOK, "preutterance outside the used region", preutterance, preutterance,
            formatted("preutterance at %.1f ms, region %.1f to %.1f ms", preutterance, p.offset, p.cutoff_end));
    }
    return true;
}

// The checks of one entry against the analysis.
void check_entry(const ReportSample& s, const OtoEntry& e, const FrameFacts& f,
                 const std::vector<HumRun>& hum_runs, double length_ms, SampleResult& result) {
    double hz = 0.0;
    std::pair<double, double> stretch{0.0, 0.0};
    if (check_regions(s, e, length_ms, result.findings) && f.any_voiced) {
        const EntryParts p = parts_of(e.regions, length_ms);
        const auto add = [&](Severity severity, const char* what, int first, int last, std::string reason) {
            result.findings.push_back(finding(s, e.alias, severity, what, f.ms(first), f.ms(last), std::move(reason)));
        };

        // The fixed part: frames of hum stretches in it.
        const auto [fixed_first, fixed_end] = f.frames_in(p.offset, std::max(p.offset, p.consonant_end));
        int hum = 0;
        int hum_first = -1;
        int hum_last = -1;
        double hum_db = -1000.0;
        std::vector<double> hum_periods;
        for (const HumRun& run : hum_runs) {
            for (int i = std::max(run.first, fixed_first); i < std::min(run.end, fixed_end); ++i) {
                ++hum;
                if (hum_first < 0) hum_first = i;
                hum_last = i;
                hum_db = std::max(hum_db, f.level_db[static_cast<std::size_t>(i)]);
                hum_periods.push_back(f.period[static_cast<std::size_t>(i)]);
            }
        }
        if (hum >= FIXED_HUM_MIN_FRAMES) {
            const double period = median_of(hum_periods);
            add(Severity::SOUNDS_WRONG, "hum in the fixed part: the consonant is sung at its pitch", hum_first,
                hum_last,
                formatted("%d voiced frames %.0f dB below the vowel, period %.0f samples (%.0f Hz)", hum,
                          f.vowel_db - hum_db, period, f.rate / period));
        }

        // The stretched part.
        const auto [first, end] = f.frames_in(std::max(p.offset, p.consonant_end), std::min(p.cutoff_end, length_ms));
        stretch = {f.ms(first), f.ms(std::max(first, end - 1))};
        const int frames = end - first;
        int unvoiced = 0;
        int unvoiced_first = -1;
        int unvoiced_last = -1;
        int longest = 0;
        int run = 0;
        int jumps = 0;
        int jump_at = -1;
        int jump_from = 0;
        int jump_to = 0;
        int corrected = 0;
        int corrected_first = -1;
        int corrected_last = -1;
        std::vector<double> periods;
        for (int i = first; i < end; ++i) {
            const auto at = static_cast<std::size_t>(i);
            if (!f.voiced(i)) {
                ++unvoiced;
                if (unvoiced_first < 0) unvoiced_first = i;
                unvoiced_last = i;
                longest = std::max(longest, ++run);
            } else {
                run = 0;
                periods.push_back(f.period[at]);
                if (i > first && f.voiced(i - 1)) {
                    const double a = f.period[at - 1];
                    const double b = f.period[at];
                    if (std::max(a, b) >= OCTAVE_JUMP_RATIO * std::min(a, b)) {
                        if (jumps++ == 0) {
                            jump_at = i;
                            jump_from = f.period[at - 1];
                            jump_to = f.period[at];
                        }
                    }
                }
            }
            if (f.raw_period[at] != f.period[at] && f.raw_period[at] != UNVOICED_T0) {
                ++corrected;
                if (corrected_first < 0) corrected_first = i;
                corrected_last = i;
            }
        }
        if (unvoiced >= UNVOICED_MIN_FRAMES) {
            const double share = static_cast<double>(unvoiced) / frames;
            add(share > UNVOICED_SHARE_WRONG || longest >= UNVOICED_RUN_WRONG ? Severity::SOUNDS_WRONG
                                                                               : Severity::WORTH_A_LOOK,
                "unvoiced frames in the stretched part: stretched as noise", unvoiced_first, unvoiced_last,
                formatted("%d of %d frames unvoiced, longest run %.0f ms", unvoiced, frames,
                          longest * FRAME_HOP * 1000.0 / f.rate));
        }
        if (jumps > 0) {
            add(Severity::SOUNDS_WRONG, "octave jump in the stretched part: a crack on long notes", jump_at - 1,
                jump_at,
                formatted("period %d to %d samples (%.0f to %.0f Hz), %d jump%s", jump_from, jump_to,
                          f.rate / jump_from, f.rate / jump_to, jumps, jumps == 1 ? "" : "s"));
        }
        if (corrected >= CORRECTED_MIN_FRAMES) {
            add(Severity::WORTH_A_LOOK, "frames the track correction changed in the stretched part", corrected_first,
                corrected_last, formatted("%d of %d frames changed", corrected, frames));
        }
        if (!periods.empty()) hz = f.rate / median_of(periods);
    }
    result.entry_hz.push_back(hz);
    result.entry_stretch_ms.push_back(stretch);
}

SampleResult check_sample(const ReportSample& s) {
    SampleResult result;
    std::error_code error;
    if (!fs::is_regular_file(path_of(s.path), error)) {
        for (const OtoEntry& e : s.entries) {
            result.findings.push_back(finding(s, e.alias, Severity::FAILS,
                                              "the sample file is missing: every note from it fails", 0.0, 0.0,
                                              formatted("oto.ini line %d names \"%s\"", e.line_number,
                                                        e.sample_name.c_str())));
        }
        return result;
    }
    SampleInspection in;
    std::string messages;
    {
        const MessageCapture capture;
        const int status = inspect_sample(s.path, in);
        messages = capture.messages();
        if (status != 0) {
            std::replace(messages.begin(), messages.end(), '\n', ' ');
            result.findings.push_back(finding(s, std::string(), Severity::FAILS,
                                              "the analysis fails: every note from it fails", 0.0, 0.0, messages));
            return result;
        }
    }
    result.analysed = true;
    read_sample_format(s.path, result.format);
    const int count = static_cast<int>(in.samples.size());
    const double length_ms = count * 1000.0 / in.sample_rate;
    const auto add = [&](Severity severity, const char* what, double from, double to, std::string reason) {
        result.findings.push_back(finding(s, std::string(), severity, what, from, to, std::move(reason)));
    };

    // Clipping: runs of samples at full scale.
    const double full_scale = full_scale_of(result.format);
    int runs = 0;
    int clip_first = -1;
    int clip_last = -1;
    int longest = 0;
    for (int i = 0; i < count;) {
        int j = i;
        while (j < count && std::abs(in.samples[static_cast<std::size_t>(j)]) >= CLIP_LEVEL * (full_scale - 1.0)) ++j;
        if (j - i >= CLIP_MIN_RUN) {
            ++runs;
            if (clip_first < 0) clip_first = i;
            clip_last = j;
            longest = std::max(longest, j - i);
        }
        i = std::max(j, i + 1);
    }
    if (runs > 0) {
        add(Severity::SOUNDS_WRONG, "clipping", clip_first * 1000.0 / in.sample_rate,
            clip_last * 1000.0 / in.sample_rate,
            formatted("%d run%s at full scale, longest %d samples", runs, runs == 1 ? "" : "s", longest));
    }

    // DC offset and a peak below the silence level.
    double sum = 0.0;
    double peak = 0.0;
    for (const double v : in.samples) {
        sum += v;
        peak = std::max(peak, std::abs(v));
    }
    const double mean = count > 0 ? sum / count : 0.0;
    if (std::abs(mean) >= DC_OFFSET_LIMIT * full_scale) {
        add(Severity::SOUNDS_WRONG, "DC offset", 0.0, length_ms,
            formatted("mean %+.0f (%.2f %% of full scale)", mean, 100.0 * mean / full_scale));
    }
    const FrameFacts f = frame_facts_of(in);
    if (peak < SILENCE_LEVEL) {
        add(Severity::SOUNDS_WRONG, "too quiet to be voiced: the whole sample counts as unvoiced", 0.0, length_ms,
            formatted("peak %.0f, below the silence level %.0f", peak, SILENCE_LEVEL));
    } else if (!f.any_voiced) {
        add(Severity::WORTH_A_LOOK, "no voiced frame: right for a breath, wrong for a sung sample", 0.0, length_ms,
            formatted("%d frames, all unvoiced; peak %.0f", f.count(), peak));
    }

    // Hum: steady periodicity far below the vowel, one finding per stretch
    // (runs less than HUM_MIN_FRAMES apart taken together).
    const std::vector<HumRun> hum_runs = find_hum(f);
    for (std::size_t k = 0; k < hum_runs.size();) {
        std::size_t last = k;
        while (last + 1 < hum_runs.size() && hum_runs[last + 1].first - hum_runs[last].end < HUM_MIN_FRAMES) ++last;
        const double from = f.ms(hum_runs[k].first);
        const double to = f.ms(hum_runs[last].end - 1);
        double level_db = -1000.0;
        std::vector<double> periods;
        int frames = 0;
        for (std::size_t r = k; r <= last; ++r) {
            level_db = std::max(level_db, hum_runs[r].level_db);
            periods.push_back(hum_runs[r].period);
            frames += hum_runs[r].end - hum_runs[r].first;
        }
        bool used = false;
        for (const OtoEntry& e : s.entries) {
            const EntryParts p = parts_of(e.regions, length_ms);
            used = used || (p.offset < to && p.cutoff_end > from);
        }
        const double period = median_of(periods);
        add(used ? Severity::SOUNDS_WRONG : Severity::WORTH_A_LOOK,
            used ? "hum or noise analysed as voice, inside a used region" : "hum or noise analysed as voice", from,
            to,
            formatted("%.0f dB below the vowel, period %.0f samples (%.0f Hz), %d frames", f.vowel_db - level_db,
                      period, f.rate / period, frames));
        k = last + 1;
    }

    for (const OtoEntry& e : s.entries) check_entry(s, e, f, hum_runs, length_ms, result);
    return result;
}

bool same_format(const SampleFormat& a, const SampleFormat& b, int what) {
    if (what == 0) return a.sample_rate == b.sample_rate;
    if (what == 1) return a.channel_count == b.channel_count;
    return a.bits_per_sample == b.bits_per_sample && a.is_float == b.is_float;
}

std::string folder_of(const ReportSample& s) { return generic_utf8_of(path_of(s.path).parent_path()); }

// Samples whose rate, channel count or bit depth differ from the most
// common of their folder (a voicebank, or one pitch of it).
void check_formats(const VoicebankReport& report, const std::vector<SampleResult>& results,
                   std::vector<Finding>& out) {
    const auto in_folder = [&](std::size_t i, std::size_t k) {
        return results[i].analysed && folder_of(report.samples[i]) == folder_of(report.samples[k]);
    };
    for (int what = 0; what < 3; ++what) {
        for (std::size_t i = 0; i < results.size(); ++i) {
            const SampleResult& r = results[i];
            if (!r.analysed) continue;
            // The most common value of the folder, the first in sample order on a tie.
            std::size_t best = i;
            int best_count = 0;
            for (std::size_t k = 0; k < results.size(); ++k) {
                if (!in_folder(k, i)) continue;
                int n = 0;
                for (std::size_t m = 0; m < results.size(); ++m) {
                    n += in_folder(m, i) && same_format(results[m].format, results[k].format, what) ? 1 : 0;
                }
                if (n > best_count) {
                    best = k;
                    best_count = n;
                }
            }
            const SampleFormat& common = results[best].format;
            if (same_format(r.format, common, what)) continue;
            static constexpr const char* WHAT[] = {"sample rate unlike the rest of the bank",
                                                   "channel count unlike the rest of the bank",
                                                   "bit depth unlike the rest of the bank"};
            // A different rate plays at the wrong pitch and speed in a host that
            // mixes at the bank's rate; the others only cost a conversion.
            out.push_back(Finding{report.samples[i].name, std::string(), WHAT[what], 0.0, 0.0,
                                  format_name(r.format) + "; " + std::to_string(best_count) + " samples are " +
                                      format_name(common),
                                  what == 0 ? Severity::SOUNDS_WRONG : Severity::WORTH_A_LOOK});
        }
    }
}

// Entries whose pitch lies far from the median of their oto.ini.
void check_pitches(const VoicebankReport& report, const std::vector<SampleResult>& results,
                   std::vector<Finding>& out) {
    std::map<std::string, std::vector<double>> semitones_by_folder;
    const auto semitones = [](double hz) { return 12.0 * std::log2(hz / 440.0); };
    for (std::size_t i = 0; i < results.size(); ++i) {
        for (const double hz : results[i].entry_hz) {
            if (hz > 0.0) semitones_by_folder[folder_of(report.samples[i])].push_back(semitones(hz));
        }
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        const ReportSample& s = report.samples[i];
        const std::vector<double>& all = semitones_by_folder[folder_of(s)];
        if (all.size() < 3) continue;
        const double median = median_of(all);
        for (std::size_t k = 0; k < results[i].entry_hz.size(); ++k) {
            const double hz = results[i].entry_hz[k];
            if (hz <= 0.0) continue;
            const double off = semitones(hz) - median;
            if (std::abs(off) <= MISTUNE_SEMITONES) continue;
            const bool octave = std::abs(std::abs(off) - 12.0) <= OCTAVE_ERROR_TOLERANCE;
            const double median_hz = 440.0 * std::exp2(median / 12.0);
            out.push_back(Finding{s.name, s.entries[k].alias,
                                  octave ? "an octave from the pitch of its folder (octave error)"
                                         : "pitch far from the rest of its folder (mistuned)",
                                  results[i].entry_stretch_ms[k].first, results[i].entry_stretch_ms[k].second,
                                  formatted("%.0f Hz, %+.1f semitones from the median %.0f Hz", hz, off, median_hz),
                                  octave ? Severity::SOUNDS_WRONG : Severity::WORTH_A_LOOK});
        }
    }
}

}  // namespace

const char* severity_name(Severity severity) {
    switch (severity) {
        case Severity::FAILS: return "fails";
        case Severity::SOUNDS_WRONG: return "will sound wrong";
        case Severity::WORTH_A_LOOK: return "worth a look";
    }
    return "";
}

std::vector<int> count_by_severity(const std::vector<Finding>& findings) {
    std::vector<int> counts(3, 0);
    for (const Finding& f : findings) ++counts[static_cast<std::size_t>(f.severity)];
    return counts;
}

VoicebankReport check_voicebank(const std::string& folder, int thread_count) {
    VoicebankReport report;
    report.folder = folder;
    const fs::path root = path_of(folder);
    const auto name_of = [&](const std::string& path) {
        return generic_utf8_of(path_of(path).lexically_normal().lexically_relative(root.lexically_normal()));
    };
    std::map<std::string, std::size_t> index;
    const auto sample_for = [&](const std::string& path) -> ReportSample& {
        const auto [at, added] = index.emplace(path_key(path), report.samples.size());
        if (added) report.samples.push_back(ReportSample{name_of(path), path, {}});
        return report.samples[at->second];
    };
    for (const std::string& path : find_wav_files(folder)) sample_for(path);

    std::vector<Finding> findings;
    for (const std::string& path : find_oto_files(folder)) {
        OtoFile oto;
        if (!read_oto_file(path, oto)) {
            findings.push_back(Finding{name_of(path), std::string(), "oto.ini cannot be read", 0.0, 0.0,
                                       "the file does not open", Severity::FAILS});
            continue;
        }
        report.oto_files.push_back(name_of(path) + " (" + oto_encoding_name(oto.encoding) + ")");
        for (const OtoLineProblem& p : oto.problems) {
            findings.push_back(Finding{name_of(path), std::string(),
                                       formatted("unreadable oto.ini line %d: %s", p.line_number, p.reason.c_str()),
                                       0.0, 0.0, p.text.substr(0, 80), Severity::FAILS});
        }
        for (OtoEntry& e : oto.entries) {
            ++report.entry_count;
            sample_for(e.sample_path).entries.push_back(std::move(e));
        }
    }

    // The samples, `thread_count` at a time.
    std::vector<SampleResult> results(report.samples.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < results.size(); i = next++) results[i] = check_sample(report.samples[i]);
    };
    {
        JoinedThreads pool;
        const std::size_t workers = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(thread_count, 1)), 1,
                                                             std::max<std::size_t>(results.size(), 1));
        pool.threads.reserve(workers);
        for (std::size_t t = 0; t < workers; ++t) pool.threads.emplace_back(work);
    }
    for (SampleResult& r : results) {
        for (Finding& f : r.findings) findings.push_back(std::move(f));
    }
    check_formats(report, results, findings);
    check_pitches(report, results, findings);

    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        if (a.severity != b.severity) return a.severity < b.severity;
        if (a.sample != b.sample) return a.sample < b.sample;
        return a.from_ms < b.from_ms;
    });
    report.findings = std::move(findings);
    return report;
}

std::string render_finding_picture(const VoicebankReport& report, const std::string& sample, int width) {
    const auto it = std::find_if(report.samples.begin(), report.samples.end(),
                                 [&](const ReportSample& s) { return s.name == sample; });
    if (it == report.samples.end()) return std::string();
    SampleInspection in;
    {
        const MessageCapture capture;
        if (inspect_sample(it->path, in) != 0) return std::string();
    }
    InspectionPicture picture;
    picture.title = it->name;
    picture.width = width;
    // The regions of the first entry with a finding are drawn in full.
    const OtoEntry* drawn = nullptr;
    for (const Finding& f : report.findings) {
        if (f.sample != sample || f.alias.empty() || drawn != nullptr) continue;
        for (const OtoEntry& e : it->entries) {
            if (e.alias == f.alias) {
                drawn = &e;
                break;
            }
        }
    }
    if (drawn == nullptr && !it->entries.empty()) drawn = &it->entries.front();
    if (drawn != nullptr) {
        picture.oto = drawn->regions;
        picture.alias = drawn->alias;
    }
    // The used regions of the other entries, one bar per distinct region.
    const double length_ms = static_cast<double>(in.samples.size()) * 1000.0 / in.sample_rate;
    std::vector<std::pair<PictureSpan, int>> regions;
    for (const OtoEntry& e : it->entries) {
        if (&e == drawn) continue;
        const EntryParts p = parts_of(e.regions, length_ms);
        const auto same = std::find_if(regions.begin(), regions.end(), [&](const auto& r) {
            return r.first.from_ms == p.offset && r.first.to_ms == p.cutoff_end;
        });
        if (same != regions.end()) {
            ++same->second;
        } else {
            regions.push_back({PictureSpan{p.offset, p.cutoff_end, e.alias, false}, 0});
        }
    }
    for (auto& [span, more] : regions) {
        if (more > 0) span.label += " +" + std::to_string(more);
        picture.spans.push_back(span);
    }
    for (const Finding& f : report.findings) {
        if (f.sample != sample) continue;
        picture.spans.push_back(PictureSpan{f.from_ms, f.to_ms, (f.alias.empty() ? "" : f.alias + ": ") + f.what, true});
    }
    return render_inspection_svg(in, picture);
}

}  // namespace qern
