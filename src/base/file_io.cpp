#include "base/file_io.h"

#include <functional>
#include <thread>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
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
#else
FileHandle open_file(const std::string& path, const char* mode) {
    return FileHandle(std::fopen(path.c_str(), mode));
}

bool remove_file(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

static long current_process_id() { return static_cast<long>(getpid()); }
#endif

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
