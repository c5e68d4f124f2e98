#include "ToolRunner.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tav::test {

namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

} // namespace

RunResult runCommand(const std::string& command) {
    // Tests run in parallel, each in a process of its own: the process id keeps their
    // captured outputs apart.
    static int counter = 0;
    const auto base = std::filesystem::path(TAVIMO_TEST_WORK_DIR) / "runs";
    std::filesystem::create_directories(base);
    // Tests run in parallel processes, each counting from 1: the process id keeps them apart.
    const std::string run = std::to_string(getpid()) + "-" + std::to_string(++counter);
    const auto outPath = base / ("out-" + run);
    const auto errPath = base / ("err-" + run);
    const std::string line = command + " >" + quoted(outPath.string()) + " 2>" +
                             quoted(errPath.string()) + " </dev/null";
    const int status = std::system(line.c_str());
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readAll(outPath);
    result.err = readAll(errPath);
    std::error_code ignored;
    std::filesystem::remove(outPath, ignored);
    std::filesystem::remove(errPath, ignored);
    return result;
}

RunResult runTavimo(const std::vector<std::string>& arguments) {
    // A sanitizer's own report must not pass for the tool's error line.
    std::string command = "ASAN_OPTIONS=detect_leaks=1 " + quoted(TAVIMO_EXECUTABLE);
    for (const auto& argument : arguments)
        command += " " + quoted(argument);
    return runCommand(command);
}

std::filesystem::path freshFolder(const std::string& name) {
    const auto folder = std::filesystem::path(TAVIMO_TEST_WORK_DIR) / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

host::AudioBuffer bufferOf(double rate, std::vector<std::vector<float>> channels) {
    host::AudioBuffer buffer;
    buffer.sampleRate = rate;
    buffer.channels = std::move(channels);
    return buffer;
}

} // namespace tav::test
