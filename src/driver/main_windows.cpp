// Entry point on Windows: takes the command line in UTF-16 (wmain, linked
// with -municode) and hands it to the run sequence as byte strings.
#include "driver/wide_command_line.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    qern::NarrowCommandLine arguments =
        qern::narrow_command_line(argc, argv, qern::executable_path());
    (void)arguments;
    std::fputs("QERN Ver0.19\n", stdout);
    return 0;
}
