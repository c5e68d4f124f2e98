// tavimo play, devices and editor through a real JACK server on its dummy back end: what the
// device was given, recorded, against the inputs and an offline render.
#include "JackServer.h"
#include "ToolRunner.h"
#include "support/XvfbServer.h"

#include "tools/audio/AudioFile.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <thread>

namespace tav::test {
namespace {

using host::AudioBuffer;

constexpr double kRate = 48000.0;
constexpr int kPeriod = 256;

std::string quote(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// tavimo run against server; a hang ends in `timeout`'s status 124 rather than a stuck test.
RunResult runLive(const JackServer& server, const std::vector<std::string>& arguments,
                  const std::string& prefix = "") {
    std::string command = prefix + server.environment() + "timeout 60 " + quote(TAVIMO_EXECUTABLE);
    for (const auto& argument : arguments)
        command += " " + quote(argument);
    return runCommand(command);
}

// A deterministic noise-and-tones signal, different for each seed.
AudioBuffer signal(uint32_t seed, double seconds, float level) {
    const auto frames = static_cast<size_t>(seconds * kRate);
    AudioBuffer buffer = AudioBuffer::silence(kRate, 2, static_cast<int64_t>(frames));
    uint32_t state = seed;
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            state = state * 1664525u + 1013904223u;
            const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
            const double tone = std::sin(2.0 * M_PI * (220.0 * (seed % 5 + 1) + 110.0 * c) *
                                         static_cast<double>(i) / kRate);
            buffer.channels[size_t(c)][i] = level * static_cast<float>(0.5 * tone + noise);
        }
    return buffer;
}

// The number written right after prefix in text, or -1.
long long numberAfter(const std::string& text, const std::string& prefix) {
    const size_t at = text.find(prefix);
    if (at == std::string::npos)
        return -1;
    return std::atoll(text.c_str() + at + prefix.size());
}

int reportedLatency(const std::string& out) {
    return static_cast<int>(numberAfter(out, "latency: plug-in "));
}

struct Alignment {
    int64_t delay = -1;
    double error = std::numeric_limits<double>::infinity(); // largest difference at that delay
};

// The delay (in [first, last]) at which recorded[delay + i] best matches reference[i] for
// i < count, by the largest difference.
Alignment align(const std::vector<float>& recorded, const std::vector<float>& reference,
                int64_t count, int64_t first, int64_t last) {
    Alignment best;
    for (int64_t delay = first; delay <= last; ++delay) {
        if (delay + count > static_cast<int64_t>(recorded.size()))
            break;
        double worst = 0.0;
        for (int64_t i = 0; i < count && worst < best.error; ++i)
            worst = std::max(worst, std::fabs(static_cast<double>(recorded[size_t(delay + i)]) -
                                              reference[size_t(i)]));
        if (worst < best.error)
            best = {delay, worst};
    }
    return best;
}

class Live : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = freshFolder(std::string("live-") + info->name());
        server = std::make_unique<JackServer>(serverNameFor(info->name()), kPeriod,
                                              folder / "jackd.log");
        ASSERT_TRUE(server->ok()) << "the JACK server did not start:\n" << server->output();
    }

    // A and B files of a few seconds, different from each other.
    void makeInputs(double seconds = 2.0) {
        host::audio_file::write(folder / "a.wav", signal(1, seconds, 0.4f));
        host::audio_file::write(folder / "b.wav", signal(2, seconds, 0.3f));
        a = host::audio_file::read(folder / "a.wav");
        b = host::audio_file::read(folder / "b.wav");
    }

    // tavimo play on the files for 3 s at morph, recorded; the recording and the latency.
    AudioBuffer playRecorded(const std::string& morph, int& latency) {
        const RunResult run = runLive(
            *server, {"play", (folder / "a.wav").string(), (folder / "b.wav").string(), "--morph",
                      morph, "--seconds", "3", "--record", (folder / "take.wav").string()});
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        latency = reportedLatency(run.out);
        EXPECT_GT(latency, 0) << run.out;
        return host::audio_file::read(folder / "take.wav");
    }

    std::filesystem::path folder;
    std::unique_ptr<JackServer> server;
    AudioBuffer a, b;
};

