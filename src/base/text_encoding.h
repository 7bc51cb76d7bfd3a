// The one encoding step at the output edge: the program's texts are UTF-8 in
// the sources and are written as code page 932 on Windows, as UTF-8 elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace qern {

// Converts UTF-8 text to code page 932 bytes. ASCII passes unchanged; every
// character of the program's own texts has an entry in a generated table.
// A character without one becomes '?' (on Windows the system's conversion is
// asked first). Bytes that are not valid UTF-8 pass through unchanged, so
// text that already is in code page 932 survives. Pure; any platform.
std::string utf8_to_cp932(std::string_view utf8);

// The text as the console and the log take it: utf8_to_cp932 on Windows,
// unchanged elsewhere.
std::string to_console_encoding(std::string_view utf8);

// An argument in the platform's command-line encoding (code page 932 on
// Windows, UTF-8 elsewhere) as UTF-8, for messages.
std::string argument_to_utf8(std::string_view argument);

}  // namespace qern
