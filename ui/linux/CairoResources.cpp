#include "ui/linux/CairoResources.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tav::ui {
namespace {

using text_keys::familyOf;

// Variation settings are written with the C locale whatever the host has set.
void appendAxis(std::string& out, const char* tag, float value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    if (!out.empty())
        out += ',';
    out += tag;
    out += '=';
    out.append(digits, result.ptr);
}

cairo_font_options_t* makeFontOptions() {
    // No hinting and unrounded metrics: text measures the same at every window scale.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    return options;
}

} // namespace

void CairoResources::FontDescriptionDeleter::operator()(PangoFontDescription* description) const {
    pango_font_description_free(description);
}

void CairoResources::LayoutDeleter::operator()(PangoLayout* layout) const {
    g_object_unref(layout);
}

std::unique_ptr<CairoResources> CairoResources::create(const std::filesystem::path& fontsFolder) {
    std::unique_ptr<CairoResources> resources(new CairoResources());
    if (!resources->loadFonts(fontsFolder))
        return nullptr;
    return resources;
}

// The font map of a fonts folder, made once and kept for the life of the process: the text
// engine finishes setting a font map up on the main loop, which a plug-in host may never run
// for it, so a font map per window would never be freed.
PangoFontMap* CairoResources::sharedFontMap(const std::filesystem::path& fontsFolder) {
    static std::map<std::string, PangoFontMap*> fontMaps;
    const std::string key = fontsFolder.lexically_normal().string();
    if (auto found = fontMaps.find(key); found != fontMaps.end())
        return found->second;

    // An empty configuration: it reads no system configuration and knows no system fonts.
    FcConfig* config = FcConfigCreate();
    if (config == nullptr)
        return nullptr;
    for (const char* file : kFontFiles) {
        const std::filesystem::path path = fontsFolder / file;
        if (!FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(path.c_str()))) {
            FcConfigDestroy(config);
            return nullptr;
        }
    }
    PangoFontMap* fontMap = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
    if (fontMap != nullptr) {
        pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(fontMap), config); // takes a reference
        fontMaps.emplace(key, fontMap);
    }
    FcConfigDestroy(config);
    return fontMap;
}

bool CairoResources::loadFonts(const std::filesystem::path& fontsFolder) {
    // Every file must still be there, even when the folder was loaded before.
    for (const char* file : kFontFiles) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(fontsFolder / file, error))
            return false;
    }
    PangoFontMap* shared = sharedFontMap(fontsFolder);
    if (shared == nullptr)
        return false;
    fontMap_ = PANGO_FONT_MAP(g_object_ref(shared));

    context_ = pango_font_map_create_context(fontMap_);
    if (context_ == nullptr)
        return false;
    cairo_font_options_t* options = makeFontOptions();
    pango_cairo_context_set_font_options(context_, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context_, FALSE);
    pango_context_set_language(context_, pango_language_from_string("en-us"));
    return true;
}

CairoResources::~CairoResources() {
    layouts_.clear();
    formats_.clear();
    if (context_ != nullptr)
        g_object_unref(context_);
    if (fontMap_ != nullptr)
        g_object_unref(fontMap_);
}

