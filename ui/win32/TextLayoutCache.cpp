#include "ui/win32/TextLayoutCache.h"

#include "ui/NativeWindowCommon.h"
#include "ui/win32/TextFormatCache.h"

#include <windows.h>

#include <climits>

namespace tav::ui {
namespace {

// Text drawn as one line still needs a layout box; these are far beyond the view's plane.
constexpr float kUnwrappedWidth = 4000.0f;
constexpr float kLayoutHeight = 2000.0f;
constexpr float kBaselineShare = 0.8f; // baseline at 0.8 of a uniform line

std::wstring utf16Of(std::string_view text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX))
        return {};
    const int length = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (wide <= 0)
        return {};
    std::wstring converted(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, converted.data(), wide);
    return converted;
}

ComPtr<IDWriteTextLayout> makeLayout(GraphicsResources& resources, std::string_view text,
                                     const TextStyle& style, float maxWidth, float lineHeight) {
    IDWriteTextFormat* format = TextFormatCache::instance().format(resources, style);
    if (format == nullptr)
        return nullptr;
    const std::wstring wide = utf16Of(text);
    ComPtr<IDWriteTextLayout> layout;
    if (FAILED(resources.writeFactory()->CreateTextLayout(
            wide.c_str(), static_cast<UINT32>(wide.size()), format,
            maxWidth > 0.0f ? maxWidth : kUnwrappedWidth, kLayoutHeight, &layout)))
        return nullptr;
    if (maxWidth > 0.0f)
        layout->SetWordWrapping(DWRITE_WORD_WRAPPING_WRAP);
    if (lineHeight > 0.0f)
        layout->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, lineHeight,
                               kBaselineShare * lineHeight);
    if (style.tracking != 0.0f) {
        ComPtr<IDWriteTextLayout1> spaced;
        if (SUCCEEDED(layout.As(&spaced))) {
            const DWRITE_TEXT_RANGE all{0, static_cast<UINT32>(wide.size())};
            spaced->SetCharacterSpacing(0.0f, style.size * style.tracking, 0.0f, all);
        }
    }
    return layout;
}

} // namespace

TextLayoutCache& TextLayoutCache::instance() {
    static TextLayoutCache cache;
    return cache;
}

IDWriteTextLayout* TextLayoutCache::layout(GraphicsResources& resources, std::string_view text,
                                           const TextStyle& style, float maxWidth,
                                           float lineHeight) {
    const auto probe = text_keys::layoutKey(text, style, maxWidth, lineHeight);
    if (const auto found = layouts.find(probe); found != layouts.end())
        return found->second.Get();
    ComPtr<IDWriteTextLayout> made = makeLayout(resources, text, style, maxWidth, lineHeight);
    if (!made)
        return nullptr;
    IDWriteTextLayout* layout = made.Get();
    layouts.emplace(std::make_from_tuple<Key>(probe), std::move(made));
    return layout;
}

void trimTextCaches(uint32_t frameCount) {
    if (frameCount % kCacheTrimInterval != 0)
        return;
    if (TextLayoutCache::instance().size() > kMaxCachedLayouts)
        TextLayoutCache::instance().clear();
    if (TextFormatCache::instance().size() > kMaxCachedFormats)
        TextFormatCache::instance().clear();
}

} // namespace tav::ui
