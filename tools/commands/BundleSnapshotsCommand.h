#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo bundle-snapshots BUNDLE`: the editor's pictures that hosts show in their
// plug-in browsers, Contents/Resources/Snapshots/<processor class id>_snapshot.png at 1x and
// _snapshot_2.0x.png at 2x, drawn with the bundle's own fonts. The build runs it.
void addBundleSnapshotsCommand(CLI::App& app, std::function<int()>& action);

} // namespace tav::tools
