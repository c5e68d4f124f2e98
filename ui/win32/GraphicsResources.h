#pragma once

#include <d2d1.h>
#include <dwrite_3.h>
#include <wrl/client.h>

#include <filesystem>
#include <map>

namespace tav::ui {

using Microsoft::WRL::ComPtr;

// The graphics resources of one Windows editor window: the Direct2D and DirectWrite factories,
// the private font collection made from the product's three font files (no system fonts, no
// fallback) and the parsed path shapes. UI thread only.
class GraphicsResources {
public:
    // UI thread; allocates. (Re)creates both factories and loads the three fonts from
    // `fontsFolder`; false when a factory cannot be made or any font file cannot be added, in
    // which case no editor can be drawn.
    bool initialise(const std::filesystem::path& fontsFolder);

    ID2D1Factory* d2dFactory() const { return d2d.Get(); }
    IDWriteFactory6* writeFactory() const { return write.Get(); }
    IDWriteFontCollection2* fonts() const { return collection.Get(); }

    // UI thread; parses once per string address (the view passes constant strings). Null when
    // the string is not a valid path, which is remembered too.
    ID2D1PathGeometry* pathGeometry(const char* pathText);

    size_t pathCount() const { return paths.size(); }

private:
    ComPtr<ID2D1PathGeometry> makeGeometry(const char* pathText) const;

    ComPtr<ID2D1Factory> d2d;
    ComPtr<IDWriteFactory6> write;
    ComPtr<IDWriteFontCollection2> collection;
    std::map<const char*, ComPtr<ID2D1PathGeometry>> paths;
};

} // namespace tav::ui
