// Test helpers for what the program prints and logs: texts as the console
// or a text-mode file holds them, and the error log of a scope.
#pragma once

#include <string>

#include "base/error_log.h"
#include "base/text_encoding.h"
#include "support/files.h"

namespace qern::test {

// Text as a file written in text mode, or another process's standard
// output, holds it: with CRLF line ends on Windows.
inline std::string text_mode(std::string text) {
#ifdef _WIN32
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
        text.insert(at, 1, '\r');
    }
#endif
    return text;
}

// What the program printed or wrote in text mode, as UTF-8 with LF line
// ends: on Windows the texts are in code page 932 with CRLF line ends.
inline std::string printed_text(std::string text) {
#ifdef _WIN32
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; ++at) text.erase(at, 1);
    return argument_to_utf8(text);
#else
    return text;
#endif
}

// Sends the error log of the scope to a file and hands back what was written.
class LogCapture {
public:
    LogCapture() { open_error_log(dir_.file("log.txt")); }
    ~LogCapture() { close_error_log(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string text() {
        close_error_log();
        const std::string bytes = read_file(dir_.file("log.txt"));
        open_error_log(dir_.file("log.txt"));  // further messages start afresh
        // As UTF-8 with LF line ends on every platform.
        return printed_text(bytes);
    }

private:
    TempDir dir_;
};

}  // namespace qern::test
