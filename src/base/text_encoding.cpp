#include "base/text_encoding.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qern {

namespace {

struct Cp932Entry {
    std::uint32_t code_point;
    std::uint16_t bytes;  // below 0x100: one byte; else lead * 256 + trail
};

constexpr Cp932Entry CP932_TABLE[] = {
#include "base/cp932_table.inc"
};

static_assert(std::is_sorted(std::begin(CP932_TABLE), std::end(CP932_TABLE),
                             [](const Cp932Entry& a, const Cp932Entry& b) {
                                 return a.code_point < b.code_point;
                             }));

// Decodes one UTF-8 sequence at the start of `s`. Returns its length and
// sets `code_point`, or returns 0 when the bytes are not a valid, shortest
// UTF-8 sequence.
std::size_t decode_utf8(std::string_view s, std::uint32_t& code_point) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint32_t value = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        code_point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1Fu, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0Fu, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07u, minimum = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return 0;
        value = (value << 6) | (byte(i) & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    code_point = value;
    return length;
}

void append_cp932(std::string& out, std::uint32_t code_point, std::string_view utf8) {
    const auto* end = std::end(CP932_TABLE);
    const auto* it = std::lower_bound(
        std::begin(CP932_TABLE), end, code_point,
        [](const Cp932Entry& e, std::uint32_t c) { return e.code_point < c; });
    if (it != end && it->code_point == code_point) {
        if (it->bytes >= 0x100) out.push_back(static_cast<char>(it->bytes >> 8));
        out.push_back(static_cast<char>(it->bytes & 0xFF));
        return;
    }
#ifdef _WIN32
    wchar_t wide[2];
    const int wide_count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                               static_cast<int>(utf8.size()), wide, 2);
    char bytes[8];
    BOOL used_default = FALSE;
    const int count = wide_count > 0 ? WideCharToMultiByte(932, 0, wide, wide_count, bytes,
                                                           sizeof bytes, nullptr, &used_default)
                                     : 0;
    if (count > 0 && !used_default) {
        out.append(bytes, static_cast<std::size_t>(count));
        return;
    }
#else
    (void)utf8;
#endif
    out.push_back('?');
}

}  // namespace

std::string utf8_to_cp932(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::uint32_t code_point = 0;
        const std::size_t length = decode_utf8(utf8.substr(i), code_point);
        if (length <= 1) {
            out.push_back(utf8[i]);  // ASCII, or a byte that is not UTF-8
            ++i;
        } else {
            append_cp932(out, code_point, utf8.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string to_console_encoding(std::string_view utf8) {
#ifdef _WIN32
    return utf8_to_cp932(utf8);
#else
    return std::string(utf8);
#endif
}

std::string argument_to_utf8(std::string_view argument) {
#ifdef _WIN32
    if (argument.empty()) return std::string();
    const int wide_count = MultiByteToWideChar(932, 0, argument.data(),
                                               static_cast<int>(argument.size()), nullptr, 0);
    if (wide_count <= 0) return std::string(argument);
    std::wstring wide(static_cast<std::size_t>(wide_count), L'\0');
    MultiByteToWideChar(932, 0, argument.data(), static_cast<int>(argument.size()), wide.data(),
                        wide_count);
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_count, nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_count, out.data(), count, nullptr,
                        nullptr);
    return out;
#else
    return std::string(argument);
#endif
}

}  // namespace qern
