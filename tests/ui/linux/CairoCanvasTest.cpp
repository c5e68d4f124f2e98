#include "ui/linux/CairoCanvas.h"

#include "support/AllocationCounter.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace tav::ui {
namespace {

const Color kBlack{0, 0, 0, 1};
const TextStyle kMono{kFontMono, 10, 400, 100, 0, 0};
const TextStyle kSans{kFontSans, 20, 700, 100, 0, 0};
const TextStyle kSerif{kFontSerif, 28, 500, 100, 1, 0};

// A transparent image surface to draw on and read back.
class Image {
public:
    Image(int width, int height)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
          cairo_(cairo_create(surface_)) {}
    ~Image() {
        cairo_destroy(cairo_);
        cairo_surface_destroy(surface_);
    }
    cairo_t* cairo() { return cairo_; }
    int width() const { return cairo_image_surface_get_width(surface_); }
    int height() const { return cairo_image_surface_get_height(surface_); }
    uint8_t alpha(int x, int y) {
        cairo_surface_flush(surface_);
        const unsigned char* row =
            cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
        return static_cast<uint8_t>(reinterpret_cast<const uint32_t*>(row)[x] >> 24);
    }
    // Bounds of every pixel with any ink; empty (left > right) when nothing was drawn.
    struct Box {
        int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
        bool empty() const { return right < left; }
    };
    Box inkBox() {
        Box box;
        for (int y = 0; y < height(); ++y) {
            for (int x = 0; x < width(); ++x) {
                if (alpha(x, y) == 0)
                    continue;
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
        }
        return box;
    }
    bool samePixels(Image& other) {
        cairo_surface_flush(surface_);
        cairo_surface_flush(other.surface_);
        const size_t bytes =
            static_cast<size_t>(cairo_image_surface_get_stride(surface_)) * height();
        return std::memcmp(cairo_image_surface_get_data(surface_),
                           cairo_image_surface_get_data(other.surface_), bytes) == 0;
    }

private:
    cairo_surface_t* surface_;
    cairo_t* cairo_;
};

class CairoCanvasTest : public ::testing::Test {
protected:
    void SetUp() override {
        resources = CairoResources::create(TAVIMO_FONTS_DIR);
        ASSERT_TRUE(resources) << "fonts missing in " << TAVIMO_FONTS_DIR << " (run scripts/setup)";
    }
    float measure(const std::string& text, const TextStyle& style) {
        Image image(1, 1);
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        return canvas.measureText(text.data(), static_cast<int32_t>(text.size()), style);
    }
    std::unique_ptr<CairoResources> resources;
};

TEST_F(CairoCanvasTest, OnlyTheProductsThreeFamiliesAreKnown) {
    // Besides the three, the text engine lists only its generic aliases, which can resolve to
    // nothing but these three fonts: no system font is ever loaded.
    std::vector<std::string> families;
    for (const std::string& name : resources->familyNames()) {
        if (name != "Monospace" && name != "Sans" && name != "Serif" && name != "System-ui")
            families.push_back(name);
    }
    EXPECT_EQ(families, (std::vector<std::string>{"Anybody", "Bodoni Moda", "Departure Mono"}));
}

TEST_F(CairoCanvasTest, UnknownFamilyNumbersDrawAsMono) {
    TextStyle odd = kMono;
    odd.family = 7;
    EXPECT_FLOAT_EQ(measure("INIT", odd), measure("INIT", kMono));
    EXPECT_NE(measure("INIT", kSans), measure("INIT", kMono));
}

TEST_F(CairoCanvasTest, TrackingMovesEveryFollowingCharacter) {
    // Two images of "II": with tracking 0.5 the second I sits half the size further right.
    TextStyle tracked = kMono;
    tracked.size = 20;
    tracked.tracking = 0.5f;
    TextStyle plain = tracked;
    plain.tracking = 0;
    Image a(100, 40);
    Image b(100, 40);
    {
        CairoCanvas ca(*resources, a.cairo(), 1.0f);
        ca.drawText("II", 2, 10, 30, tracked, kBlack, kAlignLeft);
        CairoCanvas cb(*resources, b.cairo(), 1.0f);
        cb.drawText("II", 2, 10, 30, plain, kBlack, kAlignLeft);
    }
    EXPECT_EQ(a.inkBox().left, b.inkBox().left);
    EXPECT_EQ(a.inkBox().right, b.inkBox().right + 10);
}

TEST_F(CairoCanvasTest, StrokeRectKeepsAllInkInsideItsBounds) {
    for (float scale : {1.0f, 2.0f}) {
        Image image(100, 100);
        {
            CairoCanvas canvas(*resources, image.cairo(), scale);
            canvas.strokeRect(10, 10, 20, 20, 0, 2, kBlack);
        }
        const Image::Box box = image.inkBox();
        EXPECT_EQ(box.left, 10 * scale);
        EXPECT_EQ(box.top, 10 * scale);
        EXPECT_EQ(box.right, 30 * scale - 1);
        EXPECT_EQ(box.bottom, 30 * scale - 1);
        EXPECT_EQ(image.alpha(10 * scale, 20 * scale), 255); // the stroke fills its band fully
        EXPECT_EQ(image.alpha(20 * scale, 20 * scale), 0);   // and the inside stays empty
    }
}

TEST_F(CairoCanvasTest, StrokeRectRadiusBelowHalfTheStrokeGivesSquareCorners) {
    Image square(60, 60);
    Image round(60, 60);
    {
        CairoCanvas a(*resources, square.cairo(), 1.0f);
        a.strokeRect(10, 10, 20, 20, 1, 4, kBlack);
        CairoCanvas b(*resources, round.cairo(), 1.0f);
        b.strokeRect(10, 10, 20, 20, 8, 4, kBlack);
    }
    EXPECT_EQ(square.alpha(10, 10), 255);
    EXPECT_EQ(square.alpha(29, 29), 255);
    EXPECT_EQ(round.alpha(10, 10), 0);
    EXPECT_EQ(round.alpha(20, 10), 255);
}

TEST_F(CairoCanvasTest, PolylineNeedsTwoPoints) {
    const Point points[2] = {{5, 10}, {35, 10}};
    Image image(40, 20);
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        canvas.strokePolyline(points, 1, 4, kBlack);
        canvas.strokePolyline(points, 0, 4, kBlack);
        canvas.strokePolyline(nullptr, 2, 4, kBlack);
    }
    EXPECT_TRUE(image.inkBox().empty());
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        canvas.strokePolyline(points, 2, 4, kBlack);
    }
    const Image::Box box = image.inkBox();
    EXPECT_EQ(box.left, 5); // flat caps end at the points
    EXPECT_EQ(box.right, 34);
    EXPECT_EQ(box.top, 8);
    EXPECT_EQ(box.bottom, 11);
}

