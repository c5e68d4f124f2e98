// `tavimo info` asks a live instance, through the VST3 interfaces, what the module offers.
#include "ToolRunner.h"

#include <gtest/gtest.h>

namespace tav::test {
namespace {

TEST(Info, DescribesClassesParametersBusesAndLatency) {
    const RunResult run = runTavimo({"info", "--plugin", TAVIMO_BUNDLE});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* expected :
         {"\"Tavimo\"  Audio Module Class / Fx",
          "\"Tavimo Controller\"  Component Controller Class", "0 \"Morph\"  default 0.5000",
          "values: Transport, Partials, Imprint, Diffuse", "2 \"Mix\" [%]  default 100.0000",
          "3 \"Output\" [dB]  default 0.0000", "0 -> -24.0000", "values: Off, On",
          "values: Standard, High", "input 1 \"Sidechain\"  aux", "inactive until routed",
          "44100 Hz    2114 /  47.94    4162 /  94.38",
          "48000 Hz    2120 /  44.17    4168 /  86.83",
          "96000 Hz    4240 /  44.17    8336 /  86.83"})
        EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
}

} // namespace
} // namespace tav::test
