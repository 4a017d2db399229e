// The main line of a run: staging folder, clean-up, dialog, hand-off.
#include "launcher/run_installer.h"
#include "launcher/staging_cleanup.h"
#include "resources/resource_ids.h"

namespace lumo {

std::string staging_folder_path(Platform& platform) {
    const char separator = platform.separator();
    std::string folder = platform.temp_folder();
    if (folder.empty()) folder = std::string(1, separator) + "temp" + separator;
    // It normally exists already; whether it was created does not matter.
    platform.create_directory(folder);
    if (folder.back() != separator) folder += separator;
    return folder + staging_folder_name + separator;
}

int run_installer(Platform& platform, EntryHook& entry_hook, const UnpackFunction& unpack) {
    const std::string staging_folder = staging_folder_path(platform);

    // A staging folder in a shared temporary folder may have been put there
    // by someone else, as a link or a folder of theirs: never empty it or
    // write through it.
    const StagingCheck check = platform.prepare_staging_folder(staging_folder);
    if (check == StagingCheck::unsafe) {
        platform.message_box(platform.load_string(IDS_UNSAFE_STAGING_HEAD) + staging_folder +
                                 platform.load_string(IDS_UNSAFE_STAGING_TAIL),
                             false);
        return 0;
    }

    // A folder that could not be made holds nothing to empty; the writer then
    // reports the first file it cannot create, as on a full disk.
    if (check == StagingCheck::ready)
        empty_staging_folder(platform, staging_folder);  // what stays is replaced or reported by the writer

    ExtractionRun run{platform, staging_folder, entry_hook, unpack};
    // Declared after the run: whatever ends the dialog, the worker has ended
    // before the run's state goes.
    std::unique_ptr<JoinableThread> worker;
    platform.run_progress_dialog(staging_folder, [&] {
        worker = platform.start_thread([&run] { run_extraction_worker(run); });
        // Without a worker nobody would ever end the dialog. Closing it at
        // once leaves the status unset, which is reported below.
        if (!worker) platform.post_close();
    });
    worker.reset();

    // The worker has ended, so it has written the status if it ever will.
    const int32_t status = run.status.load();
    if (status == extraction_unset) platform.message_box(platform.load_string(IDS_DECOMPRESS_FAILED), false);
    if (status <= extraction_unset) return 0;

    // A run that starts nothing says so, in the system's words, and fails.
    const std::string program_path = staging_folder + setup_program_name;
    std::string failure;
    if (platform.start_program("\"" + program_path + "\"", program_path, staging_folder, failure)) return 0;
    platform.message_box(platform.load_string(IDS_START_FAILED_HEAD) + program_path +
                             platform.load_string(IDS_START_FAILED_TAIL) + failure,
                         false);
    return 1;
}

}  // namespace lumo
