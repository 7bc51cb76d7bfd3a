// qern-prep: prepares a voicebank for QERN by creating the .pmk cache of
// every WAV file under a folder, as a series of analysis-only runs of the
// resampler ("nul" output) would, on several threads.
//
//   qern-prep FOLDER [-j N] [--redo] [--report REPORT.html [--strict]]
//
// -j N       analyse N files at a time (default: the number of processor threads)
// --redo     analyse again also the files whose cache is current
// --report   then check every sample and oto.ini entry under FOLDER and
//            write the findings as one HTML page (tools/voicebank_report.h)
// --strict   exit 1 also when a finding "fails" or "will sound wrong"
//
// Shows a progress bar when standard output is a terminal, and ends with a
// summary: files analysed, skipped and failed (with their messages), and the
// time taken; with a report, the counts of its findings and its path. The
// exit status is 0 when no file failed (and, with --strict, nothing fails or
// sounds wrong), 1 otherwise, 2 for a wrong command line.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define QERN_ISATTY _isatty
#define QERN_FILENO _fileno
#else
#include <unistd.h>
#define QERN_ISATTY isatty
#define QERN_FILENO fileno
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "base/error_log.h"
#include "base/file_io.h"
#include "tools/joined_threads.h"
#include "tools/report_html.h"
#include "tools/utf8_main.h"
#include "tools/voicebank_prep.h"
#include "tools/voicebank_report.h"

namespace {

using namespace qern;

constexpr const char* USAGE =
    "usage: qern-prep FOLDER [-j N] [--redo] [--report REPORT.html [--strict]]\n"
    "Creates the .pmk cache of every .wav file under FOLDER (as analysis-only\n"
    "runs of qern do), N files at a time (default: one per processor thread).\n"
    "Files whose cache is current are skipped unless --redo is given.\n"
    "--report checks every sample and oto.ini entry under FOLDER and writes\n"
    "the findings to REPORT.html; --strict then exits 1 when anything fails\n"
    "or will sound wrong.\n";

struct PrepCommand {
    std::string folder;
    int thread_count = 0;
    bool redo = false;
    std::string report_path;  // empty: no report
    bool strict = false;
};

bool parse_count(const char* text, int& value) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n < 1 || n > 1024) return false;
    value = static_cast<int>(n);
    return true;
}

bool parse_command(int argc, char** argv, PrepCommand& command) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--redo") {
            command.redo = true;
        } else if (arg == "--strict") {
            command.strict = true;
        } else if (arg == "--report") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return false;
            command.report_path = argv[++i];
        } else if (arg == "-j") {
            if (i + 1 >= argc || !parse_count(argv[i + 1], command.thread_count)) return false;
            ++i;
        } else if (arg.rfind("-j", 0) == 0) {
            if (!parse_count(arg.c_str() + 2, command.thread_count)) return false;
        } else if (!arg.empty() && arg[0] == '-') {
            return false;
        } else if (command.folder.empty()) {
            command.folder = arg;
        } else {
            return false;
        }
    }
    if (command.thread_count == 0) {
        command.thread_count = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    }
    if (command.strict && command.report_path.empty()) return false;
    return !command.folder.empty();
}

// The name of a path without its folders, for the progress line.
std::string file_name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Columns a UTF-8 text takes on a terminal, roughly: two for the wide
// characters of East Asian scripts, one for others.
int display_width(const std::string& text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        width += length >= 3 ? 2 : 1;
        i += length;
    }
    return width;
}

// One progress line, redrawn in place: a bar of 30 cells, the count and the
// name of the file just done, cut and padded to 79 columns so that it covers
// the previous line (no terminal control sequences: the Windows console
// shows them as text).
void draw_progress(int done, int total, const std::string& path) {
    constexpr int BAR = 30;
    constexpr int COLUMNS = 79;
    const int filled = static_cast<int>(static_cast<long long>(done) * BAR / total);
    std::string line = "[";
    for (int cell = 0; cell < BAR; ++cell) line += cell < filled ? '#' : '.';
    line += "] ";
    char count[48];
    std::snprintf(count, sizeof count, "%3d%% %d/%d ", static_cast<int>(100LL * done / total), done,
                  total);
    line += count;
    // The name, cut at a character boundary to fit.
    const std::string name = file_name_of(path);
    int width = display_width(line);
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const int columns = length >= 3 ? 2 : 1;
        if (width + columns > COLUMNS) break;
        line += name.substr(i, length);
        width += columns;
        i += length;
    }
    line += std::string(static_cast<std::size_t>(COLUMNS - width), ' ');
    print_formatted("\r%s", line.c_str());
}

