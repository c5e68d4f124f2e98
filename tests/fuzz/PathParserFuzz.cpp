// The path parser on arbitrary text: a shape comes back only with finite coordinates, and
// every figure has at least one segment or is a lone start point.
#include "FuzzCheck.h"

#include "ui/PathParser.h"

#include <cmath>
#include <string_view>

namespace {

bool finite(const tav::ui::Point& point) {
    return std::isfinite(point.x) && std::isfinite(point.y);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto shape = tav::ui::PathParser::parse(text);
    if (!shape)
        return 0;
    for (const auto& figure : shape->figures) {
        tav::fuzz::check(finite(figure.start), "figure starts are finite");
        for (const auto& segment : figure.segments)
            tav::fuzz::check(finite(segment.end) && finite(segment.control),
                             "segment points are finite");
    }
    return 0;
}
