#include "ui/win32/WicSnapshotRenderer.h"

#include "ui/SnapshotScene.h"
#include "ui/win32/D2dCanvas.h"

#include <wincodec.h>

#include <cmath>

namespace tav::ui {
namespace {

constexpr float kDeviceIndependentDpi = 96.0f; // one device-independent unit is one pixel

// COM for WIC, once per thread; a thread already in another apartment is as good.
bool comReady() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;
}

ComPtr<IWICBitmap> paintBitmap(IWICImagingFactory* wic, Window& window,
                               GraphicsResources& resources, float scale) {
    scale = SnapshotScene::clampScale(scale);
    const auto width = static_cast<UINT>(std::lround(Window::kWidth * scale));
    const auto height = static_cast<UINT>(std::lround(Window::kHeight * scale));
    ComPtr<IWICBitmap> bitmap;
    if (FAILED(wic->CreateBitmap(width, height, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                                 &bitmap)))
        return nullptr;
    const D2D1_RENDER_TARGET_PROPERTIES properties{
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1_PIXEL_FORMAT{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
        kDeviceIndependentDpi,
        kDeviceIndependentDpi,
        D2D1_RENDER_TARGET_USAGE_NONE,
        D2D1_FEATURE_LEVEL_DEFAULT};
    ComPtr<ID2D1RenderTarget> target;
    if (resources.d2dFactory() == nullptr ||
        FAILED(resources.d2dFactory()->CreateWicBitmapRenderTarget(bitmap.Get(), &properties,
                                                                   &target)))
        return nullptr;
    target->BeginDraw();
    {
        // The same mapping as a window of that width: pixels per view unit = width / 760.
        D2dCanvas canvas(resources, target.Get(), static_cast<float>(width) / Window::kWidth);
        window.paint(canvas);
    }
    if (FAILED(target->EndDraw(nullptr, nullptr)))
        return nullptr;
    return bitmap;
}

bool encodePng(IWICImagingFactory* wic, IWICBitmap* bitmap, const std::filesystem::path& file) {
    UINT width = 0, height = 0;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(bitmap->GetSize(&width, &height)) || FAILED(wic->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromFilename(file.wstring().c_str(), GENERIC_WRITE)) ||
        FAILED(wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(width, height)))
        return false;
    // The editor is opaque, so the premultiplied pixels are the straight ones.
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(frame->SetPixelFormat(&format)) || FAILED(frame->WriteSource(bitmap, nullptr)) ||
        FAILED(frame->Commit()))
        return false;
    return SUCCEEDED(encoder->Commit());
}

} // namespace

bool WicSnapshotRenderer::writePng(Window& window, GraphicsResources& resources, float scale,
                                   const std::filesystem::path& file) {
    if (!comReady())
        return false;
    ComPtr<IWICImagingFactory> wic;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IWICImagingFactory),
                                reinterpret_cast<void**>(wic.GetAddressOf()))))
        return false;
    const ComPtr<IWICBitmap> bitmap = paintBitmap(wic.Get(), window, resources, scale);
    return bitmap && encodePng(wic.Get(), bitmap.Get(), file);
}

} // namespace tav::ui
