// The entry point of the voicebank tools, which take their arguments as
// UTF-8 on every system: on Windows the command line is taken in UTF-16
// (wmain) and converted, so that folder and file names in any language
// arrive whole. A tool includes this header once and defines run_tool.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>
#endif

int run_tool(int argc, char** argv);

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int length = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
        if (length > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), length, nullptr, nullptr);
        text.resize(text.size() - 1);  // the terminating zero
        arguments.push_back(std::move(text));
    }
    std::vector<char*> pointers;
    for (std::string& a : arguments) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return run_tool(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return run_tool(argc, argv); }
#endif
