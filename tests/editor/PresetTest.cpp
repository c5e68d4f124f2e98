// Presets through the controller and as files: the factory table applied as host edits, the
// edited flag and its state, user preset files read and written with the SDK's preset file
// class, and damaged files refused whole.

#include "HostSpies.h"

#include "model/Presets.h"
#include "plugin/PresetLibrary.h"
#include "plugin/TavimoController.h"
#include "plugin/TavimoEditor.h"

#include "pluginterfaces/base/ustring.h"
#include "pluginterfaces/vst/ivstattributes.h"
#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"
#include "public.sdk/source/vst/vstpresetfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

namespace tav::plugin {
namespace {

namespace fs = std::filesystem;

// A stream as hosts hand over a preset file's chunk: it says which file it came from.
class PresetFileStream : public MemoryStream, public IStreamAttributes {
public:
    PresetFileStream(const std::vector<char>& bytes, const char* fileName) {
        write(const_cast<char*>(bytes.data()), static_cast<int32>(bytes.size()), nullptr);
        seek(0, kIBSeekSet, nullptr);
        UString(name, 128).fromAscii(fileName);
    }
    tresult PLUGIN_API getFileName(String128 out) override {
        std::memcpy(out, name, sizeof(name));
        return kResultTrue;
    }
    IAttributeList* PLUGIN_API getAttributes() override { return nullptr; }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        QUERY_INTERFACE(iid, obj, IStreamAttributes::iid, IStreamAttributes)
        return MemoryStream::queryInterface(iid, obj);
    }
    uint32 PLUGIN_API addRef() override { return 1000; }
    uint32 PLUGIN_API release() override { return 1000; }

private:
    String128 name{};
};

std::vector<char> stateOf(TavimoController& controller) {
    MemoryStream stream;
    EXPECT_EQ(controller.getState(&stream), kResultOk);
    return {stream.getData(), stream.getData() + stream.getSize()};
}

class Presets : public ControllerHost {
protected:
    void SetUp() override {
        ControllerHost::SetUp();
        folder = fs::path(testing::TempDir()) /
                 ("presets-" +
                  std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
    }
    void TearDown() override {
        ControllerHost::TearDown();
        fs::remove_all(folder);
    }

    fs::path folder;
};

TEST_F(Presets, FactoryPresetsLoadExactlyAsHostEditsKeepBypassAndRestartOnlyForQuality) {
    controller->setParamNormalized(kBypassId, 1.0);
    size_t restarts = 0;
    bool high = false;
    for (const model::FactoryPreset& preset : model::kFactoryPresets) {
        handler.edits.clear();
        controller->loadPreset(preset.name, preset.values);
        const auto want = model::normalizedValues(preset.values, 1.0);
        for (int id = 0; id < kParamCount; ++id)
            EXPECT_DOUBLE_EQ(controller->getParamNormalized(static_cast<ParamID>(id)),
                             want[static_cast<size_t>(id)])
                << preset.name << " parameter " << id;
        // The processor hears every value but Bypass, as automation from the host.
        int performed = 0;
        for (const Edit& edit : handler.edits)
            if (edit.kind == 'p') {
                EXPECT_NE(edit.id, static_cast<ParamID>(kBypassId));
                EXPECT_DOUBLE_EQ(edit.value, want[edit.id]);
                ++performed;
            }
        EXPECT_EQ(performed, kParamCount - 1) << preset.name;
        restarts += high != preset.values.highQuality ? 1 : 0;
        high = preset.values.highQuality;
        EXPECT_EQ(handler.restarts.size(), restarts) << preset.name;
        EXPECT_EQ(controller->presetName(), preset.name);
        EXPECT_FALSE(controller->presetEdited());
    }
    EXPECT_GT(restarts, 0u);
    EXPECT_EQ(peer.qualityMessages, static_cast<int>(restarts));
}

TEST_F(Presets, EditsButNotBypassMarkThePresetAndTheStateKeepsNameAndMark) {
    const auto drums = *model::findFactoryPreset("Full Diffusion");
    controller->loadPreset(drums.name, drums.values);
    controller->setParamNormalized(kBypassId, 1.0);
    controller->setParamNormalized(kMorphId, controller->getParamNormalized(kMorphId));
    EXPECT_FALSE(controller->presetEdited());
    controller->setParamNormalized(kMorphId, 0.3);
    EXPECT_TRUE(controller->presetEdited());
    controller->setDarkTheme(true);

    const std::vector<char> saved = stateOf(*controller);
    IPtr<TavimoController> reopened = owned(new TavimoController());
    ASSERT_EQ(reopened->initialize(&host), kResultOk);
    MemoryStream in(const_cast<char*>(saved.data()), static_cast<TSize>(saved.size()));
    ASSERT_EQ(reopened->setState(&in), kResultOk);
    EXPECT_EQ(reopened->presetName(), "Full Diffusion");
    EXPECT_TRUE(reopened->presetEdited());
    EXPECT_TRUE(reopened->isDarkTheme());

    // The older state, the theme alone, keeps the preset as it is; a cut name is refused whole.
    const int32 v1[2] = {1, 0};
    MemoryStream old(const_cast<int32*>(v1), sizeof(v1));
    ASSERT_EQ(reopened->setState(&old), kResultOk);
    EXPECT_FALSE(reopened->isDarkTheme());
    EXPECT_EQ(reopened->presetName(), "Full Diffusion");
    std::vector<char> cut(saved.begin(), saved.end() - 3);
    MemoryStream damaged(cut.data(), static_cast<TSize>(cut.size()));
    EXPECT_EQ(reopened->setState(&damaged), kResultFalse);
    EXPECT_EQ(reopened->presetName(), "Full Diffusion");
    reopened->terminate();
}

TEST_F(Presets, AHostLoadingAPresetFileShowsTheFilesNameAndKeepsBypassAndTheme) {
    controller->setParamNormalized(kBypassId, 1.0);
    controller->setDarkTheme(true);
    PresetDocument document;
    document.name = "Stored Inside";
    document.values = model::normalizedValues(model::kFactoryPresets[3].values, 0.0);
    const std::vector<char> file = encodePreset(document);

    MemoryStream in(const_cast<char*>(file.data()), static_cast<TSize>(file.size()));
    PresetFile reader(&in);
    ASSERT_TRUE(reader.readChunkList());
    const auto chunk = [&](ChunkType type) {
        const PresetFile::Entry* entry = reader.getEntry(type);
        return std::vector<char>(file.begin() + entry->offset,
                                 file.begin() + entry->offset + entry->size);
    };
    PresetFileStream component(chunk(kComponentState), "/presets/My Take.vstpreset");
    PresetFileStream own(chunk(kControllerState), "/presets/My Take.vstpreset");
    ASSERT_EQ(controller->setComponentState(&component), kResultOk);
    ASSERT_EQ(controller->setState(&own), kResultOk);
    EXPECT_EQ(controller->presetName(), "My Take");
    EXPECT_FALSE(controller->presetEdited());
    EXPECT_TRUE(controller->isDarkTheme());
    EXPECT_EQ(controller->getParamNormalized(kBypassId), 1.0);
    EXPECT_DOUBLE_EQ(controller->getParamNormalized(kAlgorithmId), 1.0);
}

TEST_F(Presets, UserPresetsRoundTripThroughTheSdkReaderAndAHostsWriter) {
    const PresetLibrary library(folder);
    controller->setParamNormalized(kMorphId, 0.125);
    controller->setParamNormalized(kBypassId, 1.0);
    const std::string name = "Drum/Skin: Ü 鼓 \"2\"";
    ASSERT_EQ(library.save(controller->currentPreset(name)), "");
    const auto listed = library.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, name);
    EXPECT_EQ(listed[0].file.parent_path(), folder);

