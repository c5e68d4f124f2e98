#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tav::host {

// Morph over time: a constant, or points (seconds, value) joined by straight lines and held
// flat before the first point and after the last.
class MorphRamp {
public:
    // Main thread; allocates. Reads "0.7" or "0:0,8:1". Throws HostError on anything else,
    // on values outside 0..1 and on times that are negative or go backwards.
    static MorphRamp parse(const std::string& text);
    static MorphRamp constant(double value);

    double valueAt(double seconds) const;
    bool isConstant() const { return points.size() == 1; }
    const std::vector<std::pair<double, double>>& breakpoints() const { return points; }

private:
    std::vector<std::pair<double, double>> points;
};

} // namespace tav::host
