#include "ui/win32/GraphicsResources.h"

#include "ui/NativeWindowCommon.h"
#include "ui/PathParser.h"

#include <cstring>
#include <optional>

namespace tav::ui {
namespace {

D2D1_POINT_2F pointOf(const Point& p) {
    return D2D1_POINT_2F{p.x, p.y};
}

} // namespace

bool GraphicsResources::initialise(const std::filesystem::path& fontsFolder) {
    collection.Reset();
    write.Reset();
    d2d.Reset();
    paths.clear();
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                 reinterpret_cast<void**>(d2d.GetAddressOf()))))
        return false;
    if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory6),
                                   reinterpret_cast<IUnknown**>(write.GetAddressOf()))))
        return false;

    ComPtr<IDWriteFontSetBuilder2> builder;
    if (FAILED(write->CreateFontSetBuilder(&builder)))
        return false;
    for (const char* file : kFontFiles) {
        const std::wstring path = (fontsFolder / file).wstring();
        if (FAILED(builder->AddFontFile(path.c_str())))
            return false;
    }
    ComPtr<IDWriteFontSet> fontSet;
    if (FAILED(builder->CreateFontSet(&fontSet)))
        return false;
    return SUCCEEDED(write->CreateFontCollectionFromFontSet(
        fontSet.Get(), DWRITE_FONT_FAMILY_MODEL_TYPOGRAPHIC, &collection));
}

ID2D1PathGeometry* GraphicsResources::pathGeometry(const char* pathText) {
    auto found = paths.find(pathText);
    if (found == paths.end())
        found = paths.emplace(pathText, makeGeometry(pathText)).first;
    return found->second.Get();
}

ComPtr<ID2D1PathGeometry> GraphicsResources::makeGeometry(const char* pathText) const {
    if (pathText == nullptr || !d2d)
        return nullptr;
    const std::optional<PathShape> shape = PathParser::parse(pathText);
    if (!shape)
        return nullptr;
    ComPtr<ID2D1PathGeometry> geometry;
    ComPtr<ID2D1GeometrySink> sink;
    if (FAILED(d2d->CreatePathGeometry(&geometry)) || FAILED(geometry->Open(&sink)))
        return nullptr;
    sink->SetFillMode(D2D1_FILL_MODE_WINDING);
    for (const PathFigure& figure : shape->figures) {
        sink->BeginFigure(pointOf(figure.start), D2D1_FIGURE_BEGIN_FILLED);
        for (const PathSegment& segment : figure.segments) {
            if (segment.kind == PathSegment::kQuadratic) {
                const D2D1_QUADRATIC_BEZIER_SEGMENT curve{pointOf(segment.control),
                                                          pointOf(segment.end)};
                sink->AddQuadraticBezier(&curve);
            } else {
                sink->AddLine(pointOf(segment.end));
            }
        }
        sink->EndFigure(figure.closed ? D2D1_FIGURE_END_CLOSED : D2D1_FIGURE_END_OPEN);
    }
    if (FAILED(sink->Close()))
        return nullptr;
    return geometry;
}

} // namespace tav::ui
