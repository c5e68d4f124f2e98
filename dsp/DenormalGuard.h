#pragma once

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace tav {

// The processor's floating-point control word, as far as denormal handling goes.
namespace floatcontrol {

#if defined(__x86_64__) || defined(_M_X64)
using State = unsigned int;

// MXCSR bits: flush-to-zero (15) and denormals-are-zero (6).
inline constexpr unsigned int kFlushDenormalsMask = 0x8040u;

inline State read() {
    return _mm_getcsr();
}
inline void write(State state) {
    _mm_setcsr(state);
}
inline State withDenormalsFlushed(State state) {
    return state | kFlushDenormalsMask;
}
#else
// Other targets keep their default handling until they add their own control word here.
using State = int;
inline State read() {
    return 0;
}
inline void write(State) {}
inline State withDenormalsFlushed(State state) {
    return state;
}
#endif

} // namespace floatcontrol

// Flushes denormal results and operands to zero while it lives; restores the previous
// control state on destruction. Audio thread; never allocates.
class DenormalGuard {
public:
    DenormalGuard() : saved(floatcontrol::read()) {
        floatcontrol::write(floatcontrol::withDenormalsFlushed(saved));
    }
    ~DenormalGuard() { floatcontrol::write(saved); }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    floatcontrol::State saved;
};

} // namespace tav
