#include "tools/commands/JobProgress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define TAVIMO_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define TAVIMO_ISATTY(f) isatty(fileno(f))
#endif

namespace tav::tools {
namespace {

std::string minutesAndSeconds(double seconds) {
    const auto whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

} // namespace

JobProgress::JobProgress(bool quiet)
    : enabled(!quiet && TAVIMO_ISATTY(stderr) != 0), started(Clock::now()), stepStarted(started) {}

double JobProgress::elapsed() const {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

void JobProgress::step(const std::string& name) {
    stepName = name;
    stepStarted = Clock::now();
    fraction = -1.0;
    shownPercent = -1;
    draw();
}

void JobProgress::operator()(double done) {
    const int percent = static_cast<int>(done * 100.0);
    fraction = done;
    if (percent == shownPercent)
        return;
    shownPercent = percent;
    draw();
}

void JobProgress::draw() {
    if (!enabled)
        return;
    std::string line = "tavimo: " + stepName;
    if (fraction >= 0.0) {
        const int filled = static_cast<int>(fraction * 30.0);
        line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(30 - filled), ' ') + "] ";
        char percent[8];
        std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100.0));
        line += percent;
    }
    line += "  " + minutesAndSeconds(elapsed()) + " elapsed";
    const double inStep = std::chrono::duration<double>(Clock::now() - stepStarted).count();
    if (fraction > 0.01)
        line += ", " + minutesAndSeconds(inStep * (1.0 - fraction) / fraction) + " left";
    const std::size_t width = line.size();
    if (width < drawnWidth)
        line += std::string(drawnWidth - width, ' ');
    drawnWidth = width;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
}

void JobProgress::finish() {
    if (enabled && drawnWidth > 0)
        std::fprintf(stderr, "\r%s\r", std::string(drawnWidth, ' ').c_str());
    drawnWidth = 0;
}

} // namespace tav::tools
