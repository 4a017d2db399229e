// The installer's main line, the same on every platform.
#pragma once

#include "extraction/entry_hook.h"
#include "extraction/extraction_worker.h"
#include "platform/platform.h"

namespace lumo {

// The name of the staging folder below the temporary folder, and of the
// setup program that is started from it.
inline constexpr char staging_folder_name[] = "Lumo.40";
inline constexpr char setup_program_name[] = "Setup.exe";

// The staging folder of a run: the temporary folder (or the fallback
// "<sep>temp<sep>"), a separator unless it ends in one, "Lumo.40" and a
// separator. Creates the temporary folder when it is missing.
std::string staging_folder_path(Platform& platform);

// Prepares and empties the staging folder, runs the progress dialog while the
// worker extracts, and on success starts the setup program from the staging
// folder without waiting for it. Answers the installer's exit code: 0, or 1
// when the setup program could not be started.
int run_installer(Platform& platform);

// The same with the decision after each written entry made by `entry_hook`
// and the payload unpacked by `unpack`.
int run_installer(Platform& platform, EntryHook& entry_hook, const UnpackFunction& unpack);

}  // namespace lumo
