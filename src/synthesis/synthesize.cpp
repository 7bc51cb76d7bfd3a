#include "synthesis/synthesize.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "driver/error_log.h"
#include "driver/failure_summary.h"
#include "dsp/kernels.h"
#include "synthesis/grain_engine.h"

namespace qern {

namespace {

int clamp_to_int(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// Samples of the input as milliseconds, for messages.
double milliseconds(double samples, const ResampleJob& job) {
    return job.sample_rate > 0 ? samples * 1000.0 / job.sample_rate : 0.0;
}

}  // namespace

int synthesize(ResampleJob& job) {
    const long long length = static_cast<long long>(job.required_length) + OUTPUT_TAIL;
    SampleBuffer output;
    if (length >= 0 && length <= INT_MAX - 2 * SAMPLE_MARGIN) {
        output = SampleBuffer::allocate(static_cast<int>(length));
    }
    if (output.empty()) {
        log_error("%sデータ取り込み用メモリの確保に失敗\n", ERROR_PREFIX);
        note_failure_reason("out of memory for an output of %lld samples", length);
        return -1;
    }
    const int L = output.count();
    const SampleSpan out = output.span();

    // Fixed part (the consonant): re-timed by the velocity factor only.
    const double p1 = synthesize_section(job, job.left_blank, job.consonant_length, out,
                                         job.consonant_out_length, 0.0);
    if (p1 == 0.0 && job.consonant_out_length > 0) {
        log_error("%s固定範囲の合成処理に失敗\n", ERROR_PREFIX);
        note_failure_reason("no pitch marks for the consonant part from %.0f ms (the input lasts %.0f ms)",
                            milliseconds(job.left_blank, job), milliseconds(job.sample_count, job));
        return -1;
    }

    // Vowel part: the rest of the used region, up to the right blank, fills
    // what is left of the requested length, from where the first part ended.
    const long long vowel_start = static_cast<long long>(job.left_blank) + job.consonant_length;
    const long long vowel_length =
        static_cast<long long>(job.sample_count) - job.right_blank - vowel_start;
    const int vowel_out_length = clamp_to_int(static_cast<long long>(job.required_length) -
                                              job.consonant_out_length);
    const double p2 = synthesize_section(job, clamp_to_int(vowel_start), clamp_to_int(vowel_length),
                                         out, vowel_out_length, p1);
    if (p2 == 0.0 && vowel_out_length > 0) {
        log_error("%s母音部の合成処理に失敗\n", ERROR_PREFIX);
        note_failure_reason("no pitch marks for the vowel part from %.0f ms (the input lasts %.0f ms)",
                            milliseconds(static_cast<double>(vowel_start), job),
                            milliseconds(job.sample_count, job));
        return -1;
    }

    one_pole_smooth(job.flag_H / 100.0, out, L);
    if (job.flag_g > 0) {
        // The grains were stretched by 10^(g/200): cut what lies above the
        // Nyquist frequency divided by that factor.
        const double cutoff = 0.5 * std::pow(10.0, -job.flag_g / 200.0);
        if (fir_lowpass(out, L, out, cutoff) != 0) {
            log_error("%sgフラグ用のローパスフィルタ処理に失敗\n", ERROR_PREFIX);
            note_failure_reason("the low-pass filter of the g flag failed (out of memory?)");
            return -1;
        }
    }

    // The output replaces the input (which is freed here).
    job.samples = std::move(output);
    job.sample_count = L;
    normalize_and_clip(job.samples.span(), L, job.volume, job.flag_P);
    return 0;
}

}  // namespace qern