TEST_F(CairoCanvasTest, PathsArePlacedScaledAndStrokedWithSquareCaps) {
    Image image(120, 120);
    static const char* const kSquare = "M0 0 H10 V10 H0 Z";
    static const char* const kBar = "M3 6 H21";
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        canvas.fillPath(kSquare, 50, 50, 2, kBlack);
    }
    Image::Box box = image.inkBox();
    EXPECT_EQ(box.left, 50);
    EXPECT_EQ(box.right, 69);
    EXPECT_EQ(box.bottom, 69);

    Image bar(120, 40);
    {
        CairoCanvas canvas(*resources, bar.cairo(), 1.0f);
        canvas.strokePath(kBar, 0, 0, 2, 1, kBlack); // width 1 path unit = 2 units
    }
    box = bar.inkBox();
    EXPECT_EQ(box.left, 5); // square caps reach half the stroke beyond each end
    EXPECT_EQ(box.right, 42);
    EXPECT_EQ(box.top, 11);
    EXPECT_EQ(box.bottom, 12);
}

TEST_F(CairoCanvasTest, InvalidPathsDrawNothingAndAreParsedOnce) {
    static const char* const kRelative = "M0 0 l10 10 H0 Z";
    static const char* const kCubic = "M0 0 C1 1 2 2 3 3";
    Image image(40, 40);
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        for (const char* path : {kRelative, kCubic}) {
            canvas.fillPath(path, 0, 0, 1, kBlack);
            canvas.strokePath(path, 0, 0, 1, 2, kBlack);
        }
        canvas.fillPath(nullptr, 0, 0, 1, kBlack);
    }
    EXPECT_TRUE(image.inkBox().empty());
    EXPECT_EQ(resources->pathCount(), 2u);
}

