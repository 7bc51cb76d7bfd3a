// The error log of a run, and the console texts.
//
// All texts in the sources are UTF-8. They are converted to the platform's
// console encoding (code page 932 on Windows, UTF-8 elsewhere) at the edge,
// when they are written (driver/text_encoding.h).
#pragma once

#include <string>

#include "driver/failure_summary.h"

#if defined(__GNUC__)
#define QERN_PRINTF_FORMAT(format_index, first_arg) \
    __attribute__((format(printf, format_index, first_arg)))
#else
#define QERN_PRINTF_FORMAT(format_index, first_arg)
#endif

namespace qern {

// The log path for a program path: a path ending in ".exe" (any letter case)
// has those four characters replaced by ".log"; any other path, also one
// shorter than four characters, gets ".log" appended.
std::string error_log_path_for(const std::string& program_path);

// Opens the run's error log at `path` (UTF-8), emptying it. Returns false
// when it cannot be created; messages then go to standard error.
bool open_error_log(const std::string& path);
// Ends a failed run: closes the log, which stays on disk, and copies the
// lines logged since it was opened to standard error.
void close_error_log();
// Ends a successful run: closes the log and deletes its file.
void delete_error_log();

// Everything logged since the log was last opened or cleared, in UTF-8
// (whether it went to the log file or to standard error), and the failure
// noted since then (driver/failure_summary.h). For tests.
const std::string& logged_messages();
void clear_logged_messages();

// Where the failure notes of the calling thread go: its capture's summary,
// or the run's, kept with the log (emptied when the log is opened or cleared).
FailureSummary& noted_failure();

// The prefixes that fill the leading "%s" of every message.
inline constexpr const char* ERROR_PREFIX = "エラー:";
inline constexpr const char* WARNING_PREFIX = "警告:";

// Writes one error message to the log: a printf format that begins with
// "%s", called with ERROR_PREFIX first, as in
//   log_error("%s不正な音階名%s\n", ERROR_PREFIX, name);
// String arguments are UTF-8. Without an open log it goes to standard error.
void log_error(const char* format, ...) QERN_PRINTF_FORMAT(1, 2);

// Writes a warning (called with WARNING_PREFIX first) to standard error.
void log_warning(const char* format, ...) QERN_PRINTF_FORMAT(1, 2);

// Writes a progress text (UTF-8, no prefix) to standard output.
void print_progress(const char* text);
// Writes formatted text (UTF-8) to standard output.
void print_formatted(const char* format, ...) QERN_PRINTF_FORMAT(1, 2);
// Writes a text (UTF-8, no prefix) to standard error.
void print_error_text(const char* text);

// Catches the messages of the calling thread while it lives: its errors and
// warnings (in UTF-8, in the order logged) and its standard-output texts go
// into this object instead of the log, the consoles and logged_messages().
// For programs that run several jobs at once, one capture per job and
// thread; other threads are not affected. Captures nest (the inner one wins
// until it goes).
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    // Errors and warnings, as they would have reached the log and standard error.
    const std::string& messages() const { return messages_; }
    // What would have gone to standard output.
    const std::string& output() const { return output_; }
    // The failure noted while it lived.
    const FailureSummary& failure() const { return failure_; }

private:
    friend struct MessageCaptureAccess;
    std::string messages_;
    std::string output_;
    FailureSummary failure_;
    MessageCapture* outer_;
};

}  // namespace qern
