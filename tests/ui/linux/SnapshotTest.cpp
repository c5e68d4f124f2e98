#include "ui/linux/CairoCanvas.h"
#include "ui/linux/SnapshotRenderer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace tav::ui {
namespace {

struct Rgb {
    int r, g, b;
};

constexpr Rgb kPaperBackground{0xEC, 0xEB, 0xE6};
constexpr Rgb kInkBackground{0x0C, 0x0C, 0x0B};
constexpr Rgb kAccent{0xFF, 0x4B, 0x1F};

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        resources = CairoResources::create(TAVIMO_FONTS_DIR);
        ASSERT_TRUE(resources) << "fonts missing in " << TAVIMO_FONTS_DIR << " (run scripts/setup)";
    }

    void shoot(const SnapshotState& state, float scale) {
        Window window;
        SnapshotScene::prepare(window, state);
        image = SnapshotRenderer::render(window, *resources, scale);
        ASSERT_TRUE(image);
        this->scale = static_cast<float>(cairo_image_surface_get_width(image.get())) / 760.0f;
    }

    // The pixel under a point given in view units.
    Rgb at(float x, float y) const {
        const int px = static_cast<int>(x * scale);
        const int py = static_cast<int>(y * scale);
        const unsigned char* row = cairo_image_surface_get_data(image.get()) +
                                   py * cairo_image_surface_get_stride(image.get());
        const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[px];
        return {int((argb >> 16) & 0xFF), int((argb >> 8) & 0xFF), int(argb & 0xFF)};
    }

    static bool near(Rgb a, Rgb b, int tolerance = 2) {
        return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
               std::abs(a.b - b.b) <= tolerance;
    }

    // Pixels inside a box (view units) that differ clearly from the background.
    int inkIn(float left, float top, float right, float bottom, Rgb background) const {
        int count = 0;
        for (float y = top; y < bottom; y += 1.0f / scale) {
            for (float x = left; x < right; x += 1.0f / scale) {
                if (!near(at(x, y), background, 40))
                    ++count;
            }
        }
        return count;
    }

    float measure(const std::string& text, const TextStyle& style) {
        CairoCanvas canvas(*resources, nullptr, 1.0f);
        return canvas.measureText(text.data(), static_cast<int32_t>(text.size()), style);
    }

    std::unique_ptr<CairoResources> resources;
    SurfacePtr image;
    float scale = 1.0f;
};

TEST_F(SnapshotTest, ImageSizeFollowsTheClampedScale) {
    for (const auto& [asked, width, height] : {std::tuple{0.8f, 608, 400},
                                               {1.0f, 760, 500},
                                               {2.0f, 1520, 1000},
                                               {3.0f, 1520, 1000},
                                               {0.1f, 608, 400}}) {
        shoot(SnapshotState{}, asked);
        EXPECT_EQ(cairo_image_surface_get_width(image.get()), width) << asked;
        EXPECT_EQ(cairo_image_surface_get_height(image.get()), height) << asked;
    }
}

TEST_F(SnapshotTest, EachThemeHasItsBackgroundInTheCorners) {
    for (const auto& [theme, background] :
         {std::pair{kThemePaper, kPaperBackground}, std::pair{kThemeInk, kInkBackground}}) {
        SnapshotState state;
        state.theme = theme;
        shoot(state, 1.25f);
        for (const auto& [x, y] :
             {std::pair{1.0f, 1.0f}, {758.0f, 1.0f}, {1.0f, 498.0f}, {758.0f, 498.0f}}) {
            const Rgb pixel = at(x, y);
            EXPECT_TRUE(near(pixel, background))
                << "theme " << theme << " at " << x << "," << y << ": " << pixel.r << " " << pixel.g
                << " " << pixel.b;
        }
    }
}

