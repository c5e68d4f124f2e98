#pragma once

// The transform's long loops for one instruction set, chosen once when a transform is made.

namespace tav::fft {

struct KernelPath {
    void (*singleStage)(float* re, float* im, int m, int h, const float* cosines,
                        const float* sines);
    void (*stagePair)(float* re, float* im, int m, int h, const float* firstCos,
                      const float* firstSin, const float* secondCos, const float* secondSin);
    void (*splitForward)(const float* zRe, const float* zIm, const float* c, const float* s, int m,
                         float* re, float* im);
    void (*splitInverse)(const float* re, const float* im, const float* c, const float* s, int m,
                         float* packRe, float* packIm);
    void (*firstStagesWide)(const float* sourceRe, const float* sourceIm, int m,
                            const int* bitReversal, const float* stageCos, const float* stageSin,
                            float* re, float* im);
    int width; // floats per vector; the wide gather needs M/16 of at least this
};

// SSE2, which every x86-64 processor has.
const KernelPath& baselinePath();
// AVX2 (256-bit vectors), or null when this processor or operating system lacks it.
const KernelPath* avx2Path();

// The AVX2 loops themselves; only reached through avx2Path.
extern const KernelPath kAvx2Kernels;

} // namespace tav::fft
