#include "tools/sample_inspection.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "analysis/frame_t0.h"
#include "analysis/pitch_marks.h"
#include "analysis/t0_correction.h"
#include "driver/error_log.h"
#include "wav/wav_reader.h"

namespace qern {

namespace {

constexpr int MIN_VOICED_PERIOD = 50;

// Reads one number field; an empty field is 0.
bool parse_field(const std::string& field, double& value) {
    const std::size_t first = field.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        value = 0.0;
        return true;
    }
    const std::string text = field.substr(first, field.find_last_not_of(" \t\r\n") - first + 1);
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

std::vector<std::string> split(const std::string& text, const char* separators) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find_first_of(separators, from);
        fields.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return fields;
        from = at + 1;
    }
}

// Text for an SVG document, with the five XML special characters escaped.
std::string escape_xml(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // Control characters are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') out += c;
        }
    }
    return out;
}

// printf-style appending to the document.
void add(std::string& svg, const char* format, ...) QERN_PRINTF_FORMAT(2, 3);
void add(std::string& svg, const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length > 0) svg.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
}

// Where things go on the picture.
struct Layout {
    double left = 72.0;
    double plot_width = 0.0;
    double span = 1.0;  // samples across the plot width
    double wave_top = 60.0, wave_height = 240.0;
    double strip_top = 306.0, strip_height = 34.0;
    double t0_top = 356.0, t0_height = 240.0;
    double axis_y = 612.0;
    double legend_y = 648.0;
    double height = 700.0;
    double min_hz = 1.0, max_hz = 2.0;

    double x(double position) const { return left + position * plot_width / span; }
    double wave_mid() const { return wave_top + wave_height / 2.0; }
    double t0_bottom() const { return t0_top + t0_height; }
    // Log-frequency axis of the T0 panel, the lowest frequency at the bottom.
    double y_hz(double hz) const {
        const double f = std::log(hz / min_hz) / std::log(max_hz / min_hz);
        return t0_top + t0_height * (1.0 - std::clamp(f, 0.0, 1.0));
    }
};

// A tick step (in seconds) that leaves at least 70 pixels between labels.
double time_step(double seconds, double pixels) {
    static constexpr double STEPS[] = {0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 60.0};
    for (const double step : STEPS) {
        if (step * pixels / seconds >= 70.0) return step;
    }
    return 120.0;
}

void draw_oto(std::string& svg, const Layout& at, const OtoRegions& oto, int sample_rate,
              int sample_count, const std::string& alias) {
    const double per_ms = sample_rate / 1000.0;
    const double offset = oto.offset_ms * per_ms;
    const double consonant_end = offset + oto.consonant_ms * per_ms;
    const double cutoff = oto.cutoff_ms < 0.0 ? offset - oto.cutoff_ms * per_ms
                                              : sample_count - oto.cutoff_ms * per_ms;
    const double preutterance = offset + oto.preutterance_ms * per_ms;
    const double overlap = offset + oto.overlap_ms * per_ms;
    const auto clamp_x = [&](double position) { return at.x(std::clamp(position, 0.0, at.span)); };
    const double top = at.wave_top;
    const double height = at.strip_top + at.strip_height - top;

    svg += "<g id=\"oto\">\n";
    const auto region = [&](const char* id, double from, double to, const char* fill, const char* label,
                            double label_y) {
        const double x0 = clamp_x(from);
        const double x1 = clamp_x(to);
        if (x1 <= x0) return;
        add(svg, "<rect id=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\"/>\n", id,
            x0, top, x1 - x0, height, fill);
        add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" fill=\"#555\">%s</text>\n", x0 + 3.0,
            label_y, label);
    };
    region("oto-offset", 0.0, offset, "#d9d9d9", "offset", top + 12.0);
    region("oto-consonant", offset, consonant_end, "#fbd5e2", "consonant", top + 26.0);
    region("oto-cutoff", cutoff, at.span, "#d9d9d9", "cutoff", top + 12.0);
    const double bottom = at.t0_bottom();
    const auto line = [&](const char* id, double position, const char* colour, const char* label,
                          double label_y) {
        const double x = clamp_x(position);
        add(svg, "<line id=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                 "stroke-width=\"1.5\"/>\n", id, x, top, x, bottom, colour);
        add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" fill=\"%s\">%s</text>\n", x + 3.0,
            label_y, colour, label);
    };
    line("oto-overlap", overlap, "#1a8a2e", "overlap", at.t0_top + 12.0);
    line("oto-preutterance", preutterance, "#d01c1c", "preutterance", at.t0_top + 26.0);
    if (!alias.empty()) {
        add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"13\" font-weight=\"bold\" fill=\"#a0204a\">",
            clamp_x(offset) + 3.0, top + 42.0);
        svg += escape_xml(alias) + "</text>\n";
    }
    svg += "</g>\n";
}

