#include "driver/error_log.h"

#include <cstdarg>
#include <cstdio>

#include "driver/file_io.h"

namespace qern {

namespace {

// The one process-wide log of a run.
struct ErrorLog {
    FileHandle file;
    std::string path;
};
ErrorLog g_log;

void write_formatted(std::FILE* out, const char* format, va_list args) {
    std::vfprintf(out, format, args);
    std::fflush(out);
}

}  // namespace

bool open_error_log(const std::string& path) {
    g_log.file = open_file(path, "wt");
    g_log.path = path;
    return g_log.file != nullptr;
}

void close_error_log() { g_log.file.reset(); }

void delete_error_log() {
    const bool had_file = g_log.file != nullptr;
    g_log.file.reset();
    if (had_file) remove_file(g_log.path);
}

void log_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_formatted(g_log.file ? g_log.file.get() : stderr, format, args);
    va_end(args);
}

void log_warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_formatted(stderr, format, args);
    va_end(args);
}

void print_progress(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace qern
