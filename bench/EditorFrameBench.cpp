#include "support/XvfbServer.h"
#include "ui/linux/NativeWindow.h"
#include "ui/linux/SnapshotRenderer.h"

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>

// Wall time of one whole editor frame through the real path: the view painted off-screen, the
// image put on an X window and the server done with it, on a private Xvfb. Every frame brings a
// fresh analysis record, so the morph field and the meters keep moving as they do in a session.
namespace {

using tav::ui::NativeWindow;
using tav::ui::Window;

constexpr float kFrameSeconds = 1.0f / 30.0f;

// A run loop that never calls back: the benchmark paints the frames itself.
class IdleRunLoop final : public tav::ui::RunLoop {
public:
    bool addTimer(tav::ui::RunLoopClient&, uint32_t) override { return true; }
    bool addDescriptor(tav::ui::RunLoopClient&, int) override { return true; }
    void remove(tav::ui::RunLoopClient&) override {}
};

// Both inputs playing, their spectra drifting a little from frame to frame.
tav::AnalysisRecord recordAt(int frame) {
    tav::AnalysisRecord record;
    const float drift = 0.3f * std::sin(static_cast<float>(frame) * 0.21f);
    for (int k = 0; k < tav::kDisplayBands; ++k) {
        const float x = static_cast<float>(k) / tav::kDisplayBands;
        record.meters.bandEnergyA[k] =
            std::pow(0.5f + 0.5f * std::cos(static_cast<float>(k) * (0.55f + 0.05f * drift)),
                     6.0f) *
                std::exp(-static_cast<float>(k) / 18.0f) +
            1e-6f;
        record.meters.bandEnergyB[k] =
            0.02f + std::exp(-std::pow((x - 0.62f - 0.1f * drift) / 0.18f, 2.0f));
    }
    record.meters.weightedEnergyA = 1e-3f;
    record.meters.weightedEnergyB = 1e-3f;
    record.meters.levelA = 0.6f + 0.2f * drift;
    record.meters.levelB = 0.5f - 0.2f * drift;
    record.latencySamples = 2120;
    record.sampleRate = 48000.0;
    record.sidechainActive = 1;
    return record;
}

void BM_EditorFrame(benchmark::State& state) {
    const float scale = static_cast<float>(state.range(0)) / 100.0f;
    tav::test::XvfbServer server(1600, 1100);
    if (!server.ok()) {
        state.SkipWithError("Xvfb did not start");
        return;
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    xcb_connection_t* connection = xcb_connect(server.display().c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;

    Window view;
    tav::ui::SnapshotScene::prepare(view, tav::ui::SnapshotState{});
    IdleRunLoop loop;
    {
        NativeWindow window(view, {}, loop);
        if (!window.create(root, static_cast<int32_t>(std::lround(Window::kWidth * scale)),
                           static_cast<int32_t>(std::lround(Window::kHeight * scale)),
                           TAVIMO_FONTS_DIR)) {
            state.SkipWithError("no editor window");
        } else {
            int frame = 0;
            for (int warm = 0; warm < 30; ++warm) {
                view.updateSignals(recordAt(frame++), kFrameSeconds);
                window.paintNow();
            }
            for (auto _ : state) {
                view.updateSignals(recordAt(frame++), kFrameSeconds);
                window.paintNow();
            }
            state.counters["shared_memory"] = window.usesSharedMemory() ? 1.0 : 0.0;
        }
    }
    xcb_disconnect(connection);
}

BENCHMARK(BM_EditorFrame)
    ->Arg(100)
    ->Arg(200)
    ->ArgName("scale_percent")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

} // namespace
