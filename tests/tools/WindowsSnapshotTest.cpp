// The Windows snapshot, drawn by the Direct2D canvas under Wine into a WIC bitmap: the geometry
// and colours must be the product's (Wine ignores variable-font axes and draws cubic curves its
// own way, so glyph shapes are not compared).
#include "ToolRunner.h"
#include "WineRunner.h"

#include "support/XvfbServer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace tav::test {
namespace {

struct Rgb {
    int r, g, b;
};

constexpr Rgb kPaperBackground{0xEC, 0xEB, 0xE6};
constexpr Rgb kInkBackground{0x0C, 0x0C, 0x0B};
constexpr Rgb kAccent{0xFF, 0x4B, 0x1F};

bool near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};

// A PNG read back, looked at in view units (760 x 500).
class Picture {
public:
    explicit Picture(const std::filesystem::path& file)
        : image(cairo_image_surface_create_from_png(file.c_str())) {}

    bool ok() const { return cairo_surface_status(image.get()) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(image.get()); }
    int height() const { return cairo_image_surface_get_height(image.get()); }
    float scale() const { return static_cast<float>(width()) / 760.0f; }

    Rgb at(float x, float y) const {
        const int px = std::clamp(static_cast<int>(x * scale()), 0, width() - 1);
        const int py = std::clamp(static_cast<int>(y * scale()), 0, height() - 1);
        const unsigned char* row = cairo_image_surface_get_data(image.get()) +
                                   py * cairo_image_surface_get_stride(image.get());
        const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[px];
        return {int((argb >> 16) & 0xFF), int((argb >> 8) & 0xFF), int(argb & 0xFF)};
    }

    // Pixels inside a box (view units) that differ from the background. Wine draws the variable
    // fonts at their thinnest, so glyph strokes are faint: the tolerance is low.
    int inkIn(float left, float top, float right, float bottom, Rgb background) const {
        int count = 0;
        for (float y = top; y < bottom; y += 1.0f / scale())
            for (float x = left; x < right; x += 1.0f / scale())
                count += near(at(x, y), background, 16) ? 0 : 1;
        return count;
    }

private:
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> image;
};

class WindowsSnapshot : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string missing = missingWindowsPiece(); !missing.empty())
            GTEST_SKIP() << "no Windows build to test (" << missing << " is missing)";
        ASSERT_TRUE(display.ok()) << "no Xvfb: Wine needs a display to draw";
    }

    RunResult snapshot(const std::filesystem::path& folder, const std::string& arguments) {
        return runCommand(wineCommand(folder, "tavimo.exe", display.display()) + " snapshot " +
                          arguments);
    }

    XvfbServer display;
};

TEST_F(WindowsSnapshot, ThemesScalesAndValuesUnderWine) {
    const auto folder = freshFolder("windows_snapshot");
    const struct {
        const char* theme;
        Rgb background;
        float scale;
        float morph;
    } shots[] = {{"paper", kPaperBackground, 1.0f, 0.3f},
                 {"paper", kPaperBackground, 1.5f, 0.85f},
                 {"ink", kInkBackground, 1.0f, 0.85f},
                 {"ink", kInkBackground, 1.5f, 0.3f}};
    for (const auto& shot : shots) {
        const std::string name = std::string(shot.theme) + std::to_string(shot.scale) + ".png";
        const RunResult run = snapshot(folder, "-o " + name + " --theme " + shot.theme +
                                                   " --scale " + std::to_string(shot.scale) +
                                                   " --morph " + std::to_string(shot.morph) +
                                                   " --algorithm imprint --mix 73 --output -3.2");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Picture picture(folder / name);
        ASSERT_TRUE(picture.ok()) << name;
        EXPECT_EQ(picture.width(), std::lround(760.0f * shot.scale)) << name;
        EXPECT_EQ(picture.height(), std::lround(500.0f * shot.scale)) << name;

        for (const auto& [x, y] :
             {std::pair{1.0f, 1.0f}, {758.0f, 1.0f}, {1.0f, 498.0f}, {758.0f, 498.0f}})
            EXPECT_TRUE(near(picture.at(x, y), shot.background, 2)) << name << " " << x << "," << y;

        const float mx = 68.0f + 624.0f * shot.morph;
        for (float y = 100.0f; y < 390.0f; y += 37.0f) {
            EXPECT_TRUE(near(picture.at(mx, y), kAccent, 3)) << name << " y " << y;
            EXPECT_FALSE(near(picture.at(mx + 8.0f, y), kAccent, 40)) << name << " y " << y;
            EXPECT_FALSE(near(picture.at(mx - 8.0f, y), kAccent, 40)) << name << " y " << y;
        }

        // The algorithm, mix, latency and output values, each in the box below its label.
        for (const float x : {352.0f, 504.0f, 588.0f, 670.0f}) {
            EXPECT_GT(picture.inkIn(x, 444.0f, x + 30.0f, 460.0f, shot.background), 20)
                << name << " value at " << x;
            EXPECT_EQ(picture.inkIn(x, 437.0f, x + 30.0f, 440.0f, shot.background), 0)
                << name << " above the value at " << x;
        }
    }
}

TEST_F(WindowsSnapshot, MissingFontFailsWithOneLine) {
    const auto folder = freshFolder("windows_snapshot_no_font");
    std::filesystem::create_directories(folder / "fonts");
    for (const char* file : {"Anybody-Variable.ttf", "DepartureMono-Regular.otf"})
        std::filesystem::copy_file(std::filesystem::path(TAVIMO_FONTS_DIR) / file,
                                   folder / "fonts" / file);
    const RunResult run = snapshot(folder, "-o out.png --fonts fonts");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("tavimo: error: the editor's fonts are missing"), std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder / "out.png"));
}

} // namespace
} // namespace tav::test
