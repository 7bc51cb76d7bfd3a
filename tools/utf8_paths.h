// UTF-8 strings and filesystem paths, the one form the tools pass names in.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

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

// Every regular file under `folder` and its subfolders, in the order the
// walk finds them; folders that cannot be read are passed over. Empty when
// `folder` is not a folder.
inline std::vector<std::filesystem::path> regular_files_under(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::vector<fs::path> found;
    std::error_code error;
    if (!fs::is_directory(folder, error)) return found;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code status_error;
        if (it->is_regular_file(status_error)) found.push_back(it->path());
    }
    return found;
}

}  // namespace qern