const PangoFontDescription* CairoResources::format(const TextStyle& style) {
    const int32_t family = familyOf(style);
    const FormatKey key = text_keys::formatKey(style);
    if (auto found = formats_.find(key); found != formats_.end())
        return found->second.get();

    FormatPtr description;
    if (std::isfinite(style.size) && style.size > 0.0f && style.size < 10000.0f) {
        description.reset(pango_font_description_new());
        const float weight = std::isfinite(style.weight) ? style.weight : 400.0f;
        const float width = std::isfinite(style.width) ? style.width : 100.0f;
        std::string axes;
        if (family == kFontSans) {
            pango_font_description_set_family(description.get(), "Anybody");
            appendAxis(axes, "wght", weight);
            appendAxis(axes, "wdth", std::clamp(width, 50.0f, 150.0f));
        } else if (family == kFontSerif) {
            pango_font_description_set_family(description.get(), "Bodoni Moda");
            pango_font_description_set_style(description.get(), PANGO_STYLE_ITALIC);
            appendAxis(axes, "wght", weight);
            appendAxis(axes, "ital", 1.0f);
            appendAxis(axes, "opsz", std::clamp(style.size, 6.0f, 96.0f));
        } else {
            pango_font_description_set_family(description.get(), "Departure Mono");
        }
        if (family != kFontMono) {
            const int pangoWeight =
                static_cast<int>(std::lround(std::clamp(weight, 100.0f, 1000.0f)));
            pango_font_description_set_weight(description.get(),
                                              static_cast<PangoWeight>(pangoWeight));
            pango_font_description_set_variations(description.get(), axes.c_str());
        }
        pango_font_description_set_absolute_size(description.get(),
                                                 static_cast<double>(style.size) * PANGO_SCALE);
    }
    // A format that cannot be made is remembered as an empty entry.
    return formats_.emplace(key, std::move(description)).first->second.get();
}

PangoLayout* CairoResources::layout(std::string_view text, const TextStyle& style, float maxWidth,
                                    float lineHeight) {
    const auto probe = text_keys::layoutKey(text, style, maxWidth, lineHeight);
    if (auto found = layouts_.find(probe); found != layouts_.end())
        return found->second.get();
    LayoutPtr made = makeLayout(text, style, maxWidth);
    if (!made)
        return nullptr; // not cached: the next frame tries again
    LayoutKey key = std::make_from_tuple<LayoutKey>(probe);
    return layouts_.emplace(std::move(key), std::move(made)).first->second.get();
}

int CairoResources::trackingUnits(const TextStyle& style) {
    if (!std::isfinite(style.tracking) || !std::isfinite(style.size))
        return 0;
    const double spacing = static_cast<double>(style.size) * style.tracking * PANGO_SCALE;
    return static_cast<int>(std::lround(std::clamp(spacing, -1e8, 1e8)));
}

// Lines are placed by the canvas at a fixed height, so the layout needs no line spacing.
CairoResources::LayoutPtr CairoResources::makeLayout(std::string_view text, const TextStyle& style,
                                                     float maxWidth) {
    const PangoFontDescription* description = format(style);
    if (description == nullptr || text.size() > (1u << 20) ||
        !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        return nullptr;
    }
    LayoutPtr layout(pango_layout_new(context_));
    if (!layout)
        return nullptr;
    pango_layout_set_font_description(layout.get(), description);
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    if (const int spacing = trackingUnits(style); spacing != 0) {
        PangoAttrList* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_letter_spacing_new(spacing));
        pango_layout_set_attributes(layout.get(), attributes);
        pango_attr_list_unref(attributes);
    }
    if (std::isfinite(maxWidth) && maxWidth > 0.0f) {
        pango_layout_set_width(layout.get(),
                               static_cast<int>(std::min(maxWidth, 1e5f) * PANGO_SCALE));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD);
    } else {
        pango_layout_set_width(layout.get(), -1);
    }
    return layout;
}

const PathShape* CairoResources::path(const char* pathText) {
    if (pathText == nullptr)
        return nullptr;
    auto found = paths_.find(pathText);
    if (found == paths_.end()) {
        found = paths_.emplace(pathText, PathParser::parse(pathText)).first;
    }
    return found->second ? &*found->second : nullptr;
}

std::vector<std::string> CairoResources::familyNames() const {
    PangoFontFamily** families = nullptr;
    int count = 0;
    pango_font_map_list_families(fontMap_, &families, &count);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.emplace_back(pango_font_family_get_name(families[i]));
    g_free(families);
    std::sort(names.begin(), names.end());
    return names;
}

void CairoResources::finishFrame() {
    ++frames_;
    if (frames_ % kTrimInterval != 0)
        return;
    if (layouts_.size() > kMaxLayouts)
        layouts_.clear();
    if (formats_.size() > kMaxFormats)
        formats_.clear();
}

} // namespace tav::ui
