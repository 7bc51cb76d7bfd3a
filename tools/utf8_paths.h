// UTF-8 strings and filesystem paths, the one form the tools pass names in.
#pragma once

#include <filesystem>
#include <string>

namespace qern {

// The path as UTF-8 in the system's own form.
inline std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The path as UTF-8 with '/' between the folders on every system, as the
// reports show paths.
inline std::string generic_utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

inline std::filesystem::path path_of(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace qern
