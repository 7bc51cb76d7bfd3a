// The command line as Windows hands it to wmain (UTF-16), turned into the
// byte strings the rest of the program takes.
//
// Paths are kept in UTF-8, the program's own path encoding: the program
// path (element 0), the input path (element 1) and the output path
// (element 2). The file functions widen them again, so a path in any
// language opens. Every other argument (note name, velocity, flags,
// numbers, pitch-bend string) becomes code page 932 bytes, the encoding in
// which the editor means them.
#pragma once

#ifdef _WIN32

#include <string>
#include <vector>

namespace qern {

// The index of the last argument that is a path (0: program, 1: input,
// 2: output).
inline constexpr int LAST_PATH_ARGUMENT = 2;

// Owns the converted strings and an argv-style array pointing into them,
// ending with a null pointer.
struct NarrowCommandLine {
    std::vector<std::string> strings;
    std::vector<char*> pointers;

    int count() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }
};

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(const wchar_t* text);
// UTF-16 to code page 932; characters that it lacks become '?'.
std::string utf16_to_cp932(const wchar_t* text);

// The full path of the running executable (UTF-8), as the module loader
// knows it; empty if it cannot be had.
std::string executable_path();

// Converts wmain's arguments. `program_path`, when not empty, replaces
// element 0 (see executable_path).
NarrowCommandLine narrow_command_line(int argc, const wchar_t* const* argv,
                                      const std::string& program_path);

}  // namespace qern

#endif  // _WIN32
