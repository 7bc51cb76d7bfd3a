#include "base/file_io.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qern {

#ifdef _WIN32
namespace {
std::wstring widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}
}  // namespace

FileHandle open_file(const std::string& path, const char* mode) {
    return FileHandle(_wfopen(widen(path).c_str(), widen(mode).c_str()));
}

bool remove_file(const std::string& path) { return _wremove(widen(path).c_str()) == 0; }

bool replace_file(const std::string& from, const std::string& to) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

static long current_process_id() { return static_cast<long>(_getpid()); }

namespace {
struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
}  // namespace

bool modified_before(const std::string& path, const std::string& reference) {
    // The C runtime's file times have whole seconds only.
    WIN32_FILE_ATTRIBUTE_DATA file{};
    WIN32_FILE_ATTRIBUTE_DATA other{};
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &file) ||
        !GetFileAttributesExW(widen(reference).c_str(), GetFileExInfoStandard, &other)) {
        return false;
    }
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return ticks(file.ftLastWriteTime) < ticks(other.ftLastWriteTime);
}

static std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path) {
    // Opened for no access at all: only the file's information is read, and
    // a folder opens too.
    const HANDLE handle = CreateFileW(widen(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const std::unique_ptr<void, HandleCloser> owner(handle);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return std::pair{static_cast<std::uint64_t>(info.dwVolumeSerialNumber),
                     (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

static bool same_name(const std::string& a, const std::string& b) {
    return CompareStringOrdinal(widen(a).c_str(), -1, widen(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

static constexpr const char* FOLDER_SEPARATORS = "/\\:";
#else
FileHandle open_file(const std::string& path, const char* mode) {
    return FileHandle(std::fopen(path.c_str(), mode));
}

bool remove_file(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

static long current_process_id() { return static_cast<long>(getpid()); }

bool modified_before(const std::string& path, const std::string& reference) {
    std::error_code path_error;
    std::error_code reference_error;
    const auto time = std::filesystem::last_write_time(path, path_error);
    const auto reference_time = std::filesystem::last_write_time(reference, reference_error);
    return !path_error && !reference_error && time < reference_time;
}

static std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return std::nullopt;
    return std::pair{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

static bool same_name(const std::string& a, const std::string& b) { return a == b; }

static constexpr const char* FOLDER_SEPARATORS = "/";
#endif

namespace {
// The folder part of a path ("." when it has none; a drive's current
// folder for "C:") and the name after it.
std::pair<std::string, std::string> split_folder(const std::string& path) {
    const std::size_t at = path.find_last_of(FOLDER_SEPARATORS);
    if (at == std::string::npos) return {".", path};
    std::string folder;
    if (at == 0) {
        folder = path.substr(0, 1);
    } else if (path[at] == ':') {
        folder = path.substr(0, at + 1) + ".";
    } else if (path[at - 1] == ':') {
        folder = path.substr(0, at + 1);
    } else {
        folder = path.substr(0, at);
    }
    return {folder, path.substr(at + 1)};
}
}  // namespace

bool names_same_file(const std::string& a, const std::string& b) {
    const auto identity_a = file_identity(a);
    const auto identity_b = file_identity(b);
    if (identity_a || identity_b) return identity_a && identity_b && *identity_a == *identity_b;
    const auto [folder_a, name_a] = split_folder(a);
    const auto [folder_b, name_b] = split_folder(b);
    if (name_a.empty() || !same_name(name_a, name_b)) return false;
    const auto folder_identity_a = file_identity(folder_a);
    return folder_identity_a && folder_identity_a == file_identity(folder_b);
}

namespace {
#ifdef _WIN32
int seek64(std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin); }
std::int64_t tell64(std::FILE* file) { return _ftelli64(file); }
#else
int seek64(std::FILE* file, std::int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin);
}
std::int64_t tell64(std::FILE* file) { return static_cast<std::int64_t>(ftello(file)); }
#endif
}  // namespace

bool seek_relative(std::FILE* file, std::int64_t offset) {
    return seek64(file, offset, SEEK_CUR) == 0;
}

std::int64_t file_position(std::FILE* file) { return tell64(file); }

bool seek_to(std::FILE* file, std::int64_t position) { return seek64(file, position, SEEK_SET) == 0; }

std::int64_t bytes_remaining(std::FILE* file) {
    const std::int64_t here = tell64(file);
    if (here < 0 || seek64(file, 0, SEEK_END) != 0) return -1;
    const std::int64_t end = tell64(file);
    if (seek64(file, here, SEEK_SET) != 0 || end < here) return -1;
    return end - here;
}

std::string temporary_path_for(const std::string& path) {
    // Process and thread identify the writer: no two writers at the same
    // moment share a name.
    const std::size_t thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
    return path + "." + std::to_string(current_process_id()) + "." +
           std::to_string(thread % 1000000007u) + ".tmp";
}

}  // namespace qern
