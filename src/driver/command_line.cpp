#include "driver/command_line.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "driver/error_log.h"
#include "driver/failure_summary.h"
#include "driver/numbers.h"
#include "driver/pitch_bend.h"
#include "driver/text_encoding.h"
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

int parse_flags(const char* flags, ResampleJob& job) {
    job.flag_g = 0;
    job.flag_H = 0;
    job.flag_P = 86;
    job.flag_R = 0;
    int t = 0;
    for (std::size_t i = std::strlen(flags); i-- > 0;) {
        const char* value = flags + i + 1;
        switch (flags[i]) {
            case 'g':
                job.flag_g = read_leading_int(value);
                clamp(job.flag_g, -100, 100);
                break;
            case 'H':
                job.flag_H = read_leading_int(value);
                break;
            case 'P':
                job.flag_P = read_leading_int(value);
                clamp(job.flag_P, 0, 100);
                break;
            case 'R':
                job.flag_R = 1;
                break;
            case 't':
                t = read_leading_int(value);
                break;
            default:
                break;
        }
    }
    return t;
}

int note_name_to_period(const char* name, ResampleJob& job, int t) {
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
            print_progress("ここには来てます\n");
        } else if (const std::size_t flat = sign_length(rest, FLAT_SIGNS)) {
            s -= 1, search = 1 + flat;
        }
        const char* p = name + search;
        while (*p != '\0' && !is_digit(*p)) ++p;
        if (*p == '\0') return -1;
        n = s + 12LL * read_leading_int(p) - 21;
    }
    const double exponent = static_cast<double>(t + 10 * n) / 120.0;
    const double period = job.sample_rate / (55.0 * std::pow(2.0, exponent));
    if (!std::isfinite(period) || period < 1.0) return -1;
    job.target_period = period;
    return 0;
}

int parse_arguments(int argc, char** argv, ResampleJob& job) {
    if (argc < 5) {
        log_error("%s引数が足りません\n", ERROR_PREFIX);
        note_failure("too few arguments (%d; input, output, note and velocity are needed)", argc - 1);
        return -1;
    }
    job.input_path = argv[1];
    if (read_wav_file(job.input_path, job) != 0) return -1;
    job.output_path = argv[2];

    const int t = parse_flags(argc > 5 ? argv[5] : "", job);
    if (note_name_to_period(argv[3], job, t) != 0) {
        log_error("%s不正な音階名%s\n", ERROR_PREFIX, argument_to_utf8(argv[3]).c_str());
        note_failure("invalid note name \"%s\"", argument_to_utf8(argv[3]).c_str());
        return -1;
    }
    const double velocity_factor = std::pow(2.0, 1.0 - read_leading_real(argv[4]) / 100.0);

    const int rate = job.sample_rate;
    const char* left_blank = argument(argc, argv, 6);
    job.left_blank = left_blank ? milliseconds_to_samples(left_blank, rate) : 0;
    if (job.left_blank < 0) {
        log_error("%s左ブランク値が負です。設定を確認してください\n", ERROR_PREFIX);
        note_failure("negative left blank \"%s\" (ms)", argument_to_utf8(left_blank).c_str());
        return -1;
    }
    const char* required_length = argument(argc, argv, 7);
    job.required_length = required_length ? milliseconds_to_samples(required_length, rate) : 0;
    if (job.required_length < 0) {
        log_error("%s指定された長さが負です。設定を確認してください\n", ERROR_PREFIX);
        note_failure("negative length \"%s\" (ms)", argument_to_utf8(required_length).c_str());
        return -1;
    }
    const char* consonant = argument(argc, argv, 8);
    job.consonant_length = consonant ? milliseconds_to_samples(consonant, rate) : 0;
    job.consonant_out_length = truncate_to_int(job.consonant_length * velocity_factor);
    if (job.consonant_out_length > job.required_length) {
        job.consonant_length = truncate_to_int(job.required_length / velocity_factor);
        job.consonant_out_length = job.required_length;
    }
    const char* right_blank = argument(argc, argv, 9);
    job.right_blank = right_blank ? milliseconds_to_samples(right_blank, rate) : 0;
    if (job.right_blank < 0) {
        // A negative right blank is the length of the used region from the left blank.
        job.right_blank = truncate_to_int(static_cast<double>(job.sample_count) +
                                          job.right_blank - job.left_blank);
    }
    const char* volume = argument(argc, argv, 10);
    job.volume = volume ? read_leading_int(volume) : 100;
    clamp(job.volume, 0, 200);
    const char* modulation = argument(argc, argv, 11);
    job.modulation = modulation ? read_leading_int(modulation) : 0;

    bool usable_spacing = true;
    job.bend_spacing = 0;
    job.bend_count = 0;
    job.bend_curve.clear();
    const char* tempo_or_bend = argument(argc, argv, 12);
    if (tempo_or_bend && tempo_or_bend[0] == '!') {
        // One point per 1/96 beat. A tempo whose spacing is not a count of
        // samples from 1 to INT_MAX (0, negative, not a number, absurdly fast
        // or slow) gives no curve.
        const double tempo = read_leading_real(tempo_or_bend + 1);
        const double spacing = (rate * 60.0) / (tempo * BEND_POINTS_PER_BEAT);
        usable_spacing = tempo > 0.0 && spacing >= 1.0 && spacing < 2147483648.0;
        job.bend_spacing = usable_spacing ? truncate_to_int(spacing) : 0;
    } else if (tempo_or_bend) {
        decode_pitch_bend(tempo_or_bend, job);  // a failure leaves no curve
        job.bend_spacing = OLD_FORM_BEND_SPACING;
    }
    const char* bend = argument(argc, argv, 13);
    if (bend && decode_pitch_bend(bend, job) != 0) {
        note_failure("pitch bend of more than %d points (or no memory for it)", MAX_BEND_POINTS);
        return -1;
    }
    if (!usable_spacing) {
        job.bend_count = 0;
        job.bend_curve.clear();
    }
    return 0;
}

}  // namespace qern
