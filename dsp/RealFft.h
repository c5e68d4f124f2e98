#pragma once

#include <vector>

namespace tav {

namespace fft {
struct KernelPath;
}

// Real-input FFT of size N (a power of two, at least 8), computed through one complex
// radix-2 transform of size M = N/2. Spectra are split re/im arrays of M + 1 bins.
// Forward is unscaled; inverse carries the whole 1/N. One object serves one caller at a time.
class RealFft {
public:
    // Which vectors the long loops use: the widest this processor offers, or the baseline every
    // x86-64 processor has (for tests; both give the same results to the bit).
    enum class VectorPath { Widest, Baseline };

    // Any thread; allocates. Tabulates every twiddle so that the transforms need no trigonometry,
    // and picks the vector instructions once.
    explicit RealFft(int size, VectorPath vectors = VectorPath::Widest);

    // Audio thread; never allocates. X[k] = sum x[n] e^(-j2pi kn/N), k = 0..M; im[0] = im[M] = 0.
    void forward(const float* input, float* re, float* im);

    // Audio thread; never allocates. Real signal of the Hermitian spectrum; im[0], im[M] unread.
    void inverse(const float* re, const float* im, float* output);

    int size() const { return n; }
    // Floats per vector in the long loops (4 for SSE2, 8 for AVX2).
    int vectorWidth() const;
    int numBins() const { return half + 1; }

private:
    // The complex transform of size M into the result arrays, from the given input arrays.
    void complexTransform(const float* sourceRe, const float* sourceIm);
    // Bit-reversed gather with the stages of length 2 to 16, for result points [begin, end).
    void firstStages(const float* sourceRe, const float* sourceIm, int begin, int end);
    // The same for all M points at once, four groups of sixteen per step (M >= 64).
    void firstStagesWide(const float* sourceRe, const float* sourceIm);
    // Stages of half-length firstHalf .. lastHalf on the result points [begin, begin + length).
    void laterStages(int begin, int length, int firstHalf, int lastHalf);

    int n;
    int half;
    const fft::KernelPath* kernels;
    std::vector<int> bitReversal;
    std::vector<float> stageCos, stageSin;
    std::vector<float> splitCos, splitSin;
    // Work (input of the complex transform) and result arrays, real and imaginary, M floats
    // each, in one buffer. Power-of-two array lengths would put the same index of all four on
    // the same cache set; a little padding between them keeps the long stages from thrashing.
    std::vector<float> scratch;
    int scratchStride = 0;
    float* workRe() { return scratch.data(); }
    float* workIm() { return scratch.data() + scratchStride; }
    float* resultRe() { return scratch.data() + 2 * scratchStride; }
    float* resultIm() { return scratch.data() + 3 * scratchStride; }
};

} // namespace tav