void draw_waveform(std::string& svg, const Layout& at, std::span<const double> samples) {
    double peak = 1.0;
    for (const double v : samples) peak = std::max(peak, std::abs(v));
    const double scale = (at.wave_height / 2.0 - 4.0) / peak;
    const double mid = at.wave_mid();
    add(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#bbb\" stroke-width=\"0.5\"/>\n",
        at.left, mid, at.left + at.plot_width, mid);
    // The analysis takes a frame whose 900 Hz low-passed signal stays
    // strictly within this level for silent.
    if (SILENCE_LEVEL < peak) {
        for (const double level : {SILENCE_LEVEL, -SILENCE_LEVEL}) {
            add(svg, "<line class=\"silence-level\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" "
                     "stroke=\"#e08a00\" stroke-width=\"0.7\" stroke-dasharray=\"3 3\"/>\n",
                at.left, mid - level * scale, at.left + at.plot_width, mid - level * scale);
        }
    }
    add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" text-anchor=\"end\" fill=\"#555\">%.0f</text>\n",
        at.left - 4.0, at.wave_top + 8.0, peak);
    add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" text-anchor=\"end\" fill=\"#555\">%.0f</text>\n",
        at.left - 4.0, at.wave_top + at.wave_height - 2.0, -peak);

    // One vertical stroke per pixel column from its lowest to its highest sample.
    svg += "<path id=\"waveform\" fill=\"none\" stroke=\"#2d4a6b\" stroke-width=\"1\" d=\"";
    const int columns = static_cast<int>(at.plot_width);
    for (int c = 0; c < columns; ++c) {
        auto from = static_cast<std::size_t>(std::floor(c * at.span / columns));
        auto to = static_cast<std::size_t>(std::floor((c + 1) * at.span / columns));
        if (from >= samples.size()) break;
        to = std::clamp(to, from + 1, samples.size());
        const auto [low, high] = std::minmax_element(samples.begin() + static_cast<std::ptrdiff_t>(from),
                                                     samples.begin() + static_cast<std::ptrdiff_t>(to));
        const double x = at.left + c + 0.5;
        const double y_high = mid - *high * scale;
        const double y_low = std::max(mid - *low * scale, y_high + 0.6);
        add(svg, "M%.1f %.1fV%.1f", x, y_high, y_low);
    }
    svg += "\"/>\n";
}

void draw_marks(std::string& svg, const Layout& at, std::span<const PitchMarkEntry> marks) {
    // Faint guides over the waveform at the voiced marks, where they lie
    // far enough apart not to hide it.
    constexpr double MIN_GUIDE_SPACING = 4.0;  // pixels
    svg += "<path id=\"mark-guides\" stroke=\"#1f6fd1\" stroke-opacity=\"0.22\" stroke-width=\"0.7\" d=\"";
    for (const PitchMarkEntry& m : marks) {
        if (m.period >= MIN_VOICED_PERIOD && m.period * at.plot_width / at.span >= MIN_GUIDE_SPACING) {
            add(svg, "M%.2f %.1fV%.1f", at.x(m.position), at.wave_top, at.wave_top + at.wave_height);
        }
    }
    svg += "\"/>\n<g id=\"pitch-marks\" stroke-width=\"0.8\">\n";
    for (const PitchMarkEntry& m : marks) {
        const bool voiced = m.period >= MIN_VOICED_PERIOD;
        const double x = at.x(m.position);
        const double y0 = voiced ? at.strip_top : at.strip_top + at.strip_height * 0.55;
        add(svg, "<line class=\"mark %s\" data-position=\"%d\" data-period=\"%d\" x1=\"%.2f\" y1=\"%.1f\" "
                 "x2=\"%.2f\" y2=\"%.1f\" stroke=\"%s\"/>\n",
            voiced ? "voiced" : "unvoiced", static_cast<int>(m.position), static_cast<int>(m.period), x, y0,
            x, at.strip_top + at.strip_height, voiced ? "#1f6fd1" : "#999");
    }
    svg += "</g>\n";
}

