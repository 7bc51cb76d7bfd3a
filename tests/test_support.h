// Helpers shared by the tests: temporary directories, whole files, WAV bytes,
// running the built executable, a captured error log, jobs and synthetic
// voice-like signals.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "driver/error_log.h"
#include "driver/resample_job.h"
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

inline std::vector<unsigned char> read_bytes(const std::string& path) {
    const std::string s = read_file(path);
    return std::vector<unsigned char>(s.begin(), s.end());
}

inline void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    write_file(path, std::string(bytes.begin(), bytes.end()));
}

// Sends the error log of the scope to a file and hands back what was written.
class LogCapture {
public:
    LogCapture() { open_error_log(dir_.file("log.txt")); }
    ~LogCapture() { close_error_log(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string text() {
        close_error_log();
        const std::string bytes = read_file(dir_.file("log.txt"));
        open_error_log(dir_.file("log.txt"));  // further messages start afresh
        // As UTF-8 with LF line ends on every platform.
        return printed_text(bytes);
    }

private:
    TempDir dir_;
};

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

// ---- jobs and signals ------------------------------------------------------

// A job holding `signal` as its input samples.
inline ResampleJob make_job(const std::vector<double>& signal, int sample_rate) {
    ResampleJob job;
    job.sample_rate = sample_rate;
    job.samples = SampleBuffer::allocate(static_cast<int>(signal.size()));
    job.sample_count = job.samples.count();
    for (int i = 0; i < job.sample_count; ++i) job.samples[i] = signal[static_cast<std::size_t>(i)];
    return job;
}

// A voice-like periodic signal: five harmonics with falling amplitudes whose
// fundamental period (in samples) at sample n is period(n); zero where the
// period is 0.
inline std::vector<double> harmonic_signal(int count, const std::function<double(int)>& period,
                                           double amplitude = 8000.0) {
    constexpr double two_pi = 6.283185307179586;
    std::vector<double> x(static_cast<std::size_t>(count), 0.0);
    double phase = 0.0;
    for (int n = 0; n < count; ++n) {
        const double p = period(n);
        if (p <= 0.0) continue;
        double v = 0.0;
        for (int h = 1; h <= 5; ++h) v += std::sin(h * phase) / h;
        x[static_cast<std::size_t>(n)] = amplitude * v;
        phase = std::fmod(phase + two_pi / p, two_pi);
    }
    return x;
}

// A sung-vowel-like test signal: a pulse-shaped tone whose pitch glides
// from `start_hz` to `end_hz`, a breathy (noise) stretch in its first fifth,
// a short silence in the middle and a fade-out; values on the 16-bit scale.
// `seed` varies the noise.
inline std::vector<double> voice_signal(int count, int sample_rate, double start_hz, double end_hz,
                                        unsigned seed = 1) {
    constexpr double two_pi = 6.283185307179586;
    std::vector<double> x(static_cast<std::size_t>(count), 0.0);
    double phase = 0.0;
    unsigned state = seed * 2654435761u + 12345u;
    for (int n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / count;
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 3000.0;
        double v = 0.0;
        if (t < 0.2) {
            v = noise;  // a consonant-like stretch
        } else if (t < 0.48 || t > 0.52) {
            const double hz = start_hz + (end_hz - start_hz) * t;
            for (int h = 1; h <= 8; ++h) v += std::sin(h * phase) / (h * 0.7 + 0.3);
            v *= 5200.0 * std::min(1.0, (1.0 - t) * 8.0);
            phase = std::fmod(phase + two_pi * hz / sample_rate, two_pi);
        }
        x[static_cast<std::size_t>(n)] = v;
    }
    return x;
}

// Samples rounded to 16-bit integers (clipped).
inline std::vector<int> to_int16(const std::vector<double>& x) {
    std::vector<int> v;
    v.reserve(x.size());
    for (const double s : x) v.push_back(static_cast<int>(std::lround(std::clamp(s, -32768.0, 32767.0))));
    return v;
}

// A plain 16-bit mono WAV file of `x`.
inline std::string wav16(const std::vector<double>& x, int sample_rate) {
    return wav_file(fmt_body(1, 16, sample_rate), pcm16(to_int16(x)));
}

inline std::string le64(std::uint64_t v) {
    std::string s;
    for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}

inline std::string float32_bytes(float value) {
    std::uint32_t u = 0;
    std::memcpy(&u, &value, sizeof u);
    return le32(static_cast<std::int64_t>(u));
}

inline std::string float64_bytes(double value) {
    std::uint64_t u = 0;
    std::memcpy(&u, &value, sizeof u);
    return le64(u);
}

// Hand-made jobs for the synthesis tests: input samples and pitch marks
// written by the test itself.

// A job at 44100 Hz holding `count` input samples from `sample_at`, the given
// marks (the (0, 0) terminator is appended), target period 100, modulation 0,
// volume 100, P 0 and no pitch bend.
inline ResampleJob make_job(int count, const std::function<double(int)>& sample_at,
                            std::vector<PitchMarkEntry> marks, double mean_period) {
    std::vector<double> signal(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) signal[static_cast<std::size_t>(i)] = sample_at(i);
    ResampleJob job = make_job(signal, 44100);
    marks.push_back(PitchMarkEntry{0, 0});
    job.marks = std::move(marks);
    job.mean_period = mean_period;
    job.target_period = 100.0;
    job.volume = 100;
    job.flag_P = 0;
    return job;
}

// Marks every `period` samples from `first` while below `end`, all of that period.
inline std::vector<PitchMarkEntry> regular_marks(int first, int end, int period) {
    std::vector<PitchMarkEntry> marks;
    for (int m = first; m < end; m += period) marks.push_back(PitchMarkEntry{m, period});
    return marks;
}

// 1.0 at every mark position, 0 elsewhere: with g = 0 each grain is a unit
// impulse at its centre, so the output shows where grains were laid.
inline std::function<double(int)> impulses_at(const std::vector<PitchMarkEntry>& marks) {
    std::vector<int> positions;
    for (const PitchMarkEntry& e : marks) positions.push_back(e.position);
    return [positions](int i) {
        for (int p : positions) {
            if (p == i) return 1.0;
        }
        return 0.0;
    };
}

// Indices of the non-zero samples of [begin, end).
inline std::vector<int> nonzero_indices(const SampleBuffer& b, int begin, int end) {
    std::vector<int> out;
    const double* x = b.data();
    for (int i = begin; i < end; ++i) {
        if (x[i] != 0.0) out.push_back(i);
    }
    return out;
}

}  // namespace qern::test
