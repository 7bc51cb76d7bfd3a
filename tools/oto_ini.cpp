#include "tools/oto_ini.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/file_io.h"
#include "tools/utf8_paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace qern {

namespace {

namespace fs = std::filesystem;

// The line with every byte outside ASCII shown as '?', for a line that
// could not be decoded.
std::string ascii_only(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) text += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return text;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

#ifndef _WIN32
// An iconv descriptor, closed when it goes.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};
#endif

}  // namespace

bool is_valid_utf8(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + length > bytes.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool cp932_to_utf8(const std::string& cp932, std::string& utf8) {
    utf8.clear();
    if (cp932.empty()) return true;
#ifdef _WIN32
    const int size = static_cast<int>(cp932.size());
    const int wide_length = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932.data(), size, nullptr, 0);
    if (wide_length <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932.data(), size, wide.data(), wide_length);
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    utf8.assign(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), length, nullptr, nullptr);
    return true;
#else
    const Converter converter("UTF-8", "CP932");
    if (!converter.ok()) return false;
    std::string in = cp932;
    std::string out(cp932.size() * 3 + 4, '\0');  // at most three UTF-8 bytes per byte
    char* in_at = in.data();
    std::size_t in_left = in.size();
    char* out_at = out.data();
    std::size_t out_left = out.size();
    if (iconv(converter.get(), &in_at, &in_left, &out_at, &out_left) == static_cast<std::size_t>(-1) ||
        in_left != 0) {
        return false;
    }
    out.resize(out.size() - out_left);
    utf8 = std::move(out);
    return true;
#endif
}

OtoFile parse_oto_text(const std::string& path, const std::string& bytes) {
    OtoFile oto;
    oto.path = path;
    oto.folder = generic_utf8_of(path_of(path).parent_path());
    std::string text = bytes;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        oto.encoding = OtoEncoding::UTF8_WITH_BOM;
        text.erase(0, 3);
    } else {
        oto.encoding = is_valid_utf8(text) ? OtoEncoding::UTF8 : OtoEncoding::CP932;
    }
    std::size_t from = 0;
    for (int number = 1; from < text.size(); ++number) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        std::string raw = text.substr(from, end - from);
        from = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (trimmed(raw).empty()) continue;

        OtoLineProblem problem{number, std::string(), std::string()};
        std::string line;
        if (oto.encoding == OtoEncoding::CP932 ? !cp932_to_utf8(raw, line) : !is_valid_utf8(raw)) {
            problem.text = ascii_only(raw);
            problem.reason = oto.encoding == OtoEncoding::CP932 ? "bytes that are not code page 932 text"
                                                                 : "bytes that are not UTF-8 text";
            oto.problems.push_back(std::move(problem));
            continue;
        }
        if (oto.encoding != OtoEncoding::CP932) line = raw;
        problem.text = line;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            problem.reason = "no \"=\" between the sample name and the numbers";
            oto.problems.push_back(std::move(problem));
            continue;
        }
        OtoEntry entry;
        entry.line_number = number;
        entry.sample_name = trimmed(line.substr(0, equals));
        if (entry.sample_name.empty()) {
            problem.reason = "no sample name before the \"=\"";
            oto.problems.push_back(std::move(problem));
            continue;
        }
        if (!parse_oto_regions(line, entry.regions, entry.alias)) {
            problem.reason = "the numbers after the alias do not read as five milliseconds values";
            oto.problems.push_back(std::move(problem));
            continue;
        }
        std::string name = entry.sample_name;
#ifndef _WIN32
        std::replace(name.begin(), name.end(), '\\', '/');  // a subfolder written the Windows way
#endif
        entry.sample_path = generic_utf8_of(path_of(oto.folder) / path_of(name));
        oto.entries.push_back(std::move(entry));
    }
    return oto;
}

bool read_oto_file(const std::string& path, OtoFile& oto) {
    const FileHandle file = open_file(path, "rb");
    if (!file) return false;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    if (std::ferror(file.get())) return false;
    oto = parse_oto_text(path, bytes);
    return true;
}

std::vector<std::string> find_oto_files(const std::string& folder) {
    std::vector<std::string> found;
    for (const fs::path& file : regular_files_under(path_of(folder))) {
        std::string name = generic_utf8_of(file.filename());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        if (name == "oto.ini") found.push_back(generic_utf8_of(file));
    }
    std::sort(found.begin(), found.end());
    return found;
}

const char* oto_encoding_name(OtoEncoding encoding) {
    switch (encoding) {
        case OtoEncoding::UTF8: return "UTF-8";
        case OtoEncoding::UTF8_WITH_BOM: return "UTF-8 with BOM";
        case OtoEncoding::CP932: return "code page 932";
    }
    return "";
}

}  // namespace qern
