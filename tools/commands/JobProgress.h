#pragma once

#include <chrono>
#include <string>

namespace tav::tools {

// One line on standard error that follows a job from its start: the step running (reading,
// converting, rendering, writing), how far the render has come, the time spent and the time
// left. Drawn only when standard error is a terminal and the user did not ask for quiet.
class JobProgress {
public:
    // Main thread. The job's clock starts here.
    explicit JobProgress(bool quiet);

    // Main thread; allocates. Names the step now running and redraws the line.
    void step(const std::string& name);

    // Main thread; allocates. The share of the current step done, 0..1, from which the time left
    // is estimated. Redraws at most once per percent.
    void operator()(double fraction);

    // Main thread. Clears the line, leaving the terminal as it was.
    void finish();

    // Main thread. Seconds since the job started.
    double elapsed() const;

private:
    void draw();

    using Clock = std::chrono::steady_clock;
    bool enabled;
    Clock::time_point started, stepStarted;
    std::string stepName;
    double fraction = -1.0; // none known
    int shownPercent = -1;
    std::size_t drawnWidth = 0;
};

} // namespace tav::tools
