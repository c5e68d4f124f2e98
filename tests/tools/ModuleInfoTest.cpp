// The bundle's moduleinfo.json says what the module's factory says, in the documented layout.
#include "ToolRunner.h"

#include "tools/host/PluginModule.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tav::test {
namespace {

const std::filesystem::path kBundle = TAVIMO_BUNDLE;
const std::filesystem::path kInfoPath = "Contents/Resources/moduleinfo.json";

std::string textOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The id bytes as the factory hands them out on this platform, in hexadecimal.
std::string hexOf(const Steinberg::TUID id) {
    std::string text;
    char digits[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(id[i]));
        text += digits;
    }
    return text;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, '|');)
        parts.push_back(part);
    return parts;
}

TEST(ModuleInfo, AgreesWithWhatTheFactoryReports) {
    const auto info = nlohmann::json::parse(textOf(kBundle / kInfoPath));
    const host::PluginModule module(kBundle);
    EXPECT_EQ(info.at("Name"), "Tavimo");
    EXPECT_EQ(info.at("Factory Info").at("Vendor"), module.vendor());
    EXPECT_EQ(info.at("Factory Info").at("URL"), module.url());
    EXPECT_EQ(info.at("Factory Info").at("Flags").at("Unicode"), true);

    const auto& classes = info.at("Classes");
    ASSERT_EQ(classes.size(), module.classes().size());
    for (size_t i = 0; i < classes.size(); ++i) {
        const auto& entry = classes[i];
        const auto& expected = module.classes()[i];
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(entry.at("CID"), hexOf(expected.cid));
        EXPECT_EQ(entry.at("Category"), expected.category);
        EXPECT_EQ(entry.at("Name"), expected.name);
        EXPECT_EQ(entry.at("Vendor"), module.vendor());
        EXPECT_EQ(entry.at("Version"), expected.version);
        EXPECT_EQ(entry.at("SDKVersion"), expected.sdkVersion);
        EXPECT_EQ(entry.at("Class Flags"), expected.classFlags);
        EXPECT_EQ(entry.at("Cardinality"), expected.cardinality);
        EXPECT_EQ(entry.value("Sub Categories", std::vector<std::string>{}),
                  split(expected.subCategories));
    }

    // The audio class names the editor's snapshots after its own id.
    const auto& processor = classes.at(0);
    ASSERT_EQ(processor.at("Category"), "Audio Module Class");
    const std::string prefix =
        "Contents/Resources/Snapshots/" + processor.at("CID").get<std::string>() + "_snapshot";
    const auto& snapshots = processor.at("Snapshots");
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(snapshots[0].at("Scale Factor"), 1.0);
    EXPECT_EQ(snapshots[0].at("Path"), prefix + ".png");
    EXPECT_EQ(snapshots[1].at("Scale Factor"), 2.0);
    EXPECT_EQ(snapshots[1].at("Path"), prefix + "_2.0x.png");
    EXPECT_FALSE(classes.at(1).contains("Snapshots"));
}

TEST(ModuleInfo, WindowsBundleCarriesTheSameFile) {
    const std::filesystem::path windows =
        std::filesystem::path(TAVIMO_WINDOWS_BUILD_DIR) / "Tavimo.vst3" / kInfoPath;
    if (!std::filesystem::exists(windows))
        GTEST_SKIP() << "no Windows build to compare (" << windows << " is missing)";
    EXPECT_EQ(textOf(windows), textOf(kBundle / kInfoPath));
}

} // namespace
} // namespace tav::test