TEST_F(CairoCanvasTest, CentredTextStartsHalfItsWidthLeft) {
    const std::string text = "ALGORITHM ";
    const float width = measure(text, kMono);
    ASSERT_GT(width, 40.0f);
    Image centred(200, 40);
    Image left(200, 40);
    {
        CairoCanvas a(*resources, centred.cairo(), 1.0f);
        a.drawText(text.data(), int32_t(text.size()), 100, 30, kMono, kBlack, kAlignCenter);
        CairoCanvas b(*resources, left.cairo(), 1.0f);
        b.drawText(text.data(), int32_t(text.size()), 100 - width / 2, 30, kMono, kBlack,
                   kAlignLeft);
    }
    EXPECT_FALSE(centred.inkBox().empty());
    EXPECT_TRUE(centred.samePixels(left));
}

TEST_F(CairoCanvasTest, TextSitsOnItsBaseline) {
    Image image(200, 100);
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        canvas.drawText("HIT", 3, 10, 60, kSans, kBlack, kAlignLeft);
    }
    const Image::Box box = image.inkBox();
    EXPECT_NEAR(box.bottom, 59, 1);
    EXPECT_GT(box.top, 60 - 20); // capitals are shorter than the em
    EXPECT_LT(box.top, 60 - 10);
    EXPECT_NEAR(box.left, 10, 3);
}

TEST_F(CairoCanvasTest, FixedLineHeightPlacesEveryBaselineAndMeasuresLinesTimesHeight) {
    const std::string text = "HI\nHI\nHI";
    Image image(100, 120);
    float drawn = 0;
    float measured = 0;
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        measured = canvas.measureTextBlock(text.data(), int32_t(text.size()), 0, 20, kSans);
        drawn =
            canvas.drawTextBlock(text.data(), int32_t(text.size()), 5, 30, 0, 20, kSans, kBlack);
    }
    EXPECT_FLOAT_EQ(measured, 60.0f);
    EXPECT_FLOAT_EQ(drawn, 60.0f);
    // The last of the three lines stands on y = 30 + 2 x 20.
    EXPECT_NEAR(image.inkBox().bottom, 69, 1);
    for (int row : {29, 49, 69})
        EXPECT_GT(image.alpha(8, row - 1), 0) << row;
    EXPECT_EQ(image.alpha(8, 31), 0);
}

TEST_F(CairoCanvasTest, WrappingKeepsLinesWithinTheWidth) {
    const std::string body = "VST3 is a trademark of Steinberg Media Technologies GmbH.";
    Image image(400, 100);
    float height = 0;
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        height = canvas.drawTextBlock(body.data(), int32_t(body.size()), 10, 20, 150, 18.2f,
                                      TextStyle{kFontSans, 13, 400, 100, 0, 0}, kBlack);
    }
    EXPECT_NEAR(std::fmod(height, 18.2f), 0.0f, 1e-3f);
    EXPECT_GE(height, 3 * 18.2f - 1e-3f);
    EXPECT_LE(image.inkBox().right, 10 + 150);
}

TEST_F(CairoCanvasTest, EmptyOrBrokenTextDrawsNothingAndMeasuresZero) {
    Image image(50, 50);
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        canvas.drawText("", 0, 10, 30, kSans, kBlack, kAlignLeft);
        canvas.drawText(nullptr, 4, 10, 30, kSans, kBlack, kAlignLeft);
        canvas.drawText("\xff\xfe", 2, 10, 30, kSans, kBlack, kAlignLeft);
        EXPECT_EQ(canvas.measureText("", 0, kSans), 0.0f);
        EXPECT_EQ(canvas.measureText("\xff\xfe", 2, kSans), 0.0f);
        EXPECT_EQ(canvas.measureTextBlock("", 0, 100, 20, kSans), 0.0f);
        EXPECT_EQ(canvas.drawTextBlock("", 0, 0, 20, 100, 20, kSans, kBlack), 0.0f);
        const TextStyle noSize{kFontSans, 0, 400, 100, 0, 0};
        EXPECT_EQ(canvas.measureText("A", 1, noSize), 0.0f);
    }
    EXPECT_TRUE(image.inkBox().empty());
}

