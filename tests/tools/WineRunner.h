#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Running the Windows build's programs under Wine, in the one prefix a test run shares (the
// WinePrefix fixture makes it before the first Windows test and stops its server after the last).
namespace tav::test {

// The Windows build folder whose tavimo.exe, bundle and test programs the tests run.
std::filesystem::path windowsBuild();

// The first of Wine, the Windows tavimo.exe and bundle, and `more` (in the Windows build) that
// is missing, or empty when all are there.
std::string missingWindowsPiece(const std::vector<std::filesystem::path>& more = {});

// A shell line that runs `program` (a path in the Windows build) under Wine in `folder`, with
// DISPLAY set to `display` when it is not empty. Append the arguments, quoted.
std::string wineCommand(const std::filesystem::path& folder, const std::filesystem::path& program,
                        const std::string& display = {});

} // namespace tav::test
