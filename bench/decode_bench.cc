// Decoding speed of the reference and the fast packed stream decoder on the
// same packed stream, in MB/s of output (the thread's CPU time, which a busy
// machine disturbs less than wall time; min / median / max over repeated
// runs). The stream is packed here with the packer's encoder from
// the files named on the command line, or from a default mix of the
// machine's shared libraries and text documents.
//
//   decode_bench [--runs N] [--level L] [--only checksum|reference|fast|streamed] [FILE...]
//
// "fast" decodes into a whole image, as lumopack's readers do; "streamed"
// is the installer's way, each block taken where the decoder's bounded
// buffer holds it (checked against the image once, before the timed runs).
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/checksum.h"
#include "payload/progress_sink.h"
#include "payload/stream_decoders.h"
#include "tools/encoder/encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

void append_file(const std::filesystem::path& path, Bytes& out, size_t cap) {
    std::ifstream in(path, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    data.resize(std::min(data.size(), cap - std::min(cap, out.size())));
    out.insert(out.end(), data.begin(), data.end());
}

// Files of a folder in name order, until `cap` bytes are gathered.
void append_folder(const char* folder, Bytes& out, size_t cap) {
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file(ec) && !e.is_symlink(ec)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        if (out.size() >= cap) return;
        append_file(f, out, cap);
    }
}

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Sink final : lumo::ProgressSink {
    uint64_t total = 0;
    void report_progress(uint32_t n) override { total += n; }
};

using Decoder = int32_t (*)(const uint8_t*, const uint8_t*, uint8_t*, uint8_t*, lumo::ProgressSink&,
                            uint8_t*);

void measure(const char* name, Decoder decode, const Bytes& stream, const Bytes& image, int runs) {
    Bytes out(image.size());
    std::vector<double> rates;
    for (int r = 0; r < runs; ++r) {
        Sink sink;
        const double start = cpu_seconds();
        auto window = lumo::allocate_window();
        decode(stream.data(), stream.data() + stream.size(), out.data(), out.data() + out.size(), sink,
               window.get());
        const double seconds = cpu_seconds() - start;
        if (out != image || sink.total != image.size()) {
            std::fprintf(stderr, "%s: output differs from the packed image\n", name);
            std::exit(1);
        }
        rates.push_back(double(image.size()) / 1e6 / seconds);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("%-10s %8.1f %8.1f %8.1f MB/s (min / median / max of %d)\n", name, rates.front(),
                rates[rates.size() / 2], rates.back(), runs);
}

// The blocks of a streamed decoding, checked against the image or passed over.
struct BlockCheck final : lumo::ImageOutput {
    const Bytes* image = nullptr;  // null: nothing checked
    uint64_t at = 0;
    bool same = true;
    bool emit(const uint8_t* bytes, uint32_t n) override {
        if (image) same = same && at + n <= image->size() && std::memcmp(bytes, image->data() + at, n) == 0;
        at += n;
        return true;
    }
    bool reuse(uint64_t) override { return true; }
};

void measure_streamed(const Bytes& stream, const Bytes& image, int runs) {
    std::vector<double> rates;
    for (int r = -1; r < runs; ++r) {
        BlockCheck blocks;
        if (r < 0) blocks.image = &image;
        struct Whole final : lumo::PackedFeed {
            const Bytes& stream;
            bool given = false;
            explicit Whole(const Bytes& s) : stream(s) {}
            std::span<const uint8_t> next_piece() override {
                if (given) return {};
                given = true;
                return stream;
            }
        } feed(stream);
        const double start = cpu_seconds();
        lumo::unpack_stream_to(feed, image.size(), blocks);
        const double seconds = cpu_seconds() - start;
        if (!blocks.same || blocks.at != image.size()) {
            std::fprintf(stderr, "streamed: output differs from the packed image\n");
            std::exit(1);
        }
        if (r >= 0) rates.push_back(double(image.size()) / 1e6 / seconds);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("%-10s %8.1f %8.1f %8.1f MB/s (min / median / max of %d)\n", "streamed", rates.front(),
                rates[rates.size() / 2], rates.back(), runs);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    lumo::EncoderOptions options;
    std::vector<const char*> files;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--level") && i + 1 < argc) options.level = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) only = argv[++i];
        else files.push_back(argv[i]);
    }
    Bytes image;
    const size_t cap = size_t(1) << 30;
    if (files.empty()) {
        append_folder("/usr/lib/x86_64-linux-gnu", image, 12u << 20);
        append_folder("/usr/share/doc", image, 20u << 20);
    }
    for (const char* f : files) append_file(f, image, cap);
    if (image.empty()) {
        std::fprintf(stderr, "nothing to pack\n");
        return 1;
    }
    const Bytes stream = lumo::pack_stream(image, options);
    std::printf("image %zu bytes, packed %zu bytes (%.1f%%), level %d\n", image.size(), stream.size(),
                100.0 * double(stream.size()) / double(image.size()), options.level);
    if (only.empty() || only == "checksum") {
        std::vector<double> rates;
        uint32_t sum = 0;
        for (int r = 0; r < runs; ++r) {
            const double start = cpu_seconds();
            sum ^= lumo::container_checksum(image.data(), image.size());
            rates.push_back(double(image.size()) / 1e6 / (cpu_seconds() - start));
        }
        std::sort(rates.begin(), rates.end());
        std::printf("%-10s %8.1f %8.1f %8.1f MB/s (container checksum, %08x)\n", "checksum", rates.front(),
                    rates[rates.size() / 2], rates.back(), sum);
    }
    if (only.empty() || only == "reference") measure("reference", lumo::unpack_stream_reference, stream, image, runs);
    if (only.empty() || only == "fast") measure("fast", lumo::unpack_stream_fast, stream, image, runs);
    if (only.empty() || only == "streamed") measure_streamed(stream, image, runs);
    return 0;
}
