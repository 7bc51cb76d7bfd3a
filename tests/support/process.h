// Running a built program with arguments in a folder and capturing its
// exit status and output streams.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace qern::test {

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
    // Appended piece by piece: GCC 12 at -O3 warns (wrongly) about
    // "literal" + std::string here.
    std::string command = "cd ";
    command += shell_quote(directory.string());
    command += " && ";
    command += shell_quote(program);
    for (const auto& a : args) (command += ' ') += shell_quote(a);
    (command += " >") += shell_quote(out);
    (command += " 2>") += shell_quote(err);
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
