// A look inside the analysis of one voice sample: the T0 track before and
// after its correction and the pitch marks, as the .pmk creation computes
// them, drawn with the waveform and the oto.ini regions as an SVG picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/resample_job.h"

namespace qern {

// The regions a voicebank's oto.ini gives a sample, in milliseconds:
// offset from the start; consonant (the fixed part), preutterance and
// overlap measured from the offset; cutoff measured back from the end of
// the file, or, when negative, its magnitude forward from the offset.
struct OtoRegions {
    double offset_ms = 0.0;
    double consonant_ms = 0.0;
    double cutoff_ms = 0.0;
    double preutterance_ms = 0.0;
    double overlap_ms = 0.0;
};

// Reads an oto.ini line "name.wav=alias,offset,consonant,cutoff,
// preutterance,overlap", or just the numbers (from the offset on) separated
// by commas or spaces; missing trailing numbers are 0. Sets `alias` (empty
// without one). Returns false for text that holds something else.
bool parse_oto_regions(const std::string& text, OtoRegions& regions, std::string& alias);

// The analysis of one sample.
struct SampleInspection {
    int sample_rate = 0;
    std::vector<double> samples;                    // as read from the file
    std::vector<std::int32_t> raw_frame_periods;    // T0 per frame before correction
    std::vector<std::int32_t> frame_periods;        // the corrected T0 track
    std::vector<PitchMarkEntry> marks;              // the entries of the .pmk, in order
    double mean_period = 0.0;                       // as the .pmk holds it
};

// Reads the WAV file at `path` (UTF-8) and analyses it as the .pmk creation
// does, without writing any file. Returns 0, or -1 after logging.
int inspect_sample(const std::string& path, SampleInspection& inspection);

// A stretch of the sample marked on the picture, in milliseconds from the
// start (from_ms == to_ms marks a point): a finding of a voicebank check,
// drawn as a red band with its label over the waveform and the marks, or the
// used region of a further oto entry, drawn as a thin bar with its alias.
struct PictureSpan {
    double from_ms = 0.0;
    double to_ms = 0.0;
    std::string label;
    bool finding = true;
};

struct InspectionPicture {
    std::string title;                  // shown at the top (the file name)
    std::optional<OtoRegions> oto;      // drawn when present
    std::string alias;                  // the oto alias, shown when not empty
    int width = 1600;                   // pixels
    std::vector<PictureSpan> spans;     // drawn in this order
};

// The picture of an inspection as a self-contained SVG document: the
// waveform with the oto regions, the pitch marks (each a <line> of class
// "mark" with data-position and data-period attributes), the T0 track
// (voiced frames, frames the correction changed, unvoiced frames) with the
// period at every voiced mark, a time axis and a legend; the spans (each a
// <g> of class "finding" or "oto-entry" with data-from-ms and data-to-ms).
std::string render_inspection_svg(const SampleInspection& inspection,
                                  const InspectionPicture& picture);

}  // namespace qern
