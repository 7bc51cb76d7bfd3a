#include "driver/error_log.h"

#include <cstdarg>
#include <cstdio>

#include "driver/file_io.h"
#include "driver/text_encoding.h"

namespace qern {

namespace {

// The one process-wide log of a run.
struct ErrorLog {
    FileHandle file;
    std::string path;
    std::string messages;  // UTF-8, since the log was opened
    FailureSummary failure;
};
ErrorLog g_log;

// The capture of the calling thread, if any (MessageCapture).
thread_local MessageCapture* t_capture = nullptr;

std::string format_text(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void write_text(std::FILE* out, const std::string& utf8) {
    const std::string bytes = to_console_encoding(utf8);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fflush(out);
}

}  // namespace

struct MessageCaptureAccess {
    static std::string& messages(MessageCapture& c) { return c.messages_; }
    static std::string& output(MessageCapture& c) { return c.output_; }
    static FailureSummary& failure(MessageCapture& c) { return c.failure_; }
};

namespace {

enum class Channel { Messages, Output };

// Hands a finished text to the calling thread's capture, if it has one.
bool captured(Channel channel, const std::string& text) {
    if (!t_capture) return false;
    (channel == Channel::Messages ? MessageCaptureAccess::messages(*t_capture)
                                  : MessageCaptureAccess::output(*t_capture)) += text;
    return true;
}

}  // namespace

MessageCapture::MessageCapture() : outer_(t_capture) { t_capture = this; }

MessageCapture::~MessageCapture() { t_capture = outer_; }

std::string error_log_path_for(const std::string& program_path) {
    const std::size_t n = program_path.size();
    if (n >= 4 && program_path[n - 4] == '.') {
        bool is_exe = true;
        for (std::size_t i = 0; i < 3; ++i) {
            const char c = program_path[n - 3 + i];
            const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            is_exe = is_exe && lower == "exe"[i];
        }
        if (is_exe) return program_path.substr(0, n - 4) + ".log";
    }
    return program_path + ".log";
}

bool open_error_log(const std::string& path) {
    g_log.file = open_file(path, "wt");
    g_log.path = path;
    g_log.messages.clear();
    g_log.failure = FailureSummary{};
    return g_log.file != nullptr;
}

void close_error_log() {
    if (!g_log.file) return;  // the messages went to standard error already
    g_log.file.reset();
    write_text(stderr, g_log.messages);
}

void delete_error_log() {
    const bool had_file = g_log.file != nullptr;
    g_log.file.reset();
    if (had_file) remove_file(g_log.path);
}

const std::string& logged_messages() { return g_log.messages; }

void clear_logged_messages() {
    g_log.messages.clear();
    g_log.failure = FailureSummary{};
}

FailureSummary& noted_failure() {
    return t_capture ? MessageCaptureAccess::failure(*t_capture) : g_log.failure;
}

void log_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (captured(Channel::Messages, text)) return;
    g_log.messages += text;
    write_text(g_log.file ? g_log.file.get() : stderr, text);
}

void log_warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (captured(Channel::Messages, text)) return;
    write_text(stderr, text);
}

void print_progress(const char* text) {
    if (captured(Channel::Output, text)) return;
    write_text(stdout, text);
}

void print_formatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (captured(Channel::Output, text)) return;
    write_text(stdout, text);
}

void print_error_text(const char* text) {
    if (captured(Channel::Messages, text)) return;
    write_text(stderr, text);
}

}  // namespace qern
