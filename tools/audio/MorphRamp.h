#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tav::host {

// What a ramp's values may be and how its errors name it: Morph's 0..1 by default; Mix and
// Output take ramps of the same form in their own units.
struct RampLimits {
    const char* option = "--morph";
    double minimum = 0.0;
    double maximum = 1.0;
    const char* unit = ""; // "percent", "dB"; empty for none
};

// A parameter over time: a constant, or points (seconds, value) joined by straight lines and
// held flat before the first point and after the last.
class MorphRamp {
public:
    // Main thread; allocates. Reads "0.7" or "0:0,8:1". Throws HostError, naming the option of
    // limits, on anything else, on values outside its range and on times that are negative or
    // go backwards.
    static MorphRamp parse(const std::string& text, const RampLimits& limits = {});
    // Any thread; allocates. One value for all time.
    static MorphRamp constant(double value);

    // Any thread. The value at a time in seconds.
    double valueAt(double seconds) const;
    bool isConstant() const { return points.size() == 1; }
    const std::vector<std::pair<double, double>>& breakpoints() const { return points; }

private:
    std::vector<std::pair<double, double>> points;
};

// Any thread; allocates. "0 to 100 percent", as help and errors say a range.
std::string rangeInWords(const RampLimits& limits);

} // namespace tav::host
