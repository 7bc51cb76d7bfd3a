// The UTF-16 command line of the Windows entry point, and files whose names
// hold characters of several scripts. The file tests run on every platform;
// on Windows they exercise the wide-character file functions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "driver/file_io.h"
#ifdef _WIN32
#include <windows.h>

#include "driver/wide_command_line.h"
#endif

namespace {

using qern::open_file;

// A path from UTF-8 text (std::filesystem::u8path is deprecated in C++20).
std::filesystem::path utf8_path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// A fresh folder for one test, removed with everything in it at the end.
struct ScratchFolder {
    std::filesystem::path path;
    explicit ScratchFolder(const std::string& name) {
        path = std::filesystem::temp_directory_path() /
               utf8_path("qern-" + name + "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    // The UTF-8 path of `name` inside the folder.
    std::string file(const std::string& name) const {
        const std::u8string s = (path / utf8_path(name)).u8string();
        return std::string(s.begin(), s.end());
    }
};

std::string read_all(const std::string& path) {
    qern::FileHandle f = open_file(path, "rb");
    if (!f) return "<missing>";
    std::string bytes;
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) bytes.append(buffer, n);
    return bytes;
}

bool write_all(const std::string& path, const std::string& bytes) {
    qern::FileHandle f = open_file(path, "wb");
    return f && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
}

TEST(FileNamesInAnyScript, OpenReplaceAndRemoveByUtf8Path) {
    ScratchFolder folder("names");
    // Japanese, Cyrillic, and a character outside code page 932 (é), in a
    // sub-folder whose name is also outside ASCII.
    const std::string sub = folder.file("声 Голос");
    std::filesystem::create_directories(utf8_path(sub));
    const std::string voice = sub + "/あ_Жé.wav";
    const std::string other = sub + "/い.wav";

    ASSERT_TRUE(write_all(voice, "first"));
    EXPECT_EQ(read_all(voice), "first");
    ASSERT_TRUE(write_all(other, "second"));
    // Rename over an existing file.
    ASSERT_TRUE(qern::replace_file(other, voice));
    EXPECT_EQ(read_all(voice), "second");
    EXPECT_FALSE(std::filesystem::exists(utf8_path(other)));
    // The name on disk is the very name given, not a lossy version of it.
    EXPECT_TRUE(std::filesystem::exists(utf8_path(voice)));
    EXPECT_TRUE(qern::remove_file(voice));
    EXPECT_FALSE(std::filesystem::exists(utf8_path(voice)));
    EXPECT_FALSE(qern::remove_file(voice));
    EXPECT_EQ(open_file(voice, "rb"), nullptr);
}

#ifdef _WIN32

TEST(FileNamesInAnyScript, Utf8NameIsTheWideNameOnDisk) {
    ScratchFolder folder("wide");
    ASSERT_TRUE(write_all(folder.file("あЖ.pmk"), "x"));
    const std::wstring wide = folder.path.wstring() + L"\\\u3042\u0416.pmk";
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FileNamesInAnyScript, TextModeWritesCrLf) {
    ScratchFolder folder("text");
    const std::string log = folder.file("ログ.log");
    {
        qern::FileHandle f = open_file(log, "wt");
        ASSERT_NE(f, nullptr);
        std::fputs("a\nb\n", f.get());
    }
    EXPECT_EQ(read_all(log), "a\r\nb\r\n");
}

TEST(WideCommandLine, PathsBecomeUtf8AndTheRestCodePage932) {
    const wchar_t* argv[] = {L"C:\\ツール\\qern.exe",
                             L"C:\\声\\Голос\\あ.wav",
                             L"C:\\出力\\é.wav",
                             L"A#4",
                             L"100",
                             L"g-5H20",
                             L"あЖ\u00e9",
                             L"AA#12#//"};
    qern::NarrowCommandLine line = qern::narrow_command_line(8, argv, "");
    ASSERT_EQ(line.count(), 8);
    EXPECT_EQ(line.strings[0], "C:\\ツール\\qern.exe");
    EXPECT_EQ(line.strings[1], "C:\\声\\Голос\\あ.wav");
    EXPECT_EQ(line.strings[2], "C:\\出力\\é.wav");
    EXPECT_EQ(line.strings[3], "A#4");
    EXPECT_EQ(line.strings[5], "g-5H20");
    // あ is 82 A0 and Ж is 84 47 in code page 932; é has no code there.
    EXPECT_EQ(line.strings[6], "\x82\xA0\x84\x47?");
    EXPECT_EQ(line.strings[7], "AA#12#//");
    // argv-style: pointers into the strings, then a null pointer.
    char** args = line.argv();
    EXPECT_STREQ(args[4], "100");
    EXPECT_EQ(args[8], nullptr);
}

TEST(WideCommandLine, ProgramPathReplacesElementZero) {
    const wchar_t* argv[] = {L"qern", L"a.wav", L"nul", L"A4", L"100"};
    qern::NarrowCommandLine line = qern::narrow_command_line(5, argv, "C:\\ツール\\qern.exe");
    EXPECT_EQ(line.strings[0], "C:\\ツール\\qern.exe");
    EXPECT_EQ(line.strings[2], "nul");

    qern::NarrowCommandLine empty = qern::narrow_command_line(0, argv, "C:\\x.exe");
    EXPECT_EQ(empty.count(), 0);
    EXPECT_EQ(empty.argv()[0], nullptr);
}

TEST(WideCommandLine, ExecutablePathIsTheFullPathOfThisProgram) {
    const std::string path = qern::executable_path();
    ASSERT_GE(path.size(), 7u);
    EXPECT_EQ(path[1], ':');
    EXPECT_EQ(path[2], '\\');
    EXPECT_EQ(path.substr(path.size() - 4), ".exe");
}

TEST(WideCommandLine, UnpairedSurrogateAndEmptyText) {
    const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_EQ(qern::utf16_to_utf8(lone), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(qern::utf16_to_utf8(L""), "");
    EXPECT_EQ(qern::utf16_to_cp932(L""), "");
}

#endif  // _WIN32

}  // namespace