void draw_t0(std::string& svg, const Layout& at, const SampleInspection& in) {
    const double rate = in.sample_rate;
    // Grid at every C (and the A of 440 Hz octaves) within the range.
    for (int note = 0; note < 128; ++note) {
        if (note % 12 != 0 && note % 12 != 9) continue;
        const double hz = 440.0 * std::pow(2.0, (note - 69) / 12.0);
        if (hz < at.min_hz || hz > at.max_hz) continue;
        const double y = at.y_hz(hz);
        const bool is_c = note % 12 == 0;
        add(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"0.6\"/>\n",
            at.left, y, at.left + at.plot_width, y, is_c ? "#ccc" : "#eee");
        add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" text-anchor=\"end\" fill=\"#666\">%s%d %.0f Hz</text>\n",
            at.left - 4.0, y + 3.5, is_c ? "C" : "A", note / 12 - 1, hz);
    }
    const double unvoiced_y = at.t0_bottom() - 5.0;

    svg += "<g id=\"t0-track\">\n";
    for (std::size_t i = 0; i < in.frame_periods.size(); ++i) {
        const int t0 = in.frame_periods[i];
        const int raw = i < in.raw_frame_periods.size() ? in.raw_frame_periods[i] : t0;
        const double x = at.x(static_cast<double>(i) * FRAME_HOP);
        if (raw != t0 && raw != UNVOICED_T0) {
            add(svg, "<circle class=\"frame corrected\" data-frame=\"%d\" data-raw=\"%d\" cx=\"%.2f\" "
                     "cy=\"%.1f\" r=\"3.2\" fill=\"none\" stroke=\"#e8730c\" stroke-width=\"1.2\"/>\n",
                static_cast<int>(i), raw, x, at.y_hz(rate / raw));
        }
        if (t0 == UNVOICED_T0) {
            add(svg, "<rect class=\"frame unvoiced\" data-frame=\"%d\" x=\"%.2f\" y=\"%.1f\" width=\"2\" "
                     "height=\"4\" fill=\"#aaa\"/>\n",
                static_cast<int>(i), x - 1.0, unvoiced_y);
        } else {
            add(svg, "<circle class=\"frame voiced\" data-frame=\"%d\" data-period=\"%d\" cx=\"%.2f\" "
                     "cy=\"%.1f\" r=\"2.2\" fill=\"#1f6fd1\"/>\n",
                static_cast<int>(i), t0, x, at.y_hz(rate / t0));
        }
    }
    svg += "</g>\n";
    // The period at every voiced mark, as a line broken at unvoiced marks.
    svg += "<path id=\"mark-periods\" fill=\"none\" stroke=\"#2a9d3a\" stroke-width=\"1\" d=\"";
    bool drawing = false;
    for (const PitchMarkEntry& m : in.marks) {
        if (m.period < MIN_VOICED_PERIOD) {
            drawing = false;
            continue;
        }
        add(svg, "%c%.2f %.1f", drawing ? 'L' : 'M', at.x(m.position), at.y_hz(rate / m.period));
        drawing = true;
    }
    svg += "\"/>\n";
}

void draw_time_axis(std::string& svg, const Layout& at, int sample_rate) {
    const double seconds = at.span / sample_rate;
    const double step = time_step(seconds, at.plot_width);
    add(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\"/>\n", at.left,
        at.axis_y - 8.0, at.left + at.plot_width, at.axis_y - 8.0);
    for (int k = 0; k * step <= seconds + 1e-9; ++k) {
        const double x = at.x(k * step * sample_rate);
        add(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\"/>\n", x,
            at.axis_y - 8.0, x, at.axis_y - 3.0);
        add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" text-anchor=\"middle\" fill=\"#444\">%g s</text>\n",
            x, at.axis_y + 8.0, k * step);
    }
}

