// Placeholder until the synthesis is in place.
#include "synthesis/synthesize.h"

#include "driver/error_log.h"

namespace qern {

int synthesize(ResampleJob&) {
    log_error("%s(synthesis is not built yet)\n", ERROR_PREFIX);
    return -1;
}

}  // namespace qern
