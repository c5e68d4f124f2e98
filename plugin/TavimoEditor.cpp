#include "plugin/TavimoEditor.h"

#include "plugin/ModuleLocation.h"
#include "plugin/TavimoController.h"
#include "plugin/TavimoIds.h"
#include "plugin/sdk/KeyCodes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#if defined(_WIN32)
#include "ui/win32/NativeWindow.h"

#include <windows.h>

#include <shellapi.h>
#else
#include "plugin/HostRunLoop.h"
#include "ui/linux/NativeWindow.h"

#include <cstdint>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace tav::plugin {

#if defined(_WIN32)
// The Windows window needs no run loop from the host.
class HostRunLoop {};
#endif

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

#if defined(_WIN32)
const char* const kOwnPlatformType = kPlatformTypeHWND;
#else
const char* const kOwnPlatformType = kPlatformTypeX11EmbedWindowID;
#endif

constexpr float kAutomationThreshold = 1e-5f;
// How often the user's preset folder is looked at for presets a host saved meanwhile.
constexpr float kFolderCheckSeconds = 2.0f;

bool isOwnPlatformType(FIDString type) {
    return type != nullptr && std::strcmp(type, kOwnPlatformType) == 0;
}

std::optional<ui::Key> viewKeyOf(int16 keyCode) {
    switch (keyCode) {
    case KEY_LEFT:
        return ui::Key::Left;
    case KEY_RIGHT:
        return ui::Key::Right;
    case KEY_UP:
        return ui::Key::Up;
    case KEY_DOWN:
        return ui::Key::Down;
    case KEY_PAGEUP:
        return ui::Key::PageUp;
    case KEY_PAGEDOWN:
        return ui::Key::PageDown;
    case KEY_HOME:
        return ui::Key::Home;
    case KEY_END:
        return ui::Key::End;
    case KEY_TAB:
        return ui::Key::Tab;
    case KEY_RETURN:
    case KEY_ENTER:
        return ui::Key::Return;
    case KEY_SPACE:
        return ui::Key::Space;
    case KEY_ESCAPE:
        return ui::Key::Escape;
    case KEY_BACK:
        return ui::Key::Backspace;
    case KEY_DELETE:
        return ui::Key::Delete;
    default:
        return std::nullopt;
    }
}

// The view's plain value as the controller's normalized one. The view keeps Morph and Mix
// normalized; Algorithm and Output in the table's plain units.
ParamValue normalizedOf(int32_t index, float value) {
    switch (index) {
    case kAlgorithmId:
    case kOutputId:
        return model::param(static_cast<ParamId>(index)).toNormalized(value);
    default:
        return value;
    }
}

float clamped01(double value) {
    return static_cast<float>(std::clamp(value, 0.0, 1.0));
}

#if !defined(_WIN32)
// Starts `program url` from PATH without a shell and without waiting for it: the child only
// spawns the opener and leaves at once, so the opener is adopted and reaped by init however
// long it lives, and the host never gets a child of its own to reap.
void spawnDetached(const char* program, const char* url) {
    const pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        char* argv[] = {const_cast<char*>(program), const_cast<char*>(url), nullptr};
        pid_t opener = 0;
        posix_spawnp(&opener, program, nullptr, nullptr, argv, environ);
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}
#endif

} // namespace

TavimoEditor::TavimoEditor(TavimoController* controller)
    : EditorView(controller, nullptr), tavimo(controller), window(this) {
    setRect(ViewRect(0, 0, kWidth, kHeight));
    window.setVersionText(kVersion);
    window.setTheme(controller != nullptr && controller->isDarkTheme() ? ui::kThemeInk
                                                                       : ui::kThemePaper);
    pullParameterValues();
    showPresetList();
}

TavimoEditor::~TavimoEditor() {
    destroyNativeWindow();
    window.setListener(nullptr);
}

