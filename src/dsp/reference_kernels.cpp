#include "dsp/reference_kernels.h"

#include <algorithm>
#include <cmath>

#include "dsp/kernels.h"
#include "dsp/sinc.h"

namespace qern {

namespace {

constexpr int FRAME = AUTOCORRELATION_FRAME;
constexpr int SYMMETRIC_HALF = 22;

}  // namespace

void lagged_products_plain(const double* x, int first, int last, double* r) {
    for (int k = first; k <= last; ++k) {
        double sum = 0.0;
        for (int j = 0; j < FRAME - k; ++j) sum += x[j] * x[j + k];
        r[k] = 512.0 * sum / static_cast<double>(FRAME - k);
    }
}

void tapped_sums_plain(const double* h, int kernel_end, const double* x, double* y, int count) {
    for (int u = 0; u < count; ++u) {
        double sum = 0.0;
        for (int k = 1; k < kernel_end; ++k) sum += h[k] * x[u - k];
        y[u] = sum;
    }
}

void symmetric_taps_plain(const double* h, const double* x, double* y, int count) {
    for (int i = 0; i < count; ++i) {
        double sum = h[0] * x[i];
        for (int k = 1; k <= SYMMETRIC_HALF; ++k) sum += h[k] * (x[i - k] + x[i + k]);
        y[i] = sum;
    }
}

int sinc_resample_plain(int first, int last, SampleSpan dst, double ratio, int centre, SampleSpan src) {
    const int lo = first - centre;
    const int hi = last - centre;
    const double r = 1.0 / ratio;
    const int out_first = static_cast<int>(ratio * lo);
    const int out_last = static_cast<int>(ratio * hi);
    for (int i = out_first; i < out_last; ++i) {
        const double u = r * i;
        const int t = static_cast<int>(u);
        const int j_first = std::max(t - 15, lo);
        const int j_last = std::min(t + 15, hi - 1);
        double sum = 0.0;
        for (int j = j_first; j <= j_last; ++j) {
            const double d = PI * (u - j);
            const double s = d == 0.0 ? 1.0 : std::sin(d) / d;
            sum += s * src[centre + j];
        }
        dst[i] = sum;
    }
    return 0;
}

}  // namespace qern
