#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/error_log.h"

namespace qern::fuzz {

FileHandle memory_file(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return open_file("/dev/null", "rb");
    // fmemopen does not write to a buffer opened for reading.
    void* buffer = const_cast<std::uint8_t*>(bytes.data());
    return FileHandle(fmemopen(buffer, bytes.size(), "rb"));
}

void quiet_log() {
    static const bool opened = open_error_log("/dev/null");
    (void)opened;
    clear_logged_messages();
}

namespace {

struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        char name[] = "/tmp/qern-fuzz-XXXXXX";
        if (!mkdtemp(name)) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = name;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

void put_le(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put_text(std::vector<std::uint8_t>& out, const char* text) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(text[i]));
}

}  // namespace

const std::string& scratch_folder() {
    static const ScratchFolder folder;
    return folder.path;
}

std::vector<std::uint8_t> wav_file(int channels, int bits, int sample_rate,
                                   std::span<const std::uint8_t> data, int format_tag) {
    std::vector<std::uint8_t> out;
    out.reserve(44 + data.size());
    const auto size = static_cast<std::uint32_t>(data.size());
    const auto block = static_cast<std::uint32_t>(channels * bits / 8);
    put_text(out, "RIFF");
    put_le(out, 36 + size, 4);
    put_text(out, "WAVE");
    put_text(out, "fmt ");
    put_le(out, 16, 4);
    put_le(out, static_cast<std::uint32_t>(format_tag), 2);
    put_le(out, static_cast<std::uint32_t>(channels), 2);
    put_le(out, static_cast<std::uint32_t>(sample_rate), 4);
    put_le(out, static_cast<std::uint32_t>(sample_rate) * block, 4);
    put_le(out, block, 2);
    put_le(out, static_cast<std::uint32_t>(bits), 2);
    put_text(out, "data");
    put_le(out, size, 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

void write_whole_file(const std::string& path, std::span<const std::uint8_t> bytes) {
    FileHandle file = open_file(path, "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fflush(file.get()) != 0) {
        std::fprintf(stderr, "fuzz harness: cannot write %s\n", path.c_str());
        std::abort();
    }
}

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz property violated: %s\n", what);
    std::abort();
}

}  // namespace qern::fuzz