TEST_F(CairoCanvasTest, WidthsCountTrailingSpacesAndTrackingAfterEveryCharacter) {
    const float pair = measure("AB", kMono);
    EXPECT_NEAR(measure("AB  ", kMono), 2 * pair, 1e-3f); // one advance per cell
    TextStyle tracked = kMono;
    tracked.tracking = 0.06f;
    EXPECT_NEAR(measure("AB", tracked), pair + 2 * 0.6f, 0.01f);
    EXPECT_NEAR(measure("A", tracked), pair / 2 + 0.6f, 0.01f);
}

TEST_F(CairoCanvasTest, VariableAxesFollowTheStyleWithinTheirRanges) {
    auto sansAt = [](float width, float weight) {
        return TextStyle{kFontSans, 20, weight, width, 0, 0};
    };
    EXPECT_GT(measure("Transport", sansAt(150, 700)), measure("Transport", sansAt(100, 700)) + 20);
    EXPECT_GT(measure("Transport", sansAt(100, 900)), measure("Transport", sansAt(100, 400)));
    EXPECT_FLOAT_EQ(measure("Transport", sansAt(30, 700)), measure("Transport", sansAt(50, 700)));
    EXPECT_FLOAT_EQ(measure("Transport", sansAt(200, 700)), measure("Transport", sansAt(150, 700)));

    // The optical size follows the font size from 6 to 96, so widths are not simply proportional.
    auto perEm = [&](float size) {
        TextStyle serif = kSerif;
        serif.size = size;
        return measure("morph", serif) / size;
    };
    EXPECT_NEAR(perEm(4), perEm(6), 5e-4f); // widths are kept to 1/1024 unit
    EXPECT_NEAR(perEm(120), perEm(96), 5e-4f);
    EXPECT_GT(std::abs(perEm(6) - perEm(96)), 3e-3f);
}

TEST_F(CairoCanvasTest, LayoutsAreSharedToTwoDecimalsAndTrimmedEvery64thFrame) {
    TextStyle style = kSans;
    measure("shared", style);
    const size_t layouts = resources->layoutCount();
    style.size += 0.001f;
    measure("shared", style);
    EXPECT_EQ(resources->layoutCount(), layouts);
    style.size += 0.01f;
    measure("shared", style);
    EXPECT_EQ(resources->layoutCount(), layouts + 1);

    for (int i = 0; i < 600; ++i)
        measure(std::to_string(i), kMono);
    ASSERT_GT(resources->layoutCount(), CairoResources::kMaxLayouts);
    for (int frame = 1; frame < 64; ++frame)
        resources->finishFrame();
    EXPECT_GT(resources->layoutCount(), CairoResources::kMaxLayouts);
    resources->finishFrame();
    EXPECT_EQ(resources->layoutCount(), 0u);
}

TEST_F(CairoCanvasTest, RepeatedTextAndPathsReuseTheirCachedShapes) {
    static const char* const kIcon = "M3 6 H21 M3 12 H21 M3 18 H14";
    const std::string text = "A long enough text to leave the small-string buffer";
    Image image(100, 40);
    CairoCanvas canvas(*resources, image.cairo(), 1.0f);
    const auto drawBoth = [&] {
        canvas.drawText(text.data(), int32_t(text.size()), 0, 30, kSans, kBlack, kAlignCenter);
        canvas.strokePath(kIcon, 0, 0, 1, 2, kBlack);
    };
    drawBoth();
    const size_t layouts = resources->layoutCount();
    test::AllocationCounter counter;
    drawBoth();
    EXPECT_EQ(counter.count(), 0u); // no key copies, no new layout, no parsing
    EXPECT_EQ(resources->layoutCount(), layouts);
    EXPECT_EQ(resources->pathCount(), 1u);
}

