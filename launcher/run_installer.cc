// The installer's run as shipped: the setup script read and the installed
// product checked as the entries are written, the payload unpacked by the
// packed stream decoder.
#include "launcher/run_installer.h"

#include "extraction/setup_entry_handling.h"
#include "payload/unpack_stream.h"

namespace lumo {

int run_installer(Platform& platform) {
    // The setup record and the product's folder live for the whole run.
    SetupRecord setup_record;
    InstalledProduct installed_product;
    SetupEntryHandling entry_hook(platform, setup_record, installed_product);
    return run_installer(platform, entry_hook, unpack_stream_to);
}

}  // namespace lumo