// The marked spans: findings as red bands across the waveform and the mark
// strip, their labels staggered in four rows; further oto entries as thin
// bars near the foot of the waveform panel.
void draw_spans(std::string& svg, const Layout& at, std::span<const PictureSpan> spans, int sample_rate) {
    if (spans.empty()) return;
    const double per_ms = sample_rate / 1000.0;
    int finding_row = 0;
    int entry_row = 0;
    svg += "<g id=\"spans\">\n";
    for (const PictureSpan& s : spans) {
        const double x0 = at.x(std::clamp(s.from_ms * per_ms, 0.0, at.span));
        const double x1 = std::max(at.x(std::clamp(s.to_ms * per_ms, 0.0, at.span)), x0 + 3.0);
        add(svg, "<g class=\"%s\" data-from-ms=\"%.1f\" data-to-ms=\"%.1f\">", s.finding ? "finding" : "oto-entry",
            s.from_ms, s.to_ms);
        if (s.finding) {
            const double label_y = at.wave_top + 58.0 + 13.0 * (finding_row++ % 4);
            add(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#e3262b\" "
                     "fill-opacity=\"0.16\" stroke=\"#e3262b\" stroke-width=\"1\"/>",
                x0, at.wave_top, x1 - x0, at.strip_top + at.strip_height - at.wave_top);
            add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" font-weight=\"bold\" fill=\"#b3121b\">",
                x0 + 3.0, label_y);
        } else {
            const double y = at.wave_top + at.wave_height - 8.0 - 14.0 * (entry_row++ % 3);
            add(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"3\" fill=\"#a0204a\" "
                     "fill-opacity=\"0.6\"/>", x0, y, x1 - x0);
            add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"9\" fill=\"#a0204a\">", x0 + 2.0, y - 2.0);
        }
        svg += escape_xml(s.label) + "</text></g>\n";
    }
    svg += "</g>\n";
}

void draw_legend(std::string& svg, const Layout& at, bool with_oto) {
    double x = at.left;
    const double y = at.legend_y;
    const auto label = [&](const char* text, double width) {
        add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" fill=\"#333\">%s</text>\n", x + 14.0, y + 4.0, text);
        x += width;
    };
    add(svg, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.6\" fill=\"#1f6fd1\"/>\n", x + 5.0, y);
    label("voiced frame T0", 120.0);
    add(svg, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.2\" fill=\"none\" stroke=\"#e8730c\" stroke-width=\"1.2\"/>\n",
        x + 5.0, y);
    label("T0 before correction (changed)", 210.0);
    add(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"2\" height=\"6\" fill=\"#aaa\"/>\n", x + 4.0, y - 3.0);
    label("unvoiced frame", 120.0);
    add(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2a9d3a\" stroke-width=\"1.5\"/>\n",
        x, y, x + 10.0, y);
    label("period at the marks", 150.0);
    add(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#1f6fd1\" stroke-width=\"1.5\"/>\n",
        x + 5.0, y - 6.0, x + 5.0, y + 6.0);
    label("voiced mark", 100.0);
    add(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#999\" stroke-width=\"1.5\"/>\n",
        x + 5.0, y, x + 5.0, y + 6.0);
    label("unvoiced mark (every 49)", 170.0);
    add(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e08a00\" stroke-dasharray=\"3 3\"/>\n",
        x, y, x + 10.0, y);
    label("silence level (±163)", 150.0);
    if (with_oto) {
        add(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"10\" height=\"8\" fill=\"#fbd5e2\"/>\n", x, y - 4.0);
        label("oto consonant", 110.0);
    }
}

}  // namespace

bool parse_oto_regions(const std::string& text, OtoRegions& regions, std::string& alias) {
    alias.clear();
    std::vector<std::string> fields;
    const std::size_t equals = text.find('=');
    if (equals != std::string::npos) {
        fields = split(text.substr(equals + 1), ",");
        alias = fields.front();
        fields.erase(fields.begin());
    } else {
        for (std::string& f : split(text, ", \t")) {
            if (!f.empty()) fields.push_back(std::move(f));
        }
    }
    if (fields.empty() || fields.size() > 5) return false;
    double values[5] = {0.0, 0.0, 0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!parse_field(fields[i], values[i])) return false;
    }
    regions = OtoRegions{values[0], values[1], values[2], values[3], values[4]};
    return true;
}

