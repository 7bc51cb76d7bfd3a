#include "driver/wide_command_line.h"

#ifdef _WIN32

#include <windows.h>

#include <cwchar>

namespace qern {

namespace {

constexpr UINT CODE_PAGE_932 = 932;

std::string narrow(const wchar_t* text, UINT code_page, DWORD flags) {
    if (text == nullptr || text[0] == L'\0') return std::string();
    const int length = static_cast<int>(std::wcslen(text));
    const int size = WideCharToMultiByte(code_page, flags, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(code_page, flags, text, length, result.data(), size, nullptr, nullptr);
    return result;
}

}  // namespace

std::string utf16_to_utf8(const wchar_t* text) { return narrow(text, CP_UTF8, 0); }

// No best-fit guesses (an accented e becoming a plain e): a character that code page 932
// lacks becomes the default character '?'.
std::string utf16_to_cp932(const wchar_t* text) {
    return narrow(text, CODE_PAGE_932, WC_NO_BEST_FIT_CHARS);
}

std::string executable_path() {
    // The loader's name may be longer than MAX_PATH ("\\?\" paths): grow
    // the buffer until the whole name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) {
            buffer.resize(length);
            return utf16_to_utf8(buffer.c_str());
        }
        if (buffer.size() >= 32768) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

NarrowCommandLine narrow_command_line(int argc, const wchar_t* const* argv,
                                      const std::string& program_path) {
    NarrowCommandLine result;
    const int count = argc > 0 ? argc : 0;
    result.strings.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (i == 0 && !program_path.empty()) {
            result.strings.push_back(program_path);
        } else if (i <= LAST_PATH_ARGUMENT) {
            result.strings.push_back(utf16_to_utf8(argv[i]));
        } else {
            result.strings.push_back(utf16_to_cp932(argv[i]));
        }
    }
    result.pointers.reserve(result.strings.size() + 1);
    for (std::string& s : result.strings) result.pointers.push_back(s.data());
    result.pointers.push_back(nullptr);
    return result;
}

}  // namespace qern

#endif  // _WIN32
