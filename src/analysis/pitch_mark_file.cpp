// Placeholder until the analysis is in place.
#include "analysis/pitch_mark_file.h"

#include "driver/error_log.h"

namespace qern {

FileHandle open_pitch_mark_cache(ResampleJob&, const std::string&, int) {
    log_error("%s(pitch analysis is not built yet)\n", ERROR_PREFIX);
    return nullptr;
}

int read_pitch_mark_file(std::FILE*, ResampleJob&) {
    log_error("%s(pitch analysis is not built yet)\n", ERROR_PREFIX);
    return -1;
}

}  // namespace qern
