// Helpers shared by the tests: temporary directories, whole files, WAV bytes
// and running the built executable.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace qern::test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        std::random_device device;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("qern-test-" + std::to_string(device()));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the directory, as a string.
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // The names of the entries in the directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

// Little-endian integers as bytes.
inline std::string le16(int value) {
    const auto v = static_cast<std::uint16_t>(value);
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
inline std::string le32(std::int64_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}

// The 16 bytes of a plain fmt chunk body.
inline std::string fmt_body(int channels, int bits, int rate, int format_tag = 1) {
    const int block = channels * bits / 8;
    return le16(format_tag) + le16(channels) + le32(rate) + le32(static_cast<std::int64_t>(rate) * block) +
           le16(block) + le16(bits);
}

// A WAV file: RIFF header, the fmt chunk (`fmt` as its body), any chunks in
// `between`, then "data" with `declared_size` (default: the size of `data`)
// and the data bytes.
inline std::string wav_file(const std::string& fmt, const std::string& data,
                            std::int64_t declared_size = -1, const std::string& between = "") {
    const std::int64_t size = declared_size < 0 ? static_cast<std::int64_t>(data.size()) : declared_size;
    const std::string body = "WAVE" + std::string("fmt ") + le32(static_cast<std::int64_t>(fmt.size())) + fmt +
                             between + "data" + le32(size) + data;
    return "RIFF" + le32(static_cast<std::int64_t>(body.size())) + body;
}

// 16-bit sample values as data bytes.
inline std::string pcm16(const std::vector<int>& values) {
    std::string s;
    for (int v : values) s += le16(v);
    return s;
}

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

// The executable's file name as the tests copy it.
#ifdef _WIN32
inline const std::string PROGRAM_FILE_NAME = "qern.exe";
#else
inline const std::string PROGRAM_FILE_NAME = "qern";
#endif

struct ProcessResult {
    int exit_status = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

inline std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

#ifdef _WIN32
inline std::wstring widen_utf8(const std::string& s) {
    if (s.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// One argument quoted for the C runtime's command-line parser: inside
// quotes, backslashes count only before a quotation mark.
inline std::wstring windows_quote(const std::wstring& arg) {
    std::wstring q = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        q.push_back(c);
    }
    q.append(2 * backslashes, L'\\');
    return q + L"\"";
}

// Runs `program` with `args` (UTF-8) in `directory`, capturing both output
// streams into files in `directory`.
inline ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                                 const std::filesystem::path& directory) {
    const std::filesystem::path out = directory / "captured.stdout";
    const std::filesystem::path err = directory / "captured.stderr";
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out_handle = CreateFileW(out.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err_handle = CreateFileW(err.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::wstring command = windows_quote(widen_utf8(program));
    for (const auto& a : args) command += L" " + windows_quote(widen_utf8(a));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out_handle;
    startup.hStdError = err_handle;
    PROCESS_INFORMATION process{};
    ProcessResult result;
    const std::wstring folder = directory.wstring();
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exit_status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out_handle);
    CloseHandle(err_handle);
    result.out = read_file(out.string());
    result.err = read_file(err.string());
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}
#else
// Runs `program` with `args` in `directory` (POSIX shell), capturing both
// output streams into files in `directory`.
inline ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                                 const std::filesystem::path& directory) {
    const std::string out = (directory / "captured.stdout").string();
    const std::string err = (directory / "captured.stderr").string();
    std::string command = "cd " + shell_quote(directory.string()) + " && " + shell_quote(program);
    for (const auto& a : args) command += " " + shell_quote(a);
    command += " >" + shell_quote(out) + " 2>" + shell_quote(err);
    ProcessResult result;
    const int status = std::system(command.c_str());
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(out);
    result.err = read_file(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}
#endif

}  // namespace qern::test
