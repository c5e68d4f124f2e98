// The WAV reader and writer of the Windows tavimo.exe, run on bytes in memory.
#include "ToolRunner.h"

#include "tools/HostError.h"
#include "tools/audio/WavCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace tav::test {
namespace {

namespace wav = host::wav;

// Parses from a heap block of exactly the file's size, so that any read past it is caught.
host::AudioBuffer parseExact(const std::vector<unsigned char>& bytes) {
    auto copy = std::make_unique<unsigned char[]>(bytes.size());
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    return wav::parse(copy.get(), bytes.size(), "test.wav");
}

void appendChunk(std::vector<unsigned char>& bytes, const char* id, uint32_t size) {
    bytes.insert(bytes.end(), id, id + 4);
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<unsigned char>(size >> (8 * i)));
}

TEST(WavCodec, RoundTripsFloatSamplesExactly) {
    const auto buffer = bufferOf(44100.0, {{0.5f, -1.0f, 1e-30f}, {0.25f, 3.0f, -0.0f}});
    const auto decoded = parseExact(wav::encode(buffer, "test.wav"));
    EXPECT_EQ(decoded.sampleRate, 44100.0);
    EXPECT_EQ(decoded.channels, buffer.channels);
}

TEST(WavCodec, ChunksEndingAtTheEndOfTheFileAreReadWithinIt) {
    const auto encoded = wav::encode(bufferOf(48000.0, {{0.5f, -0.5f}}), "test.wav");
    auto withEmptyTail = encoded;
    appendChunk(withEmptyTail, "LIST", 0);
    EXPECT_EQ(parseExact(withEmptyTail).frames(), 2);
    auto withCutTail = encoded;
    appendChunk(withCutTail, "LIST", 100);
    EXPECT_EQ(parseExact(withCutTail).frames(), 2);
    // The data chunk itself cut short: the whole frames that are there.
    auto cut = encoded;
    cut.pop_back();
    EXPECT_EQ(parseExact(cut).frames(), 1);
}

TEST(WavCodec, WritingPastTheFormatsSizeLimitIsRefused) {
    // The RIFF size counts the 48 bytes of "WAVE", "fmt ", "fact" and the data chunk's header
    // besides the samples, and is 32 bits wide.
    constexpr int64_t kLargestStereo = (0xFFFFFFFFll - 48) / 8;
    EXPECT_NO_THROW(wav::checkFits(kLargestStereo, 2, "big.wav"));
    EXPECT_THROW(wav::checkFits(kLargestStereo + 1, 2, "big.wav"), host::HostError);
    EXPECT_THROW(wav::checkFits(int64_t{1} << 40, 1, "big.wav"), host::HostError);
}

} // namespace
} // namespace tav::test
