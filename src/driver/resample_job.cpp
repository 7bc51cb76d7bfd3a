#include "driver/resample_job.h"

namespace qern {

void release_job(ResampleJob& job) {
    job.bend_curve.clear();
    job.bend_curve.shrink_to_fit();
    job.marks.clear();
    job.marks.shrink_to_fit();
    job.samples.reset();
    job.sample_count = 0;
}

}  // namespace qern
