#pragma once

// Converting a value computed from a frequency or a rate into a table index. A plain cast of
// a huge or non-finite double is undefined and, in practice, reads far out of range.
namespace tav {

// The whole part of value, clamped to first..last; NaN gives first. Any thread; never
// allocates.
constexpr int clampedIndex(double value, int first, int last) {
    if (!(value > static_cast<double>(first)))
        return first;
    if (value >= static_cast<double>(last))
        return last;
    return static_cast<int>(value);
}

} // namespace tav
