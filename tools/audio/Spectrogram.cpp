#include "tools/audio/Spectrogram.h"

#include "tools/HostError.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

namespace tav::host {

namespace {

constexpr int kWidth = 1200, kHeight = 640;
constexpr double kPlotLeft = 70, kPlotRight = 1170, kPlotTop = 56, kPlotBottom = 540;
constexpr double kLaneTop = 566, kLaneBottom = 606;
constexpr double kLowHz = 30.0, kFloorDb = -90.0;

// Iterative radix-2 FFT in place; size is a power of two.
void fft(std::vector<std::complex<double>>& data) {
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(length);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t start = 0; start < n; start += length) {
            std::complex<double> w(1.0);
            for (size_t k = 0; k < length / 2; ++k) {
                const auto even = data[start + k];
                const auto odd = data[start + k + length / 2] * w;
                data[start + k] = even + odd;
                data[start + k + length / 2] = even - odd;
                w *= step;
            }
        }
    }
}

// A perceptually ordered dark-to-bright map (black, indigo, magenta, orange, pale yellow).
std::array<double, 3> colourFor(double t) {
    static constexpr std::array<std::array<double, 3>, 5> stops{{{0.00, 0.00, 0.02},
                                                                 {0.23, 0.06, 0.43},
                                                                 {0.71, 0.21, 0.48},
                                                                 {0.98, 0.53, 0.23},
                                                                 {0.99, 0.99, 0.75}}};
    t = std::clamp(t, 0.0, 1.0) * (stops.size() - 1);
    const size_t i = std::min<size_t>(static_cast<size_t>(t), stops.size() - 2);
    const double f = t - static_cast<double>(i);
    return {stops[i][0] + f * (stops[i + 1][0] - stops[i][0]),
            stops[i][1] + f * (stops[i + 1][1] - stops[i][1]),
            stops[i][2] + f * (stops[i + 1][2] - stops[i][2])};
}

// Power spectra (dB) of columns evenly spread over the sound, the channels' powers averaged
// (summing the channels first would paint beats between slightly detuned sides).
std::vector<std::vector<float>> spectra(const AudioBuffer& audio, int columns, int size) {
    std::vector<double> window(static_cast<size_t>(size));
    double windowSum = 0.0;
    for (int i = 0; i < size; ++i) {
        window[size_t(i)] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / size);
        windowSum += window[size_t(i)];
    }
    std::vector<std::vector<float>> result(static_cast<size_t>(columns));
    std::vector<std::complex<double>> frame(static_cast<size_t>(size));
    std::vector<double> power(static_cast<size_t>(size / 2 + 1));
    for (int column = 0; column < columns; ++column) {
        const double centre = (column + 0.5) * static_cast<double>(audio.frames()) / columns;
        const int64_t start = static_cast<int64_t>(centre) - size / 2;
        std::fill(power.begin(), power.end(), 0.0);
        for (const auto& channel : audio.channels) {
            for (int i = 0; i < size; ++i) {
                const int64_t at = start + i;
                const double sample = at >= 0 && at < audio.frames() ? channel[size_t(at)] : 0.0;
                frame[size_t(i)] = sample * window[size_t(i)];
            }
            fft(frame);
            for (size_t k = 0; k < power.size(); ++k)
                power[k] += std::norm(frame[k]) / audio.channelCount();
        }
        auto& bins = result[size_t(column)];
        bins.resize(power.size());
        for (size_t k = 0; k < bins.size(); ++k) {
            // Full-scale sine reads 0 dB: amplitude scaled by the window's sum, one side.
            const double amplitude = 2.0 * std::sqrt(power[k]) / windowSum;
            bins[k] = static_cast<float>(20.0 * std::log10(amplitude + 1e-12));
        }
    }
    return result;
}

void label(cairo_t* cr, double x, double y, const std::string& text, double size, bool centred) {
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    cairo_move_to(cr, centred ? x - extents.width / 2 - extents.x_bearing : x, y);
    cairo_show_text(cr, text.c_str());
}

std::string hzLabel(double hz) {
    return hz >= 1000.0 ? std::to_string(static_cast<int>(hz / 1000.0)) + "k"
                        : std::to_string(static_cast<int>(hz));
}

} // namespace

void Spectrogram::releaseFontCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}