TEST_F(Live, DevicesListsTheJackServer) {
    const RunResult run = runLive(*server, {"devices"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("through JACK"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  0  system                    4 in  2 out  48000 Hz  (default)"),
              std::string::npos)
        << run.out;
}

TEST_F(Live, AnUnknownDeviceIsOneClearLine) {
    makeInputs(0.5);
    const RunResult run = runLive(*server, {"play", (folder / "a.wav").string(),
                                            (folder / "b.wav").string(), "--device", "nosuch"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "tavimo: error: no audio device \"nosuch\" (tavimo devices lists them)\n");
}

// At the ends of Morph the plug-in passes one input through, delayed by its latency: what went
// to the device is that input, sample for sample, from the latency on.
TEST_F(Live, MorphEndsNullAgainstTheirInputAfterTheLatency) {
    makeInputs();
    for (const auto& [morph, input] : {std::pair{"0", &a}, std::pair{"1", &b}}) {
        int latency = 0;
        const AudioBuffer take = playRecorded(morph, latency);
        ASSERT_GE(take.frames(), a.frames() + latency + 8192) << "morph " << morph;
        for (int c = 0; c < 2; ++c) {
            const Alignment found =
                align(take.channels[size_t(c)], input->channels[size_t(c)], a.frames(), 0, 8192);
            EXPECT_EQ(found.delay, latency) << "morph " << morph << ", channel " << c;
            EXPECT_LT(found.error, 1e-6) << "morph " << morph << ", channel " << c;
        }
    }
}

// Between the ends, the live path is the offline render at the same block size.
TEST_F(Live, MorphBetweenEqualsTheOfflineRender) {
    makeInputs();
    int latency = 0;
    const AudioBuffer take = playRecorded("0.5", latency);
    const RunResult render = runTavimo(
        {"render", (folder / "a.wav").string(), (folder / "b.wav").string(), "-o",
         (folder / "offline.wav").string(), "--morph", "0.5", "--block", std::to_string(kPeriod)});
    ASSERT_EQ(render.exitCode, 0) << render.err;
    const AudioBuffer offline = host::audio_file::read(folder / "offline.wav");
    // Past A's end the live input loops while the render's is silent: compare before it.
    const int64_t count = a.frames() - latency;
    for (int c = 0; c < 2; ++c) {
        const Alignment found =
            align(take.channels[size_t(c)], offline.channels[size_t(c)], count, 0, 8192);
        EXPECT_EQ(found.delay, latency) << "channel " << c;
        EXPECT_LT(found.error, 1e-6) << "channel " << c;
    }
}

// A test client of the server plays noise into tavimo's inputs and listens to its outputs.
class Feeder {
public:
    Feeder(const std::string& server, int64_t sendFrames, int64_t listenFrames)
        : sent(signal(7, static_cast<double>(sendFrames) / kRate, 0.3f)),
          heard(AudioBuffer::silence(kRate, 2, listenFrames)) {
        jack_status_t status{};
        client = jack_client_open("feeder",
                                  static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                  &status, server.c_str());
        if (client == nullptr)
            return;
        for (int c = 0; c < 2; ++c) {
            out[c] = jack_port_register(client, ("out_" + std::to_string(c + 1)).c_str(),
                                        JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
            in[c] = jack_port_register(client, ("in_" + std::to_string(c + 1)).c_str(),
                                       JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        }
        jack_set_process_callback(client, &Feeder::onProcess, this);
        jack_activate(client);
    }
    ~Feeder() {
        if (client != nullptr)
            jack_client_close(client);
    }

    bool ok() const { return client != nullptr; }

    // Waits until tavimo plays, connects its ports to ours (its inputs too, when it has them)
    // and starts sending. False when it does not come.
    bool connectToTavimo(bool inputs) {
        // Its last port is connected to the server's own when it has started; connecting
        // earlier would race with its own connections.
        const char* last = inputs ? "tavimo:inport 1" : "tavimo:outport 1";
        const char* system = inputs ? "system:capture_2" : "system:playback_2";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            jack_port_t* port = jack_port_by_name(client, last);
            if (port != nullptr && jack_port_connected_to(port, system))
                break;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (int c = 0; c < 2; ++c) {
            const std::string n = std::to_string(c);
            if (!connect(("tavimo:outport " + n).c_str(), jack_port_name(in[c])) ||
                (inputs && !connect(jack_port_name(out[c]), ("tavimo:inport " + n).c_str())))
                return false;
        }
        armed = true;
        return true;
    }

    // Waits until all that was to be heard was.
    bool waitUntilHeard() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (position.load() < heard.frames())
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return true;
    }

    AudioBuffer sent, heard;

private:
    bool connect(const char* from, const char* to) {
        const int result = jack_connect(client, from, to);
        return result == 0 || result == EEXIST;
    }

    static int onProcess(jack_nframes_t frames, void* self) {
        auto* feeder = static_cast<Feeder*>(self);
        const bool armed = feeder->armed.load();
        for (int c = 0; c < 2; ++c) {
            auto* to = static_cast<float*>(jack_port_get_buffer(feeder->out[c], frames));
            const auto* from =
                static_cast<const float*>(jack_port_get_buffer(feeder->in[c], frames));
            const int64_t at = feeder->position.load();
            for (jack_nframes_t i = 0; i < frames; ++i) {
                const int64_t n = at + i;
                const bool sending = armed && n < feeder->sent.frames();
                to[i] = sending ? feeder->sent.channels[size_t(c)][size_t(n)] : 0.0f;
                if (armed && n < feeder->heard.frames())
                    feeder->heard.channels[size_t(c)][size_t(n)] = from[i];
            }
        }
        if (armed)
            feeder->position.fetch_add(frames);
        return 0;
    }

    jack_client_t* client = nullptr;
    jack_port_t* out[2]{};
    jack_port_t* in[2]{};
    std::atomic<bool> armed{false};
    std::atomic<int64_t> position{0};
};

// Live input: what a client plays into tavimo's inputs comes out, at Morph 0, delayed by the
// reported latency plus the server's buffering, and is in the recording.
TEST_F(Live, LiveInputComesOutAfterTheLatency) {
    makeInputs();
    const int64_t sendFrames = static_cast<int64_t>(1.0 * kRate);
    Feeder feeder(server->name(), sendFrames, static_cast<int64_t>(1.5 * kRate));
    ASSERT_TRUE(feeder.ok());
    RunResult run;
    std::thread tavimo([&] {
        run = runLive(*server, {"play", "--input", "a", (folder / "b.wav").string(), "--morph", "0",
                                "--seconds", "5", "--record", (folder / "take.wav").string()});
    });
    const bool connected = feeder.connectToTavimo(/*inputs*/ true);
    const bool heard = connected && feeder.waitUntilHeard();
    tavimo.join();
    ASSERT_TRUE(connected) << "tavimo's ports did not appear\n" << run.out << run.err;
    ASSERT_TRUE(heard);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const int latency = reportedLatency(run.out);
    ASSERT_GT(latency, 0) << run.out;

    // A short stretch: a late cycle on a busy machine drops a block of live input, which no
    // plug-in can help, and must not be taken for a wrong delay.
    const int64_t count = 8192;
    for (int c = 0; c < 2; ++c) {
        const Alignment found =
            align(feeder.heard.channels[size_t(c)], feeder.sent.channels[size_t(c)], count, 0,
                  latency + 8 * kPeriod);
        EXPECT_LT(found.error, 1e-6) << "channel " << c;
        EXPECT_GE(found.delay, latency) << "channel " << c;
        EXPECT_LE(found.delay, latency + 2 * kPeriod) << "channel " << c;
        std::printf("channel %d: heard after %lld samples (plug-in latency %d)\n", c,
                    static_cast<long long>(found.delay), latency);
    }
    const AudioBuffer take = host::audio_file::read(folder / "take.wav");
    const Alignment inTake =
        align(take.channels[0], feeder.sent.channels[0], count, 0, take.frames() - count);
    EXPECT_LT(inTake.error, 1e-6);
}

TEST_F(Live, AServerThatStopsEndsPlayingWithAMessage) {
    makeInputs(1.0);
    RunResult run;
    std::thread tavimo([&] {
        run = runLive(*server, {"play", (folder / "a.wav").string(), (folder / "b.wav").string(),
                                "--seconds", "40"});
    });
    bool playing = false;
    {
        Feeder watcher(server->name(), 0, 0);
        playing = watcher.ok() && watcher.connectToTavimo(/*inputs*/ false);
    }
    server->stop();
    tavimo.join();
    ASSERT_TRUE(playing) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("tavimo: error: the audio device stopped"), std::string::npos)
        << run.err;
}

TEST_F(Live, TheEditorPlaysThroughTheServer) {
    XvfbServer display;
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    const RunResult run =
        runLive(*server, {"editor", "--seconds", "2"}, "DISPLAY=" + display.display() + " ");
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("playing through JACK \"system\", 48000 Hz, 256-sample blocks"),
              std::string::npos)
        << run.out;
    EXPECT_GT(numberAfter(run.out, "editor closed after "), 100) << run.out; // 2 s: 375 blocks
}

} // namespace
} // namespace tav::test
