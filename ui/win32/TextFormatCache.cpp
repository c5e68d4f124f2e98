#include "ui/win32/TextFormatCache.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tav::ui {
namespace {

constexpr float kMinWidthAxis = 50.0f;
constexpr float kMaxWidthAxis = 150.0f;
constexpr float kMinOpticalSize = 6.0f;
constexpr float kMaxOpticalSize = 96.0f;
constexpr const wchar_t* kLocale = L"en-us";

using text_keys::familyOf;

ComPtr<IDWriteTextFormat> makeFormat(GraphicsResources& resources, const TextStyle& style) {
    IDWriteFactory6* factory = resources.writeFactory();
    if (factory == nullptr || resources.fonts() == nullptr)
        return nullptr;
    const wchar_t* familyName = L"Departure Mono";
    std::vector<DWRITE_FONT_AXIS_VALUE> axes;
    switch (familyOf(style)) {
    case kFontSans:
        familyName = L"Anybody";
        axes.push_back({DWRITE_FONT_AXIS_TAG_WEIGHT, style.weight});
        axes.push_back(
            {DWRITE_FONT_AXIS_TAG_WIDTH, std::clamp(style.width, kMinWidthAxis, kMaxWidthAxis)});
        break;
    case kFontSerif:
        familyName = L"Bodoni Moda";
        axes.push_back({DWRITE_FONT_AXIS_TAG_WEIGHT, style.weight});
        axes.push_back({DWRITE_FONT_AXIS_TAG_ITALIC, 1.0f});
        axes.push_back({DWRITE_FONT_AXIS_TAG_OPTICAL_SIZE,
                        std::clamp(style.size, kMinOpticalSize, kMaxOpticalSize)});
        break;
    default:
        break; // Mono has one weight and no axes
    }
    ComPtr<IDWriteTextFormat3> format;
    if (FAILED(factory->CreateTextFormat(
            familyName, resources.fonts(), axes.empty() ? nullptr : axes.data(),
            static_cast<UINT32>(axes.size()), style.size, kLocale, &format)))
        return nullptr;
    format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
    return format;
}

} // namespace

TextFormatCache& TextFormatCache::instance() {
    static TextFormatCache cache;
    return cache;
}

IDWriteTextFormat* TextFormatCache::format(GraphicsResources& resources, const TextStyle& style) {
    const Key key = text_keys::formatKey(style);
    auto found = formats.find(key);
    if (found == formats.end())
        found = formats.emplace(key, makeFormat(resources, style)).first;
    return found->second.Get();
}

} // namespace tav::ui
