#include "driver/failure_summary.h"

#include <cstdarg>
#include <cstdio>

#include "driver/error_log.h"

namespace qern {

namespace {

std::string format_note(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return plain_ascii(text);
}

void append_hex(std::string& out, const char* format, unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

// The length of the UTF-8 sequence led by `lead` and the bits it carries,
// or 0 for a byte that leads none.
int sequence_length(unsigned char lead, unsigned& code_point) {
    int length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07u;
    }
    return length;
}

}  // namespace

void note_failure(const char* format, ...) {
    FailureSummary& summary = noted_failure();
    if (!summary.what.empty()) return;
    va_list args;
    va_start(args, format);
    summary.what = format_note(format, args);
    va_end(args);
}

void note_failure_reason(const char* format, ...) {
    FailureSummary& summary = noted_failure();
    if (!summary.what.empty() || !summary.reason.empty()) return;
    va_list args;
    va_start(args, format);
    summary.reason = format_note(format, args);
    va_end(args);
}

std::string failure_line(const FailureSummary& summary) {
    if (summary.what.empty()) return std::string();
    std::string line = "qern: " + summary.what;
    if (!summary.reason.empty()) line += ": " + summary.reason;
    return line + "\n";
}

void print_failure_line() {
    FailureSummary summary = noted_failure();
    if (summary.what.empty()) summary.what = "the note could not be rendered";
    print_error_text(failure_line(summary).c_str());
}

std::string plain_ascii(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        unsigned code_point = 0;
        const int length = sequence_length(byte, code_point);
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= utf8.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0u) == 0x80u;
            code_point = (code_point << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        static constexpr unsigned SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && code_point >= SMALLEST[length] && code_point <= 0x10FFFF &&
                !(code_point >= 0xD800 && code_point <= 0xDFFF);
        if (!valid) {
            append_hex(out, "<0x%02X>", byte);
            ++i;
            continue;
        }
        append_hex(out, "<U+%04X>", code_point);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

}  // namespace qern
