#include "driver/command_line.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "base/error_log.h"
#include "base/failure_summary.h"
#include "base/numbers.h"
#include "driver/pitch_bend.h"
#include "base/text_encoding.h"
#include "wav/wav_reader.h"

namespace qern {

namespace {

// The sharp and flat signs: the two bytes of code page 932, the editor's
// encoding, and elsewhere also UTF-8, the usual command-line encoding there
// (a host may pass the editor's bytes unchanged).
#ifdef _WIN32
constexpr std::string_view SHARP_SIGNS[] = {"\x81\xF2"};
constexpr std::string_view FLAT_SIGNS[] = {"\x81\xF3"};
#else
constexpr std::string_view SHARP_SIGNS[] = {"\x81\xF2", "♯"};
constexpr std::string_view FLAT_SIGNS[] = {"\x81\xF3", "♭"};
#endif

// The length of the sign among `signs` that `rest` starts with, or 0.
template <std::size_t N>
std::size_t sign_length(std::string_view rest, const std::string_view (&signs)[N]) {
    for (const std::string_view sign : signs) {
        if (rest.starts_with(sign)) return sign.size();
    }
    return 0;
}

// Pitch-bend points per beat.
constexpr double BEND_POINTS_PER_BEAT = 96.0;
// Output samples per point of an old-form pitch-bend string.
constexpr int OLD_FORM_BEND_SPACING = 256;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The argument `number`, or nullptr when the command line ends before it.
const char* argument(int argc, char** argv, int number) {
    return number < argc ? argv[number] : nullptr;
}

// Milliseconds at the input's rate as samples, truncated.
int milliseconds_to_samples(const char* text, int sample_rate) {
    return truncate_to_int(read_leading_real(text) * sample_rate / 1000.0);
}

void clamp(int& value, int low, int high) {
    if (value > high) value = high;
    if (value < low) value = low;
}

}  // namespace

FlagValues parse_flags(const char* flags) {
    FlagValues values;
    for (std::size_t i = std::strlen(flags); i-- > 0;) {
        const char* value = flags + i + 1;
        switch (flags[i]) {
            case 'g':
                values.flag_g = read_leading_int(value);
                clamp(values.flag_g, -100, 100);
                break;
            case 'H':
                values.flag_H = read_leading_int(value);
                break;
            case 'P':
                values.flag_P = read_leading_int(value);
                clamp(values.flag_P, 0, 100);
                break;
            case 'R':
                values.flag_R = 1;
                break;
            case 't':
                values.t = read_leading_int(value);
                break;
            default:
                break;
        }
    }
    return values;
}

int note_name_to_period(const char* name, int sample_rate, int t, double& period) {
    long long n = 0;  // semitones above 55 Hz
    if (is_digit(name[0])) {
        n = static_cast<long long>(read_leading_int(name)) - 33;
    } else {
        static constexpr int SEMITONES[] = {9, 11, 0, 2, 4, 5, 7};  // A to G
        if (name[0] < 'A' || name[0] > 'G') return -1;
        long long s = SEMITONES[name[0] - 'A'];
        const std::string_view rest(name + 1);
        std::size_t search = 1;
        if (rest.starts_with('#')) {
            s += 1, search = 2;
        } else if (rest.starts_with('b')) {
            s -= 1, search = 2;
        } else if (const std::size_t sharp = sign_length(rest, SHARP_SIGNS)) {
            s += 1, search = 1 + sharp;
            print_progress(TEXT_SHARP_SIGN_READ);
        } else if (const std::size_t flat = sign_length(rest, FLAT_SIGNS)) {
            s -= 1, search = 1 + flat;
        }
        const char* p = name + search;
        while (*p != '\0' && !is_digit(*p)) ++p;
        if (*p == '\0') return -1;
        n = s + 12LL * read_leading_int(p) - 21;
    }
    const double exponent = static_cast<double>(t + 10 * n) / 120.0;
    const double result = sample_rate / (55.0 * std::pow(2.0, exponent));
    if (!std::isfinite(result) || result < 1.0) return -1;
    period = result;
    return 0;
}

int read_pitch_bend_arguments(const char* tempo_or_bend, const char* curve, int sample_rate,
                              PitchBend& bend) {
    bend = PitchBend{};
    bool usable_spacing = true;
    if (tempo_or_bend && tempo_or_bend[0] == '!') {
        // One point per 1/96 beat. A tempo whose spacing is not a count of
        // samples from 1 to INT_MAX (0, negative, not a number, absurdly fast
        // or slow) gives no curve.
        const double tempo = read_leading_real(tempo_or_bend + 1);
        const double spacing = (sample_rate * 60.0) / (tempo * BEND_POINTS_PER_BEAT);
        usable_spacing = tempo > 0.0 && spacing >= 1.0 && spacing < 2147483648.0;
        bend.bend_spacing = usable_spacing ? truncate_to_int(spacing) : 0;
    } else if (tempo_or_bend) {
        decode_pitch_bend(tempo_or_bend, bend);  // a failure leaves no curve
        bend.bend_spacing = OLD_FORM_BEND_SPACING;
    }
    if (curve && decode_pitch_bend(curve, bend) != 0) {
        note_failure("pitch bend of more than %d points (or no memory for it)", MAX_BEND_POINTS);
        return -1;
    }
    if (!usable_spacing) {
        bend.bend_count = 0;
        bend.bend_curve.clear();
    }
    return 0;
}

int parse_arguments(int argc, char** argv, RunArguments& arguments, DecodedInput& input, InputReading reading) {
    if (argc < 5) {
        log_error(MSG_TOO_FEW_ARGUMENTS, ERROR_PREFIX);
        note_failure("too few arguments (%d; input, output, note and velocity are needed)", argc - 1);
        return -1;
    }
    arguments.input_path = argv[1];
    const int read = reading == InputReading::whole ? read_wav_file(arguments.input_path, input)
                                                    : open_wav_file(arguments.input_path, input);
    if (read != 0) return -1;
    arguments.output_path = argv[2];

    const FlagValues flags = parse_flags(argc > 5 ? argv[5] : "");
    arguments.flag_R = flags.flag_R;
    NoteSettings& note = arguments.note;
    note.flag_g = flags.flag_g;
    note.flag_H = flags.flag_H;
    note.flag_P = flags.flag_P;
    const int rate = input.sample_rate;
    if (note_name_to_period(argv[3], rate, flags.t, note.target_period) != 0) {
        log_error(MSG_INVALID_NOTE_NAME, ERROR_PREFIX, argument_to_utf8(argv[3]).c_str());
        note_failure("invalid note name \"%s\"", argument_to_utf8(argv[3]).c_str());
        return -1;
    }
    const double velocity_factor = std::pow(2.0, 1.0 - read_leading_real(argv[4]) / 100.0);

    const char* left_blank = argument(argc, argv, 6);
    note.left_blank = left_blank ? milliseconds_to_samples(left_blank, rate) : 0;
    if (note.left_blank < 0) {
        log_error(MSG_NEGATIVE_LEFT_BLANK, ERROR_PREFIX);
        note_failure("negative left blank \"%s\" (ms)", argument_to_utf8(left_blank).c_str());
        return -1;
    }
    const char* required_length = argument(argc, argv, 7);
    note.required_length = required_length ? milliseconds_to_samples(required_length, rate) : 0;
    if (note.required_length < 0) {
        log_error(MSG_NEGATIVE_LENGTH, ERROR_PREFIX);
        note_failure("negative length \"%s\" (ms)", argument_to_utf8(required_length).c_str());
        return -1;
    }
    const char* consonant = argument(argc, argv, 8);
    note.consonant_length = consonant ? milliseconds_to_samples(consonant, rate) : 0;
    note.consonant_out_length = truncate_to_int(note.consonant_length * velocity_factor);
    if (note.consonant_out_length > note.required_length) {
        note.consonant_length = truncate_to_int(note.required_length / velocity_factor);
        note.consonant_out_length = note.required_length;
    }
    const char* right_blank = argument(argc, argv, 9);
    note.right_blank = right_blank ? milliseconds_to_samples(right_blank, rate) : 0;
    if (note.right_blank < 0) {
        // A negative right blank is the length of the used region from the left blank.
        note.right_blank = truncate_to_int(static_cast<double>(input.samples.count()) +
                                           note.right_blank - note.left_blank);
    }
    const char* volume = argument(argc, argv, 10);
    note.volume = volume ? read_leading_int(volume) : 100;
    clamp(note.volume, 0, 200);
    const char* modulation = argument(argc, argv, 11);
    note.modulation = modulation ? read_leading_int(modulation) : 0;

    return read_pitch_bend_arguments(argument(argc, argv, 12), argument(argc, argv, 13), rate,
                                     note.bend);
}

}  // namespace qern
