#pragma once

#include "ui/Canvas.h"
#include "ui/NativeWindowCommon.h"
#include "ui/PathParser.h"
#include "ui/TextCacheKeys.h"
#include "ui/linux/StrokeRasterizer.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

typedef struct _FcConfig FcConfig;
typedef struct _PangoFontMap PangoFontMap;
typedef struct _PangoContext PangoContext;
typedef struct _PangoFontDescription PangoFontDescription;
typedef struct _PangoLayout PangoLayout;

namespace tav::ui {

// The graphics resources of one Linux editor window: the product's three fonts in a private font
// configuration that holds nothing else (no system fonts, no fallback), the text context, and the
// caches of text formats, text layouts and parsed paths. UI thread only.
class CairoResources {
public:
    static constexpr const auto& kFontFiles = ui::kFontFiles;
    // Caches are trimmed after every kTrimInterval-th frame once they pass these sizes.
    static constexpr uint64_t kTrimInterval = kCacheTrimInterval;
    static constexpr size_t kMaxLayouts = kMaxCachedLayouts;
    static constexpr size_t kMaxFormats = kMaxCachedFormats;

    // UI thread; allocates. Loads the three fonts from `fontsFolder`; null when any file is
    // missing or unreadable, in which case no editor can be drawn.
    static std::unique_ptr<CairoResources> create(const std::filesystem::path& fontsFolder);

    ~CairoResources();
    CairoResources(const CairoResources&) = delete;
    CairoResources& operator=(const CairoResources&) = delete;

    // UI thread; allocates on a miss. The font description for a style; null if it cannot be made.
    const PangoFontDescription* format(const TextStyle& style);
    // UI thread; allocates on a miss. The layout of the text in the style, wrapped at maxWidth
    // when it is above 0; owned by the cache; null if it cannot be made (not cached then).
    PangoLayout* layout(std::string_view text, const TextStyle& style, float maxWidth,
                        float lineHeight);
    // UI thread; parses once per string address. Null when the string is not a valid path.
    const PathShape* path(const char* pathText);

    // Any thread. The extra space after every character, in text engine units (1/1024 unit).
    static int trackingUnits(const TextStyle& style);

    // UI thread. The fast stroker for polylines, with its buffers.
    StrokeRasterizer& strokes() { return strokes_; }

    // UI thread; may free. Counts frames; after every 64th it clears the layout cache above 512
    // entries and the format cache above 256.
    void finishFrame();

    // UI thread; allocates. The font families the canvas can draw with, sorted.
    std::vector<std::string> familyNames() const;

    size_t layoutCount() const { return layouts_.size(); }
    size_t formatCount() const { return formats_.size(); }
    size_t pathCount() const { return paths_.size(); }

private:
    using FormatKey = text_keys::FormatKey;
    using LayoutKey = text_keys::LayoutKeyOf<std::string>;
    struct FontDescriptionDeleter {
        void operator()(PangoFontDescription* description) const;
    };
    struct LayoutDeleter {
        void operator()(PangoLayout* layout) const;
    };
    using FormatPtr = std::unique_ptr<PangoFontDescription, FontDescriptionDeleter>;
    using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

    CairoResources() = default;
    static PangoFontMap* sharedFontMap(const std::filesystem::path& fontsFolder);
    bool loadFonts(const std::filesystem::path& fontsFolder);
    LayoutPtr makeLayout(std::string_view text, const TextStyle& style, float maxWidth);

    PangoFontMap* fontMap_ = nullptr;
    PangoContext* context_ = nullptr;
    std::map<FormatKey, FormatPtr> formats_;
    std::map<LayoutKey, LayoutPtr, std::less<>> layouts_;
    std::map<const char*, std::optional<PathShape>> paths_;
    uint64_t frames_ = 0;
    StrokeRasterizer strokes_;
};

} // namespace tav::ui
