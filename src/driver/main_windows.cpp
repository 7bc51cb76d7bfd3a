// The resampler executable on Windows. It takes the command line in UTF-16
// (wmain, linked with -municode), so that paths in any language arrive
// whole, and hands it to the run sequence as byte strings: the paths in
// UTF-8, the other arguments in code page 932 (driver/wide_command_line.h).
//
// The program path is the executable's full path as the loader knows it,
// so that the error log lands beside the executable even when the program
// was started by a relative name or without its ".exe".
#include "driver/run.h"
#include "driver/wide_command_line.h"

int wmain(int argc, wchar_t** argv) {
    qern::NarrowCommandLine arguments =
        qern::narrow_command_line(argc, argv, qern::executable_path());
    return qern::run_resampler(arguments.count(), arguments.argv());
}