TEST_F(SnapshotTest, AccentPositionLineStandsAtTheMorph) {
    for (const float morph : {0.0f, 0.3f, 0.85f}) {
        for (const float snapshotScale : {1.0f, 1.5f}) {
            SnapshotState state;
            state.morph = morph;
            shoot(state, snapshotScale);
            const float mx = 68.0f + 624.0f * morph;
            for (float y = 100.0f; y < 390.0f; y += 37.0f) {
                EXPECT_TRUE(near(at(mx, y), kAccent, 3)) << "morph " << morph << " y " << y;
                // Markers are 12 units wide: 8 units away no accent remains.
                EXPECT_FALSE(near(at(mx + 8.0f, y), kAccent, 40)) << morph << " " << y;
                if (mx > 8.0f) {
                    EXPECT_FALSE(near(at(mx - 8.0f, y), kAccent, 40)) << morph << " " << y;
                }
            }
        }
    }
}

TEST_F(SnapshotTest, ValuesAreDrawnInsideTheirBoxes) {
    SnapshotState state;
    state.theme = kThemeInk;
    state.algorithm = 2;
    state.mix = 0.73f;
    state.outputDb = -3.2f;
    shoot(state, 2.0f);
    const TextStyle& value = textStyle(TextRole::Value);
    const std::pair<float, std::string> values[] = {
        {352.0f, "Imprint"}, {504.0f, "73%"}, {588.0f, "44 ms"}, {670.0f, "-3.2 dB"}};
    for (const auto& [x, text] : values) {
        const float width = measure(text, value);
        ASSERT_GT(width, 10.0f) << text;
        // Between the cap height above the baseline at 459 and a little below it.
        EXPECT_GT(inkIn(x, 444.0f, x + width, 460.0f, kInkBackground), 60) << text;
        // Nothing right after the value up to the next column or the edge.
        EXPECT_EQ(inkIn(x + width + 1.0f, 440.0f, x + width + 8.0f, 462.0f, kInkBackground), 0)
            << text;
        // Nothing above it between the label and the value.
        EXPECT_EQ(inkIn(x, 437.0f, x + width, 440.0f, kInkBackground), 0) << text;
    }
}

TEST_F(SnapshotTest, EveryStatusMessageShowsItsTitleOnTheCard) {
    const std::pair<bool, bool> inputs[] = {{false, false}, {false, true}, {true, false}};
    for (const auto& [playingA, playingB] : inputs) {
        SnapshotState state;
        state.playingA = playingA;
        state.playingB = playingB;
        const StatusMessage message = StatusMessage::forState(false, playingA, playingB);
        ASSERT_TRUE(message.shown);
        shoot(state, 1.0f);
        const float title = measure(message.title, textStyle(TextRole::Title));
        const float x = message.x + 16.0f;
        const float baseline = message.y + 30.5f;
        EXPECT_GT(inkIn(x, baseline - 14.0f, x + title, baseline, kPaperBackground), 200)
            << message.title;
        // The card covers the morph lines: its fill is the background right of the title.
        EXPECT_EQ(inkIn(x + title + 2.0f, message.y + 4.0f, message.x + 276.0f, baseline - 16.0f,
                        kPaperBackground),
                  0)
            << message.title;
    }
}

TEST_F(SnapshotTest, EachOverlayCoversTheViewWithItsPanel) {
    constexpr Rgb kPaperSurface{0xE2, 0xE0, 0xD8};
    const struct {
        Overlay overlay;
        Point inside; // a point of the panel's fill beside its rows and texts
        Rgb fill;
    } overlays[] = {
        {Overlay::AlgorithmMenu, {742.0f, 380.0f}, kPaperSurface},
        {Overlay::SettingsPanel, {742.0f, 229.0f}, kPaperSurface},
        {Overlay::AboutCard, {555.0f, 325.0f}, kPaperBackground},
        {Overlay::PresetMenu, {742.0f, 110.0f}, kPaperSurface},
        {Overlay::NameField, {590.0f, 27.0f}, kPaperSurface}, // the pill, filled as a field
    };
    for (const auto& [overlay, inside, fill] : overlays) {
        SnapshotState state;
        state.overlay = overlay;
        shoot(state, 2.0f);
        const Rgb pixel = at(inside.x, inside.y);
        EXPECT_TRUE(near(pixel, fill))
            << int(overlay) << ": " << pixel.r << " " << pixel.g << " " << pixel.b;
    }
}

} // namespace
} // namespace tav::ui
