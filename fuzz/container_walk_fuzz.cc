// The container walk on arbitrary images, as the installer walks them: the
// header checks, then entry by entry, each entry's data checked.
//
// Properties:
//  - every input gets a verdict: the walk ends (at `end` or `corrupt`) and,
//    once ended, keeps answering the same;
//  - every read stays inside the image (it ends at a guard page);
//  - what the walk hands out lies inside the image: each name inside the
//    directory entry it came from, each entry's data inside the image and
//    before data end, with the checksum it claims;
//  - walk_image agrees with the step-by-step walk.
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/guarded_buffer.h"
#include "payload/checksum.h"
#include "payload/container.h"
#include "payload/entry_name.h"

namespace {

bool inside(std::span<const uint8_t> image, const void* begin, size_t length) {
    const auto* p = static_cast<const uint8_t*>(begin);
    return p >= image.data() && length <= size_t(image.data() + image.size() - p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumo::fuzz::ReusedGuardedBuffer buffer(16384);
    buffer.place({data, size});
    const std::span<const uint8_t> image = buffer.bytes();

    lumo::ImageHeader header;
    bool whole = lumo::validate_image_header(image, header);
    size_t good_entries = 0;
    if (whole) {
        FUZZ_CHECK(image.size() >= lumo::image_header_size);
        FUZZ_CHECK(uint64_t(header.directory_offset) + header.directory_length <= image.size());
        lumo::DirectoryWalker walker(image, header);
        lumo::DirectoryEntry entry;
        lumo::DirectoryWalker::Step step;
        // Every step moves on by at least the fixed part of an entry, so the
        // walk cannot take more steps than this.
        size_t steps_left = image.size() / lumo::directory_entry_size + 2;
        while ((step = walker.next(entry)) == lumo::DirectoryWalker::Step::entry) {
            FUZZ_CHECK(steps_left-- > 0);
            FUZZ_CHECK(inside(image, entry.name.data(), entry.name.size() + 1));
            FUZZ_CHECK(entry.name.find('\0') == std::string_view::npos);
            lumo::check_entry_name(entry.name);
            if (!lumo::check_entry_data(image, header, entry)) {
                whole = false;
                break;
            }
            FUZZ_CHECK(entry.data.size() == entry.data_size);
            FUZZ_CHECK(inside(image, entry.data.data(), entry.data.size()));
            FUZZ_CHECK(uint64_t(entry.data_offset) + entry.data_size <= header.data_end);
            FUZZ_CHECK(lumo::container_checksum(entry.data.data(), entry.data.size()) == entry.data_checksum);
            ++good_entries;
        }
        if (whole) {
            FUZZ_CHECK(step == lumo::DirectoryWalker::Step::end || step == lumo::DirectoryWalker::Step::corrupt);
            whole = step == lumo::DirectoryWalker::Step::end;
            FUZZ_CHECK(walker.next(entry) == step);
        }
    }

    size_t visited = 0;
    const bool walked = lumo::walk_image(image, [&](const lumo::DirectoryEntry&) { ++visited; });
    FUZZ_CHECK(walked == whole);
    FUZZ_CHECK(visited == good_entries);
    return 0;
}