TEST_F(CairoCanvasTest, FormatCacheIsTrimmedOnlyAboveItsLimit) {
    for (int i = 0; i < 200; ++i)
        measure("A", TextStyle{kFontSans, 10 + i * 0.1f, 400, 100, 0, 0});
    for (int frame = 0; frame < 64; ++frame)
        resources->finishFrame();
    EXPECT_GE(resources->formatCount(), 200u);
    for (int i = 0; i < 100; ++i)
        measure("A", TextStyle{kFontSans, 40 + i * 0.1f, 400, 100, 0, 0});
    for (int frame = 0; frame < 64; ++frame)
        resources->finishFrame();
    EXPECT_EQ(resources->formatCount(), 0u);
}

TEST_F(CairoCanvasTest, NonFiniteGeometryDrawsNothingAndLeavesTheSurfaceUsable) {
    Image image(40, 40);
    const Point points[2] = {{1, 1}, {NAN, 5}};
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        canvas.fillRect(NAN, 0, 10, 10, kBlack);
        canvas.fillRoundedRect(0, 0, INFINITY, 10, 2, kBlack);
        canvas.strokeRect(0, 0, 10, NAN, 0, 1, kBlack);
        canvas.strokePolyline(points, 2, 1, kBlack);
        canvas.fillPath("M0 0 H10 V10 Z", NAN, 0, 1, kBlack);
        canvas.drawText("A", 1, INFINITY, 30, kSans, kBlack, kAlignLeft);
    }
    EXPECT_TRUE(image.inkBox().empty());
    EXPECT_EQ(cairo_status(image.cairo()), CAIRO_STATUS_SUCCESS);
    {
        CairoCanvas canvas(*resources, image.cairo(), 1.0f);
        canvas.fillRect(0, 0, 10, 10, kBlack);
    }
    EXPECT_FALSE(image.inkBox().empty());
}

TEST_F(CairoCanvasTest, ScaleThatIsNotPositiveDrawsNothing) {
    Image image(40, 40);
    for (float scale : {0.0f, -1.0f, NAN}) {
        CairoCanvas canvas(*resources, image.cairo(), scale);
        canvas.fillRect(0, 0, 40, 40, kBlack);
        canvas.fillPath("M0 0 H10 V10 Z", 0, 0, 1, kBlack);
        canvas.drawText("A", 1, 10, 30, kSans, kBlack, kAlignLeft);
    }
    EXPECT_TRUE(image.inkBox().empty());
    EXPECT_EQ(cairo_status(image.cairo()), CAIRO_STATUS_SUCCESS);
}

// A folder with copies of some of the font files, removed at the end.
class FontFolder {
public:
    FontFolder() {
        path_ =
            std::filesystem::temp_directory_path() /
            ("tavimo-fonts-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(path_);
    }
    ~FontFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    void copy(const char* file) {
        std::filesystem::copy_file(std::filesystem::path(TAVIMO_FONTS_DIR) / file, path_ / file);
    }
    void write(const char* file, const std::string& bytes) { std::ofstream(path_ / file) << bytes; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

TEST(CairoResources, EveryMissingFontFileMakesCreationFail) {
    for (int missing = 0; missing < 3; ++missing) {
        FontFolder folder;
        for (int i = 0; i < 3; ++i) {
            if (i != missing)
                folder.copy(CairoResources::kFontFiles[i]);
        }
        EXPECT_EQ(CairoResources::create(folder.path()), nullptr)
            << CairoResources::kFontFiles[missing];
    }
    EXPECT_EQ(CairoResources::create("/nonexistent/fonts"), nullptr);
}

TEST(CairoResources, DamagedFontFileMakesCreationFail) {
    FontFolder folder;
    folder.copy(CairoResources::kFontFiles[0]);
    folder.copy(CairoResources::kFontFiles[1]);
    folder.write(CairoResources::kFontFiles[2], "not a font");
    EXPECT_EQ(CairoResources::create(folder.path()), nullptr);
}

TEST(CairoResources, AllThreeFontsMakeResources) {
    FontFolder folder;
    for (const char* file : CairoResources::kFontFiles)
        folder.copy(file);
    EXPECT_NE(CairoResources::create(folder.path()), nullptr);
}

} // namespace
} // namespace tav::ui
