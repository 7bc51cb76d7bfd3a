// qern-inspect: draws what QERN's analysis makes of one voice sample.
//
//   qern-inspect SAMPLE.wav [OTO] [-o FILE.svg] [--width PIXELS]
//
// OTO is the sample's line of oto.ini ("SAMPLE.wav=alias,offset,consonant,
// cutoff,preutterance,overlap") or just the numbers from the offset on, as
// one argument or several. The picture (a self-contained SVG file that a
// browser shows) holds the waveform, the oto regions, the pitch marks and
// the T0 track; it goes to FILE.svg, by default the sample's path with .svg
// in place of .wav. No cache file is read or written.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "analysis/frame_t0.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "tools/sample_inspection.h"
#include "tools/utf8_main.h"

namespace {

using namespace qern;

constexpr const char* USAGE =
    "usage: qern-inspect SAMPLE.wav [OTO] [-o FILE.svg] [--width PIXELS]\n"
    "Draws the waveform, the pitch marks and the T0 track of SAMPLE.wav as QERN's\n"
    "analysis finds them, and the oto regions when OTO is given: the sample's\n"
    "oto.ini line (name.wav=alias,offset,consonant,cutoff,preutterance,overlap)\n"
    "or the numbers from the offset on.\n";

struct InspectCommand {
    std::string input;
    std::string output;
    std::string oto_text;
    int width = 1600;
};

bool parse_command(int argc, char** argv, InspectCommand& command) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-o") {
            if (i + 1 >= argc) return false;
            command.output = argv[++i];
        } else if (arg == "--width") {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            const long w = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || w < 400 || w > 20000) return false;
            command.width = static_cast<int>(w);
        } else if (command.input.empty()) {
            command.input = arg;
        } else {
            // The oto numbers, as one argument or several (a negative cutoff
            // looks like an option but is a number).
            if (!command.oto_text.empty()) command.oto_text += ',';
            command.oto_text += arg;
        }
    }
    if (command.input.empty()) return false;
    if (command.output.empty()) {
        const std::size_t dot = command.input.find_last_of('.');
        const std::size_t slash = command.input.find_last_of("/\\");
        const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
        command.output = (has_extension ? command.input.substr(0, dot) : command.input) + ".svg";
    }
    return true;
}

std::string file_name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int run(const InspectCommand& command) {
    InspectionPicture picture;
    picture.title = file_name_of(command.input);
    picture.width = command.width;
    if (!command.oto_text.empty()) {
        OtoRegions regions;
        if (!parse_oto_regions(command.oto_text, regions, picture.alias)) {
            print_error_text(("qern-inspect: cannot read the oto regions \"" + command.oto_text + "\"\n").c_str());
            return 2;
        }
        picture.oto = regions;
    }
    SampleInspection inspection;
    int analysed = 0;
    std::string messages;
    {
        // Keeps the analysis's progress lines off the console.
        const MessageCapture capture;
        analysed = inspect_sample(command.input, inspection);
        messages = capture.messages();
    }
    print_error_text(messages.c_str());
    if (analysed != 0) return 1;
    const std::string svg = render_inspection_svg(inspection, picture);

    FileHandle out = open_file(command.output, "wb");
    const bool written = out && std::fwrite(svg.data(), 1, svg.size(), out.get()) == svg.size() &&
                         std::fclose(out.release()) == 0;
    if (!written) {
        print_error_text(("qern-inspect: cannot write " + command.output + "\n").c_str());
        return 1;
    }
    int voiced = 0;
    for (const PitchMarkEntry& m : inspection.marks) voiced += m.period >= MIN_VOICED_PERIOD ? 1 : 0;
    print_formatted("%s: %d pitch marks (%d voiced), mean period %.1f samples\n", command.output.c_str(),
                    static_cast<int>(inspection.marks.size()), voiced, inspection.mean_period);
    return 0;
}

}  // namespace

int run_tool(int argc, char** argv) {
    InspectCommand command;
    if (!parse_command(argc, argv, command)) {
        print_error_text(USAGE);
        return 2;
    }
    return run(command);
}
