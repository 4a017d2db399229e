// Whole installers through the streaming path (the decoding thread, the
// block hand-off, the file writer with its temporary names) against the
// whole-image path, with the real decoder over the fake platform.
//
// Input: a flags byte, a u32 little-endian word, then the packed stream.
// Bit 0 of the flags asks for the early stop after "setup.exe". The word's
// low 20 bits are the stored unpacked size (up to 1 MiB, a decoder block),
// or its low 23 bits when flag bits 1 to 3 are all set (up to 8 MiB:
// several blocks, handed on, waited for and their place in the decoder's
// buffer taken again). Large images cost the fuzzer the most time (fresh
// pages for the decoder's buffer and the whole image), so they are the
// rarer kind.
//
// Properties:
//  - neither path crashes, reads or writes out of bounds, or waits forever
//    (the sanitizers and libFuzzer's timeout);
//  - both leave the same files, the same effects in the same order (the
//    messages, the dialog's end, the setup entries handled) and the same
//    status, as the differential test asks of its inputs; but for a stored
//    unpacked size above what the stream can fill, which the whole path
//    refuses as damaged and the streamed path installs from the image's
//    front (its directory no longer than the stream can fill).

#include "fuzz/fuzz_check.h"
#include "tests/support/streamed_and_whole.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const bool stop_after_setup = data[0] & 1;
    const uint32_t word =
        uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16 | uint32_t(data[4]) << 24;
    const unsigned size_bits = (data[0] & 0x0E) == 0x0E ? 23 : 20;
    const uint32_t unpacked_size = word & ((1u << size_bits) - 1);
    const std::vector<uint8_t> installer = lumo::test::installer_of({data + 5, data + size}, unpacked_size);

    const lumo::test::Seen streamed = lumo::test::run_installer(installer, lumo::ImagePath::streamed, stop_after_setup);
    const lumo::test::Seen whole = lumo::test::run_installer(installer, lumo::ImagePath::whole, stop_after_setup);
    if (unpacked_size > lumo::max_unpacked_size(size - 5)) {
        FUZZ_CHECK(whole.status == lumo::extraction_failed && whole.files.empty());
        return 0;
    }
    FUZZ_CHECK(streamed.status == whole.status);
    FUZZ_CHECK(streamed.effects == whole.effects);
    FUZZ_CHECK(streamed.files == whole.files);
    return 0;
}
