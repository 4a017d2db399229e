// The PE version resource reader on arbitrary files, as the update check
// reads the installed product's program on POSIX.
//
// Properties:
//  - every read stays inside the file, and inside the version block (both
//    end at a guard page);
//  - a version resource that is found lies inside the file;
//  - the answers are a function of the block: a second query answers the same.
#include "fuzz/fuzz_check.h"
#include "fuzz/guarded_buffer.h"
#include "platform/posix/pe_version_resource.h"

namespace {

bool same(const lumo::VersionInfo& a, const lumo::VersionInfo& b) {
    return a.has_fixed_info == b.has_fixed_info && a.file_version_ms == b.file_version_ms &&
           a.file_version_ls == b.file_version_ls && a.has_product_name == b.has_product_name &&
           a.product_name == b.product_name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumo::fuzz::ReusedGuardedBuffer file(65536);
    file.place({data, size});

    // The input as a version block by itself, so that the block reader is
    // reached without a whole PE file around it.
    const lumo::VersionInfo direct = lumo::query_version_block(file.bytes());
    FUZZ_CHECK(same(direct, lumo::query_version_block(file.bytes())));
    if (!direct.has_product_name) FUZZ_CHECK(direct.product_name.empty());

    const auto resource = lumo::find_version_resource(file.bytes());
    if (!resource) return 0;
    FUZZ_CHECK(resource->offset <= size && resource->size <= size - resource->offset);
    static lumo::fuzz::ReusedGuardedBuffer block(65536);
    block.place(file.bytes().subspan(resource->offset, resource->size));
    const lumo::VersionInfo info = lumo::query_version_block(block.bytes());
    if (!info.has_product_name) FUZZ_CHECK(info.product_name.empty());
    return 0;
}