int inspect_sample(const std::string& path, SampleInspection& inspection) {
    ResampleJob job;
    if (read_wav_file(path, job) != 0) return -1;
    const int count = job.sample_count;
    inspection.sample_rate = job.sample_rate;
    inspection.samples.assign(job.samples.data(), job.samples.data() + count);

    // The steps of the .pmk creation, keeping the track before correction.
    std::vector<std::int32_t> frame_periods(static_cast<std::size_t>(count / FRAME_HOP + 2));
    T0CandidateTable candidates;
    const int frames = estimate_raw_frame_t0(job.samples.span(), count, job.sample_rate,
                                             frame_periods, candidates);
    if (frames == 0) {
        log_error("%s基本周期の計算に失敗\n", ERROR_PREFIX);
        return -1;
    }
    const std::span<std::int32_t> track(frame_periods.data(), static_cast<std::size_t>(frames));
    inspection.raw_frame_periods.assign(track.begin(), track.end());
    correct_t0_track(track, candidates);
    inspection.frame_periods.assign(track.begin(), track.end());

    const std::size_t capacity = static_cast<std::size_t>(mark_capacity_for(count));
    std::vector<std::int32_t> periods(capacity);
    std::vector<std::int32_t> positions(capacity);
    periods[0] = UNVOICED_T0;
    positions[0] = 0;
    const int last = place_pitch_marks(job, track, PitchMarkArrays{periods, positions});
    if (last == 0) {
        log_error("%s音声パラメータの抽出に失敗\n", ERROR_PREFIX);
        return -1;
    }
    inspection.marks.clear();
    std::int64_t voiced_sum = 0;
    int voiced_count = 0;
    for (int i = 1; i <= last; ++i) {
        inspection.marks.push_back(PitchMarkEntry{positions[static_cast<std::size_t>(i)],
                                                  periods[static_cast<std::size_t>(i)]});
        if (periods[static_cast<std::size_t>(i)] >= MIN_VOICED_PERIOD) {
            voiced_sum += periods[static_cast<std::size_t>(i)];
            ++voiced_count;
        }
    }
    inspection.mean_period = voiced_count == 0 ? 0.0 : static_cast<double>(voiced_sum) / voiced_count;
    return 0;
}

std::string render_inspection_svg(const SampleInspection& in, const InspectionPicture& picture) {
    Layout at;
    const double width = std::max(picture.width, 400);
    at.plot_width = std::floor(width - at.left - 16.0);
    const int count = static_cast<int>(in.samples.size());
    double span = std::max(count, 1);
    if (!in.marks.empty()) span = std::max(span, in.marks.back().position + 1.0);
    at.span = span;
    const double rate = std::max(in.sample_rate, 1);
    at.min_hz = rate / T0_MAX_LAG;
    at.max_hz = rate / T0_MIN_LAG;

    int voiced_frames = 0;
    int changed_frames = 0;
    for (std::size_t i = 0; i < in.frame_periods.size(); ++i) {
        if (in.frame_periods[i] != UNVOICED_T0) ++voiced_frames;
        if (i < in.raw_frame_periods.size() && in.raw_frame_periods[i] != in.frame_periods[i]) ++changed_frames;
    }
    int voiced_marks = 0;
    for (const PitchMarkEntry& m : in.marks) voiced_marks += m.period >= MIN_VOICED_PERIOD ? 1 : 0;

    std::string svg;
    svg.reserve(1 << 20);
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    add(svg, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
             "font-family=\"'Segoe UI', Meiryo, 'Yu Gothic', 'Hiragino Sans', 'Noto Sans CJK JP', sans-serif\">\n", width, at.height, width, at.height);
    svg += "<title>" + escape_xml(picture.title) + "</title>\n";
    add(svg, "<rect width=\"%.0f\" height=\"%.0f\" fill=\"#fff\"/>\n", width, at.height);
    svg += "<text x=\"12\" y=\"22\" font-size=\"15\" font-weight=\"bold\" fill=\"#222\">" +
           escape_xml(picture.title) + "</text>\n";
    const double seconds = count / rate;
    const double mean_hz = in.mean_period > 0.0 ? rate / in.mean_period : 0.0;
    add(svg, "<text x=\"12\" y=\"42\" font-size=\"12\" fill=\"#444\">%d Hz, %.3f s, %d samples; %d frames "
             "(%d voiced, %d changed by the track correction); %d pitch marks (%d voiced); mean period %.1f "
             "samples (%.1f Hz)</text>\n",
        in.sample_rate, seconds, count, static_cast<int>(in.frame_periods.size()), voiced_frames,
        changed_frames, static_cast<int>(in.marks.size()), voiced_marks, in.mean_period, mean_hz);

    if (picture.oto) draw_oto(svg, at, *picture.oto, in.sample_rate, count, picture.alias);
    draw_waveform(svg, at, in.samples);
    draw_marks(svg, at, in.marks);
    add(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"#999\"/>\n",
        at.left, at.t0_top, at.plot_width, at.t0_height);
    draw_t0(svg, at, in);
    draw_time_axis(svg, at, in.sample_rate);
    draw_spans(svg, at, picture.spans, in.sample_rate);
    draw_legend(svg, at, picture.oto.has_value());
    add(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" fill=\"#555\" transform=\"rotate(-90 %.1f %.1f)\" "
             "text-anchor=\"middle\">T0 (log frequency)</text>\n",
        14.0, at.t0_top + at.t0_height / 2.0, 14.0, at.t0_top + at.t0_height / 2.0);
    svg += "</svg>\n";
    return svg;
}

}  // namespace qern
