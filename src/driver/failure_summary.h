// The one line of plain English that a failed run prints on standard error
// after the copy of its log: what failed, with the file or argument
// concerned, such as
//   qern: cannot open input file "voice/a.wav"
//   qern: invalid note name "H4"
// Hosts show a resampler's standard error in their error dialogs and read it
// in whatever encoding their system uses; the log's Japanese lines are often
// garbled there, this line never is.
//
// The place that detects a failure notes it, beside its log line; callers
// that add a general log line note a general failure too, which stands only
// when nothing below them was noted. The notes go to the run's error log, or
// to the calling thread's MessageCapture (driver/error_log.h).
#pragma once

#include <string>
#include <string_view>

#if defined(__GNUC__)
#define QERN_FAILURE_FORMAT(format_index, first_arg) \
    __attribute__((format(printf, format_index, first_arg)))
#else
#define QERN_FAILURE_FORMAT(format_index, first_arg)
#endif

namespace qern {

// The noted failure of a run, in plain ASCII.
struct FailureSummary {
    std::string what;    // what failed; the first note of a run stands
    std::string reason;  // why, when a lower level said so before `what` was noted
};

// Notes what failed: a printf format of plain English with UTF-8 arguments
// (paths, arguments as text), as in
//   note_failure("cannot open input file \"%s\"", path.c_str());
// Ignored once a failure is noted.
void note_failure(const char* format, ...) QERN_FAILURE_FORMAT(1, 2);

// Notes why a step failed, for a caller that knows the file concerned to
// note what failed: "cannot read input file "a.wav"" + ": " + "no data
// chunk". The first reason stands; ignored once a failure is noted.
void note_failure_reason(const char* format, ...) QERN_FAILURE_FORMAT(1, 2);

// "qern: WHAT[: REASON]\n"; empty when no failure was noted.
std::string failure_line(const FailureSummary& summary);

// Writes the failure line of the run (or of the calling thread's capture) to
// standard error; a failed run with nothing noted says so in general terms.
void print_failure_line();

// UTF-8 text as plain printable ASCII: every other character becomes
// "<U+XXXX>", a byte that is not valid UTF-8 or a control character "<0xNN>".
std::string plain_ascii(std::string_view utf8);

}  // namespace qern