// Every line of `text` indented by four spaces.
std::string indented(const std::string& text) {
    std::string out;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        out += "    " + text.substr(from, end - from) + "\n";
        from = end + 1;
    }
    return out;
}

// Checks the voicebank, writes the report (complete, or not at all) and
// prints its counts. Returns false when the report cannot be written;
// `serious` is the number of findings that fail or will sound wrong.
bool write_report(const PrepCommand& command, int& serious) {
    const VoicebankReport report = check_voicebank(command.folder, command.thread_count);
    std::vector<std::string> names;
    for (const Finding& f : report.findings) {
        if (std::find(names.begin(), names.end(), f.sample) == names.end()) names.push_back(f.sample);
    }
    // The pictures, analysed again, as many at a time as the analysis ran.
    std::vector<std::pair<std::string, std::string>> pictures(names.size());
    std::atomic<std::size_t> next{0};
    {
        JoinedThreads pool;
        const int workers = std::clamp(command.thread_count, 1, std::max(1, static_cast<int>(names.size())));
        for (int t = 0; t < workers; ++t) {
            pool.threads.emplace_back([&] {
                for (std::size_t i = next++; i < names.size(); i = next++) {
                    pictures[i] = {names[i], render_finding_picture(report, names[i], 1200)};
                }
            });
        }
    }
    const std::string html = render_report_html(report, pictures);

    const std::string temporary = temporary_path_for(command.report_path);
    bool written = false;
    {
        FileHandle file = open_file(temporary, "wb");
        written = file && std::fwrite(html.data(), 1, html.size(), file.get()) == html.size();
        if (file) written = std::fclose(file.release()) == 0 && written;
    }
    if (!written || !replace_file(temporary, command.report_path)) {
        remove_file(temporary);
        print_error_text(("qern-prep: cannot write the report " + command.report_path + "\n").c_str());
        return false;
    }
    const std::vector<int> counts = count_by_severity(report.findings);
    serious = counts[0] + counts[1];
    print_formatted("checked %d samples and %d oto.ini entries: %d fail, %d will sound wrong, %d worth a look\n",
                    static_cast<int>(report.samples.size()), report.entry_count, counts[0], counts[1], counts[2]);
    print_formatted("report: %s\n", command.report_path.c_str());
    return true;
}

int run(const PrepCommand& command) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> inputs = find_wav_files(command.folder);
    if (inputs.empty()) {
        print_error_text(("qern-prep: no .wav files under " + command.folder + "\n").c_str());
        return 1;
    }
    const bool on_terminal = QERN_ISATTY(QERN_FILENO(stdout)) != 0;
    PrepProgress progress;
    if (on_terminal) {
        progress = [](int done, int total, const PrepResult& r) { draw_progress(done, total, r.path); };
    }
    const std::vector<PrepResult> results =
        prepare_voicebank(inputs, command.thread_count, command.redo, progress);
    if (on_terminal) print_formatted("\r%79s\r", "");

    int analysed = 0;
    int skipped = 0;
    int failed = 0;
    for (const PrepResult& r : results) {
        if (r.outcome == PrepOutcome::ANALYSED) ++analysed;
        if (r.outcome == PrepOutcome::SKIPPED) ++skipped;
        if (r.outcome == PrepOutcome::FAILED) ++failed;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    print_formatted("%d files: %d analysed, %d skipped (cache current), %d failed; %.1f s\n",
                    static_cast<int>(results.size()), analysed, skipped, failed, seconds);
    for (const PrepResult& r : results) {
        if (r.outcome == PrepOutcome::FAILED) {
            print_formatted("failed: %s\n%s", r.path.c_str(), indented(r.messages).c_str());
        }
    }
    // Warnings of files that were analysed all the same.
    for (const PrepResult& r : results) {
        if (r.outcome != PrepOutcome::FAILED && !r.messages.empty()) {
            print_formatted("warning: %s\n%s", r.path.c_str(), indented(r.messages).c_str());
        }
    }
    if (command.report_path.empty()) return failed == 0 ? 0 : 1;
    int serious = 0;
    if (!write_report(command, serious)) return 1;
    return failed == 0 && !(command.strict && serious > 0) ? 0 : 1;
}

}  // namespace

int run_tool(int argc, char** argv) {
#ifdef __GLIBC__
    // Keep the freed sample buffers of one file for the next: by default
    // glibc hands every large buffer back to the system and the next file
    // faults in fresh zeroed pages, which costs a quarter of the analysis.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
#endif
    PrepCommand command;
    if (!parse_command(argc, argv, command)) {
        print_error_text(USAGE);
        return 2;
    }
    return run(command);
}
