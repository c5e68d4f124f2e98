#pragma once

namespace tav::ui {

// The product's name as one filled path (M, L, Q and Z, absolute), its letters standing on the
// baseline y = 0: every point lies within x 2.4..1054.9 and y -68.2..0.6. A single constant, so
// canvases that cache paths by address parse it once.
extern const char kWordmarkPath[];

} // namespace tav::ui