void Spectrogram::writePng(const std::filesystem::path& path, const AudioBuffer& audio,
                           const std::string& title, const std::optional<MorphRamp>& morph) {
    const int columns = static_cast<int>(kPlotRight - kPlotLeft);
    const int rows = static_cast<int>(kPlotBottom - kPlotTop);
    const int size = audio.sampleRate < 64000.0 ? 4096 : 8192; // about 85 ms: low notes resolve
    const double highHz = std::min(20000.0, audio.sampleRate / 2.0);
    const auto columnSpectra = spectra(audio, columns, size);

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.97, 0.96, 0.93);
    cairo_paint(cr);

    // The plot, one pixel per column and row; each row reads the bin at its frequency.
    cairo_surface_t* plot = cairo_image_surface_create(CAIRO_FORMAT_RGB24, columns, rows);
    cairo_surface_flush(plot);
    unsigned char* pixels = cairo_image_surface_get_data(plot);
    const int stride = cairo_image_surface_get_stride(plot);
    const double binHz = audio.sampleRate / size;
    for (int row = 0; row < rows; ++row) {
        const double fraction = 1.0 - (row + 0.5) / rows;
        const double hz = kLowHz * std::pow(highHz / kLowHz, fraction);
        const double bin = hz / binHz;
        const size_t k0 = static_cast<size_t>(bin);
        const double f = bin - static_cast<double>(k0);
        for (int column = 0; column < columns; ++column) {
            const auto& bins = columnSpectra[size_t(column)];
            const size_t k1 = std::min(k0 + 1, bins.size() - 1);
            const double dB = (1.0 - f) * bins[std::min(k0, bins.size() - 1)] + f * bins[k1];
            const auto rgb = colourFor((dB - kFloorDb) / -kFloorDb);
            auto* pixel = reinterpret_cast<uint32_t*>(pixels + row * stride) + column;
            *pixel =
                uint32_t(rgb[0] * 255) << 16 | uint32_t(rgb[1] * 255) << 8 | uint32_t(rgb[2] * 255);
        }
    }
    cairo_surface_mark_dirty(plot);
    cairo_set_source_surface(cr, plot, kPlotLeft, kPlotTop);
    cairo_paint(cr);
    cairo_surface_destroy(plot);

    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
    label(cr, kPlotLeft, 34, title, 20, false);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

    // Frequency axis: octave-spaced ticks from the low edge.
    for (double hz : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        if (hz > highHz)
            break;
        const double y = kPlotBottom - (kPlotBottom - kPlotTop) * std::log(hz / kLowHz) /
                                           std::log(highHz / kLowHz);
        cairo_move_to(cr, kPlotLeft - 6, y);
        cairo_line_to(cr, kPlotLeft, y);
        cairo_stroke(cr);
        label(cr, kPlotLeft - 44, y + 4, hzLabel(hz), 12, false);
    }
    label(cr, 18, kPlotTop - 10, "Hz", 12, false);

    // Time axis: one tick per second (or per tenth for short sounds).
    const double seconds = static_cast<double>(audio.frames()) / audio.sampleRate;
    const double step = seconds > 2.0 ? 1.0 : 0.1;
    for (double t = 0.0; t <= seconds + 1e-9; t += step) {
        const double x = kPlotLeft + (kPlotRight - kPlotLeft) * t / seconds;
        cairo_move_to(cr, x, kPlotBottom);
        cairo_line_to(cr, x, kPlotBottom + 5);
        cairo_stroke(cr);
        char text[16];
        std::snprintf(text, sizeof text, step < 1.0 ? "%.1f" : "%.0f", t);
        label(cr, x, kPlotBottom + 18, text, 12, true);
    }
    label(cr, 8, kPlotBottom + 18, "seconds", 12, false);

    // The Morph lane: 0 (all A) at the bottom, 1 (all B) at the top.
    if (morph) {
        cairo_set_source_rgb(cr, 0.88, 0.86, 0.82);
        cairo_rectangle(cr, kPlotLeft, kLaneTop, kPlotRight - kPlotLeft, kLaneBottom - kLaneTop);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.71, 0.21, 0.48);
        cairo_set_line_width(cr, 2.0);
        for (int column = 0; column <= columns; ++column) {
            const double value = morph->valueAt(seconds * column / columns);
            const double y = kLaneBottom - (kLaneBottom - kLaneTop) * value;
            if (column == 0)
                cairo_move_to(cr, kPlotLeft + column, y);
            else
                cairo_line_to(cr, kPlotLeft + column, y);
        }
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
        label(cr, 8, kLaneTop + 12, "Morph", 12, false);
        label(cr, 8, kLaneBottom, "A 0 / B 1", 10, false);
    }
    // Level scale.
    for (int i = 0; i <= 100; ++i) {
        const auto rgb = colourFor(i / 100.0);
        cairo_set_source_rgb(cr, rgb[0], rgb[1], rgb[2]);
        cairo_rectangle(cr, kPlotRight - 300 + 2.0 * i, 20, 2.0, 12);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
    label(cr, kPlotRight - 340, 31, "-90", 11, false);
    label(cr, kPlotRight - 95, 31, "0 dBFS", 11, false);

    cairo_destroy(cr);
    std::filesystem::path temporary = path;
    temporary += ".partial.png";
    const cairo_status_t status = cairo_surface_write_to_png(surface, temporary.string().c_str());
    cairo_surface_destroy(surface);
    std::error_code error;
    if (status != CAIRO_STATUS_SUCCESS) {
        std::filesystem::remove(temporary, error);
        throw HostError("cannot write \"" + path.string() +
                        "\": " + cairo_status_to_string(status));
    }
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        throw HostError("cannot write \"" + path.string() + "\"");
    }
}

} // namespace tav::host