tresult PLUGIN_API TavimoEditor::isPlatformTypeSupported(FIDString type) {
    return isOwnPlatformType(type) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API TavimoEditor::attached(void* parent, FIDString type) {
    if (parent == nullptr || !isOwnPlatformType(type))
        return kResultFalse;
    return EditorView::attached(parent, type);
}

tresult PLUGIN_API TavimoEditor::onWheel(float /*distance*/) {
    return kResultFalse;
}

tresult PLUGIN_API TavimoEditor::onKeyDown(char16 character, int16 keyCode, int16 modifiers) {
    // While the name field is open the character the host passes with a key is typing (not
    // with a command modifier: that is a shortcut). A lone UTF-16 half is no character.
    const bool printable = character >= 0x20 && character != 0x7F &&
                           (character < 0xD800 || character > 0xDFFF) &&
                           (modifiers & (kCommandKey | kControlKey)) == 0;
    if (window.nameFieldOpen() && printable) {
        window.onText(ui::encodeUtf8(static_cast<char32_t>(character)).c_str());
        return kResultTrue;
    }
    const std::optional<ui::Key> key = viewKeyOf(keyCode);
    if (!key)
        return kResultFalse;
    const bool editing = *key == ui::Key::Backspace || *key == ui::Key::Delete;
    if (editing && !window.nameFieldOpen())
        return kResultFalse;
    window.onKey(*key, (modifiers & kShiftKey) != 0);
    return kResultTrue;
}

tresult PLUGIN_API TavimoEditor::onKeyUp(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/) {
    return kResultFalse;
}

tresult PLUGIN_API TavimoEditor::onSize(ViewRect* newSize) {
    const tresult result = EditorView::onSize(newSize);
    if (nativeWindow && newSize != nullptr)
        nativeWindow->resize(newSize->getWidth(), newSize->getHeight());
    return result;
}

tresult PLUGIN_API TavimoEditor::onFocus(TBool /*state*/) {
    return kResultFalse;
}

tresult PLUGIN_API TavimoEditor::setFrame(IPlugFrame* newFrame) {
    frame = newFrame;
    return kResultTrue;
}

tresult PLUGIN_API TavimoEditor::canResize() {
    return kResultTrue;
}

tresult PLUGIN_API TavimoEditor::checkSizeConstraint(ViewRect* rect) {
    if (rect == nullptr)
        return kInvalidArgument;
    const float scale = std::clamp(
        static_cast<float>(rect->getWidth()) / static_cast<float>(kWidth), kMinScale, kMaxScale);
    rect->right = rect->left + static_cast<int32>(std::lroundf(kWidth * scale));
    rect->bottom = rect->top + static_cast<int32>(std::lroundf(kHeight * scale));
    return kResultTrue;
}

void TavimoEditor::attachedToParent() {
    EditorView::attachedToParent();
    createNativeWindow();
}

void TavimoEditor::removedFromParent() {
    // A drag still open would leave the host inside a gesture for good.
    window.onMouseUp(0.0f, 0.0f);
    destroyNativeWindow();
    EditorView::removedFromParent();
}

void TavimoEditor::createNativeWindow() {
    destroyNativeWindow();
    const auto tick = [this](ui::Window& view, float seconds) { updateFrame(view, seconds); };
#if defined(_WIN32)
    nativeWindow = std::make_unique<ui::NativeWindow>(window, tick);
    if (!nativeWindow->create(systemWindow, rect.getWidth(), rect.getHeight(), fontsDirectory()))
        destroyNativeWindow();
#else
    FUnknownPtr<Linux::IRunLoop> hostLoop(frame);
    if (!hostLoop)
        return;
    runLoop = std::make_unique<HostRunLoop>(hostLoop.getInterface());
    nativeWindow = std::make_unique<ui::NativeWindow>(window, tick, *runLoop);
    const auto parentId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(systemWindow));
    if (!nativeWindow->create(parentId, rect.getWidth(), rect.getHeight(), fontsDirectory()))
        destroyNativeWindow();
#endif
}

void TavimoEditor::destroyNativeWindow() {
    nativeWindow.reset();
    runLoop.reset();
}

void TavimoEditor::beginEdit(int32_t index) {
    if (index == kMorphId)
        morphDragging = true;
    if (tavimo != nullptr)
        tavimo->beginEdit(static_cast<ParamID>(index));
}

void TavimoEditor::performEdit(int32_t index, float value) {
    if (tavimo == nullptr)
        return;
    const ParamValue normalized = normalizedOf(index, value);
    tavimo->setParamNormalized(static_cast<ParamID>(index), normalized);
    tavimo->performEdit(static_cast<ParamID>(index), normalized);
}

