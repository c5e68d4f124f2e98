// The Direct2D canvas under Wine: font loading, the text caches' keys and trimming, and where
// rectangles, lines and paths put their ink on a bitmap. Prints each failed check and exits 1 if
// any failed. Wine ignores variable-font axes, so no glyph shapes are compared.
#include "ui/win32/D2dCanvas.h"
#include "ui/win32/GraphicsResources.h"
#include "ui/win32/TextFormatCache.h"
#include "ui/win32/TextLayoutCache.h"

#include <wincodec.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

using namespace tav::ui;

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

constexpr UINT kSide = 64;
const Color kBlack{0.0f, 0.0f, 0.0f, 1.0f};

// Draws on a white 64 x 64 bitmap at one pixel per unit and counts the inked pixels inside and
// outside a box.
struct Ink {
    int inside = 0;
    int outside = 0;
};

Ink inkOf(GraphicsResources& resources, IWICImagingFactory* wic,
          const std::function<void(Canvas&)>& draw, D2D1_RECT_U box) {
    ComPtr<IWICBitmap> bitmap;
    ComPtr<ID2D1RenderTarget> target;
    const D2D1_RENDER_TARGET_PROPERTIES properties{
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1_PIXEL_FORMAT{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
        96.0f,
        96.0f,
        D2D1_RENDER_TARGET_USAGE_NONE,
        D2D1_FEATURE_LEVEL_DEFAULT};
    Ink ink;
    if (FAILED(wic->CreateBitmap(kSide, kSide, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                                 &bitmap)) ||
        FAILED(resources.d2dFactory()->CreateWicBitmapRenderTarget(bitmap.Get(), &properties,
                                                                   &target))) {
        check(false, "a bitmap render target can be made");
        return ink;
    }
    target->BeginDraw();
    const D2D1_COLOR_F white{1.0f, 1.0f, 1.0f, 1.0f};
    target->Clear(&white);
    {
        D2dCanvas canvas(resources, target.Get(), 1.0f);
        draw(canvas);
    }
    check(SUCCEEDED(target->EndDraw(nullptr, nullptr)), "drawing on the bitmap ends cleanly");
    ComPtr<IWICBitmapLock> lock;
    const WICRect all{0, 0, static_cast<INT>(kSide), static_cast<INT>(kSide)};
    UINT stride = 0, size = 0;
    BYTE* pixels = nullptr;
    if (FAILED(bitmap->Lock(&all, WICBitmapLockRead, &lock)) || FAILED(lock->GetStride(&stride)) ||
        FAILED(lock->GetDataPointer(&size, &pixels))) {
        check(false, "the bitmap can be read");
        return ink;
    }
    for (UINT y = 0; y < kSide; ++y)
        for (UINT x = 0; x < kSide; ++x) {
            if (pixels[y * stride + x * 4 + 1] > 200) // green channel: white enough
                continue;
            const bool inBox = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
            (inBox ? ink.inside : ink.outside) += 1;
        }
    return ink;
}

void testFonts(const std::filesystem::path& fonts, const std::filesystem::path& partial) {
    GraphicsResources missing;
    check(!missing.initialise(partial), "a folder without all three fonts is refused");
    GraphicsResources complete;
    check(complete.initialise(fonts), "the three fonts load");
}

void testTextCaches(GraphicsResources& resources) {
    TextLayoutCache& layouts = TextLayoutCache::instance();
    layouts.clear();
    D2dCanvas measuring(resources, nullptr, 1.0f);
    TextStyle style;
    style.family = kFontSans;
    style.size = 12.0f;
    const char text[] = "Imprint";
    const float width = measuring.measureText(text, 7, style);
    check(width > 10.0f, "a word measures wider than 10 units: " + std::to_string(width));
    style.size = 12.001f;
    measuring.measureText(text, 7, style);
    check(layouts.size() == 1, "sizes that agree to two decimals share a layout");
    style.size = 12.01f;
    measuring.measureText(text, 7, style);
    check(layouts.size() == 2, "sizes 0.01 apart get a layout each");
    check(measuring.measureText("", 0, style) == 0.0f, "an empty text measures 0");

    for (int i = 0; i < 600; ++i) {
        const std::string distinct = std::to_string(i);
        measuring.measureText(distinct.data(), static_cast<int32_t>(distinct.size()), style);
    }
    trimTextCaches(63);
    check(layouts.size() > 512, "no trimming before a 64th frame");
    trimTextCaches(64);
    check(layouts.size() == 0, "a 64th frame clears more than 512 layouts");
    check(TextFormatCache::instance().size() > 0, "a few formats stay");

    const float height = measuring.measureTextBlock("one two three", 13, 1.0f, 20.0f, style);
    check(height == 60.0f, "three wrapped lines 20 high measure 60: " + std::to_string(height));
}

void testInk(GraphicsResources& resources, IWICImagingFactory* wic) {
    const Ink frame =
        inkOf(resources, wic,
              [](Canvas& c) { c.strokeRect(10.0f, 10.0f, 20.0f, 20.0f, 0.0f, 2.0f, kBlack); },
              {10, 10, 30, 30});
    check(frame.inside > 60 && frame.outside == 0,
          "a stroked rectangle keeps its ink inside its bounds (" + std::to_string(frame.outside) +
              " outside)");

    const Point one[] = {{5.0f, 5.0f}, {50.0f, 50.0f}};
    const Ink dot = inkOf(resources, wic,
                          [&](Canvas& c) { c.strokePolyline(one, 1, 4.0f, kBlack); }, {0, 0, 0, 0});
    check(dot.outside == 0, "a polyline of one point draws nothing");

    static const char* const kSquare = "M13 4 H19 V10 H13 Z";
    const Ink square =
        inkOf(resources, wic, [](Canvas& c) { c.fillPath(kSquare, 10.0f, 20.0f, 2.0f, kBlack); },
              {36, 28, 48, 40});
    check(square.inside > 100 && square.outside == 0,
          "a filled path is scaled by 2 and moved by (10, 20)");

    static const char* const kRelative = "M3 6 l18 0";
    static const char* const kCubic = "M3 6 C4 4 8 8 21 6";
    const Ink invalid = inkOf(resources, wic,
                              [](Canvas& c) {
                                  for (const char* path : {kRelative, kCubic}) {
                                      c.fillPath(path, 0.0f, 0.0f, 2.0f, kBlack);
                                      c.strokePath(path, 0.0f, 0.0f, 2.0f, 2.0f, kBlack);
                                  }
                              },
                              {0, 0, 0, 0});
    check(invalid.outside == 0, "paths with relative or cubic commands draw nothing");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tavimo_canvas_test FONTS PARTIAL_FONTS\n");
        return 2;
    }
    testFonts(argv[1], argv[2]);
    GraphicsResources resources;
    if (!resources.initialise(argv[1])) {
        std::fprintf(stderr, "FAILED: no fonts in %s\n", argv[1]);
        return 1;
    }
    testTextCaches(resources);

    ComPtr<IWICImagingFactory> wic;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) ||
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IWICImagingFactory),
                                reinterpret_cast<void**>(wic.GetAddressOf())))) {
        std::fprintf(stderr, "FAILED: no WIC\n");
        return 1;
    }
    testInk(resources, wic.Get());
    std::printf("%s\n", failures == 0 ? "all checks passed" : "some checks failed");
    return failures == 0 ? 0 : 1;
}