    // The SDK's own reader finds our class and our processor state, Bypass stored off.
    std::ifstream file(listed[0].file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
    MemoryStream in(bytes.data(), static_cast<TSize>(bytes.size()));
    PresetFile reader(&in);
    ASSERT_TRUE(reader.readChunkList());
    EXPECT_EQ(reader.getClassID(), kProcessorUID);
    ASSERT_TRUE(reader.seekToComponentState());
    ParameterValues stored{};
    ASSERT_TRUE(readProcessorState(&in, stored));
    EXPECT_DOUBLE_EQ(stored[kMorphId], 0.125);
    EXPECT_EQ(stored[kBypassId], 0.0);

    // A file as a host writes it with the SDK, without the controller's chunk or metadata.
    const ParameterValues hostValues{0.75, 1.0, 0.4, 0.5, 1.0, 1.0};
    MemoryStream componentState;
    ASSERT_TRUE(writeProcessorState(&componentState, hostValues));
    componentState.seek(0, IBStream::kIBSeekSet, nullptr);
    MemoryStream hostFile;
    ASSERT_TRUE(PresetFile::savePreset(&hostFile, kProcessorUID, &componentState));
    const PresetReading reading =
        decodePreset({hostFile.getData(), hostFile.getData() + hostFile.getSize()}, "Host Take");
    ASSERT_TRUE(reading.document) << reading.refusal;
    EXPECT_EQ(reading.document->name, "Host Take");
    for (int id = 0; id < kParamCount; ++id)
        EXPECT_EQ(reading.document->values[static_cast<size_t>(id)],
                  id == kBypassId ? 0.0 : hostValues[static_cast<size_t>(id)]);
}

TEST_F(Presets, DamagedForeignNewerOrNonFiniteFilesAreRefusedWhole) {
    PresetDocument document;
    document.name = "Good";
    document.values = model::normalizedValues(model::initPresetValues(), 0.0);
    const std::vector<char> good = encodePreset(document);
    ASSERT_TRUE(decodePreset(good, "x").document);

    // The processor state chunk begins right after the 48-byte header.
    constexpr size_t kStateAt = 48;
    auto withInt32 = [&](size_t at, int32 value) {
        auto bytes = good;
        std::memcpy(bytes.data() + at, &value, sizeof(value));
        return bytes;
    };
    auto foreign = good;
    foreign[12] = foreign[12] == 'A' ? 'B' : 'A';
    auto nonFinite = good;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(nonFinite.data() + kStateAt + 4, &nan, sizeof(nan));
    const std::vector<std::pair<const char*, std::vector<char>>> bad{
        {"empty", {}},
        {"damaged", std::vector<char>(good.size(), 'x')},
        {"truncated", std::vector<char>(good.begin(), good.begin() + good.size() / 2)},
        {"another plug-in", foreign},
        {"newer", withInt32(kStateAt, kProcessorStateVersion + 1)},
        {"non-finite", nonFinite}};
    for (const auto& [what, bytes] : bad) {
        const PresetReading reading = decodePreset(bytes, "x");
        EXPECT_FALSE(reading.document) << what;
        EXPECT_FALSE(reading.refusal.empty()) << what;
    }

    // A folder that cannot be created answers in words and leaves nothing behind.
    fs::create_directories(folder);
    std::ofstream(folder / "file") << "not a folder";
    const PresetLibrary blocked(folder / "file" / "presets");
    EXPECT_NE(blocked.save(document), "");
    EXPECT_FALSE(fs::exists(folder / "file" / "presets"));
}

TEST_F(Presets, TheEditorSavesIntoTheUsersFolderAndRefusesADamagedFileWithANotice) {
    // The user's folder follows HOME; this test's own.
    const fs::path home = folder / "home";
    ASSERT_EQ(setenv("HOME", home.c_str(), 1), 0);
    const fs::path mine = home / ".vst3" / "presets" / "Tavimo Audio" / "Tavimo";
    IPtr<TavimoEditor> editor =
        owned(static_cast<TavimoEditor*>(controller->createView(ViewType::kEditor)));
    ASSERT_TRUE(editor);
    controller->setParamNormalized(kMorphId, 0.8);
    editor->savePresetAs("Take One");
    EXPECT_TRUE(fs::is_regular_file(mine / "Take One.vstpreset"));
    const auto factoryCount = static_cast<int32_t>(model::kFactoryPresets.size());
    ASSERT_EQ(editor->view().presets().size(), model::kFactoryPresets.size() + 1);
    EXPECT_EQ(editor->view().presets().back().name, "Take One");
    EXPECT_EQ(editor->view().presetName(), "Take One");
    EXPECT_EQ(editor->view().loadedPreset(), factoryCount);

    std::ofstream(mine / "Broken.vstpreset") << "VST3 but not really";
    editor->updateFrame(editor->view(), 3.0f);
    ASSERT_EQ(editor->view().presets().size(), model::kFactoryPresets.size() + 2);
    EXPECT_EQ(editor->view().presets()[static_cast<size_t>(factoryCount)].name, "Broken");
    controller->setParamNormalized(kMorphId, 0.3);
    editor->loadPreset(factoryCount);
    EXPECT_NE(editor->view().notice(), "");
    EXPECT_EQ(controller->getParamNormalized(kMorphId), 0.3);
    EXPECT_EQ(controller->presetName(), "Take One");
    EXPECT_TRUE(controller->presetEdited());

    editor->loadPreset(factoryCount + 1);
    EXPECT_DOUBLE_EQ(controller->getParamNormalized(kMorphId), 0.8);
    EXPECT_FALSE(controller->presetEdited());
    editor->deletePreset(factoryCount + 1);
    EXPECT_FALSE(fs::exists(mine / "Take One.vstpreset"));
    unsetenv("HOME");
}

} // namespace
} // namespace tav::plugin
