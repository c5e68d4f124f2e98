#pragma once

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo snapshot` (the editor drawn into a PNG) on the command line. Defined by
// the editor's tool source; main registers it only when that source is built in, which it
// announces by defining TAVIMO_HAVE_SNAPSHOT_COMMAND on the tavimo target.
void addSnapshotCommand(CLI::App& app);

} // namespace tav::tools
