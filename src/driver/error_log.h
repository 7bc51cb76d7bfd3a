// The error log of a run, and the console texts.
//
// All texts in the sources are UTF-8. They are converted to the platform's
// console encoding (code page 932 on Windows, UTF-8 elsewhere) at the edge,
// when they are written.
#pragma once

#include <string>

namespace qern {

// Opens the run's error log at `path` (UTF-8), emptying it. Returns false
// when it cannot be created; messages then go to standard error.
bool open_error_log(const std::string& path);
// Closes the log; the file stays on disk.
void close_error_log();
// Closes the log and deletes its file (a successful run).
void delete_error_log();

// The prefixes that fill the leading "%s" of every message.
inline constexpr const char* ERROR_PREFIX = "エラー:";
inline constexpr const char* WARNING_PREFIX = "警告:";

// Writes one error message to the log: a printf format that begins with
// "%s", called with ERROR_PREFIX first, as in
//   log_error("%s不正な音階名%s\n", ERROR_PREFIX, name);
// String arguments are UTF-8.
void log_error(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Writes a warning (called with WARNING_PREFIX first) to standard error.
void log_warning(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Writes a progress text (UTF-8, no prefix) to standard output.
void print_progress(const char* text);

}  // namespace qern
