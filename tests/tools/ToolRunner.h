#pragma once

#include "tools/audio/AudioFile.h"

#include <filesystem>
#include <string>
#include <vector>

// Running the built tavimo as a user would, on files the tests make in a folder of their own.
namespace tav::test {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs command (a shell line) and collects its exit code, standard output and standard error.
RunResult runCommand(const std::string& command);

// Runs the built tavimo with arguments (each quoted for the shell).
RunResult runTavimo(const std::vector<std::string>& arguments);

// A fresh, empty folder for one test, named after it.
std::filesystem::path freshFolder(const std::string& name);

// The names of the files in folder.
std::vector<std::string> filesIn(const std::filesystem::path& folder);

// Planar buffer from per-channel samples.
host::AudioBuffer bufferOf(double rate, std::vector<std::vector<float>> channels);

} // namespace tav::test
