#pragma once

#include "tools/HostError.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tav::tools {

// Main thread; allocates. Checks, before any work starts, that a file can be written at output:
// its folder exists, it is not a folder, and it is none of inputs (links included). Throws
// HostError saying which.
inline void checkOutputPath(const std::filesystem::path& output,
                            const std::vector<std::string>& inputs = {}) {
    std::error_code error;
    const auto folder =
        output.has_parent_path() ? output.parent_path() : std::filesystem::path(".");
    if (!std::filesystem::is_directory(folder, error))
        throw host::HostError("output folder does not exist: \"" + folder.string() + "\"");
    if (std::filesystem::is_directory(output, error))
        throw host::HostError("output is a folder: \"" + output.string() + "\"");
    for (const std::string& input : inputs)
        if (std::filesystem::equivalent(output, input, error))
            throw host::HostError("output would overwrite the input \"" + input + "\"");
}

} // namespace tav::tools