void TavimoEditor::endEdit(int32_t index) {
    if (tavimo != nullptr)
        tavimo->endEdit(static_cast<ParamID>(index));
    if (index == kMorphId)
        morphDragging = false;
}

void TavimoEditor::openSetupPage() {
#if defined(_WIN32)
    ShellExecuteA(nullptr, "open", kSetupPageUrl, nullptr, nullptr, SW_SHOWNORMAL);
#else
    spawnDetached("xdg-open", kSetupPageUrl);
#endif
}

void TavimoEditor::loadPreset(int32_t entry) {
    if (tavimo == nullptr)
        return;
    const PresetMenu::Loaded loaded = presetMenu.load(entry);
    if (!loaded.refusal.empty()) {
        window.showNotice(loaded.refusal);
        return;
    }
    tavimo->loadPreset(loaded.name, loaded.values);
    pullParameterValues();
    pullPresets(0.0f);
}

void TavimoEditor::savePresetAs(const std::string& name) {
    if (tavimo == nullptr)
        return;
    const PresetFailure failure = presetMenu.library().save(tavimo->currentPreset(name));
    if (!failure.empty()) {
        window.showNotice("Preset not saved: " + failure);
        return;
    }
    tavimo->presetSaved(name);
    showPresetList();
}

void TavimoEditor::renamePreset(int32_t entry, const std::string& name) {
    const std::optional<UserPreset> preset = presetMenu.userPreset(entry);
    if (tavimo == nullptr || !preset)
        return;
    const PresetFailure failure = presetMenu.library().rename(*preset, name);
    if (!failure.empty()) {
        window.showNotice("Preset not renamed: " + failure);
        return;
    }
    if (tavimo->presetName() == preset->name)
        tavimo->presetRenamed(name);
    showPresetList();
}

void TavimoEditor::deletePreset(int32_t entry) {
    const std::optional<UserPreset> preset = presetMenu.userPreset(entry);
    if (tavimo == nullptr || !preset)
        return;
    const PresetFailure failure = presetMenu.library().remove(*preset);
    if (!failure.empty()) {
        window.showNotice("Preset not deleted: " + failure);
        return;
    }
    showPresetList();
}

void TavimoEditor::showPresetList() {
    presetMenu.refresh();
    window.setPresets(presetMenu.entries());
    shownPreset.clear();
    pullPresets(0.0f);
}

void TavimoEditor::pullPresets(float seconds) {
    if (tavimo == nullptr)
        return;
    folderCheckIn -= seconds;
    if (folderCheckIn <= 0.0f) {
        folderCheckIn = kFolderCheckSeconds;
        if (presetMenu.refreshIfChanged()) {
            window.setPresets(presetMenu.entries());
            shownPreset.clear();
        }
    }
    if (tavimo->presetName() == shownPreset && tavimo->presetEdited() == shownEdited)
        return;
    shownPreset = tavimo->presetName();
    shownEdited = tavimo->presetEdited();
    window.setCurrentPreset(shownPreset, shownEdited, presetMenu.entryNamed(shownPreset));
}

void TavimoEditor::updateFrame(ui::Window& view, float seconds) {
    if (tavimo == nullptr)
        return;
    pullPresets(seconds);
    const float morph = clamped01(tavimo->getParamNormalized(kMorphId));
    if (!morphDragging && std::fabs(morph - view.morph()) > kAutomationThreshold)
        automationHold = kAutomationHoldSeconds;
    automationHold = std::max(automationHold - seconds, 0.0f);
    view.setMorphAutomated(automationHold > 0.0f);

    if (!morphDragging)
        pullParameterValues();
    tavimo->setDarkTheme(view.theme() == ui::kThemeInk);

    AnalysisRecord record{};
    if (tavimo->takeLatestAnalysis(record))
        view.updateSignals(record, seconds);
    else
        view.advance(seconds);
}

void TavimoEditor::pullParameterValues() {
    if (tavimo == nullptr)
        return;
    const auto value = [this](ParamID id) { return tavimo->getParamNormalized(id); };
    window.setParameterValues(clamped01(value(kMorphId)), model::algorithmOf(value(kAlgorithmId)),
                              clamped01(value(kMixId)),
                              static_cast<float>(model::param(kOutputId).toPlain(value(kOutputId))),
                              model::isOn(value(kBypassId)), model::isOn(value(kQualityId)));
}

} // namespace tav::plugin
