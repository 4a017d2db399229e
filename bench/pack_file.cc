// Packs one plain file into a stored payload (u32 packed size, u32 unpacked
// size, scrambled packed stream) and back, so the benchmark can time the
// encoder and the decoder beside other compressors without a container.
//
//   pack_file [-1..-9] [--audio-off] IN OUT     pack
//   pack_file -d IN OUT                         unpack
//   pack_file --measure [-1..-9] FILE...        print size, ratio, pack and unpack MB/s (CPU time)
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/progress_sink.h"
#include "payload/unpack_stream.h"
#include "tools/encoder/encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool read_file(const char* path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool write_file(const char* path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

void put_u32(Bytes& out, uint32_t v) {
    for (int b = 0; b < 4; ++b) out.push_back(uint8_t(v >> (8 * b)));
}
uint32_t get_u32(const Bytes& in, size_t at) {
    return uint32_t(in[at]) | uint32_t(in[at + 1]) << 8 | uint32_t(in[at + 2]) << 16 | uint32_t(in[at + 3]) << 24;
}

Bytes pack(const Bytes& image, const lumo::EncoderOptions& options) {
    const Bytes stream = lumo::pack_stream(image, options);
    Bytes out;
    put_u32(out, uint32_t(stream.size()));
    put_u32(out, uint32_t(image.size()));
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

bool unpack(const Bytes& stored, Bytes& image) {
    if (stored.size() < 8 || get_u32(stored, 0) != stored.size() - 8) return false;
    image.assign(get_u32(stored, 4), 0);
    lumo::NullProgressSink progress;
    lumo::unpack_stream(stored.data() + 8, stored.data() + stored.size(), image.data(), image.data() + image.size(),
                        progress);
    return true;
}

// Processor time, not wall time: the figures stay comparable on a busy machine.
double seconds_since(std::clock_t start) { return double(std::clock() - start) / CLOCKS_PER_SEC; }

int usage() {
    std::fputs("usage: pack_file [-1..-9] [--audio-off] IN OUT | pack_file -d IN OUT |"
               " pack_file --measure [-1..-9] FILE...\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    lumo::EncoderOptions options;
    bool decode = false, measure = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-d") decode = true;
        else if (a == "--measure") measure = true;
        else if (a == "--audio-off") options.audio = lumo::AudioMode::off;
        else if (a.size() == 2 && a[0] == '-' && a[1] >= '1' && a[1] <= '9') options.level = a[1] - '0';
        else if (a[0] == '-') return usage();
        else files.push_back(argv[i]);
    }
    if (measure) {
        std::printf("%-12s %5s %12s %12s %7s %9s %9s\n", "file", "level", "bytes", "packed", "ratio", "pack MB/s",
                    "unpack MB/s");
        for (const char* f : files) {
            Bytes image, back;
            if (!read_file(f, image)) return std::fprintf(stderr, "pack_file: cannot read %s\n", f), 1;
            std::clock_t t0 = std::clock();
            const Bytes stored = pack(image, options);
            const double pack_s = seconds_since(t0);
            t0 = std::clock();
            unpack(stored, back);
            const double unpack_s = seconds_since(t0);
            std::printf("%-12s %5d %12zu %12zu %7.3f %9.2f %9.1f%s\n", std::strrchr(f, '/') ? std::strrchr(f, '/') + 1 : f,
                        options.level, image.size(), stored.size(), double(image.size()) / double(stored.size()),
                        double(image.size()) / pack_s / 1e6, double(image.size()) / unpack_s / 1e6,
                        back == image ? "" : "  ROUND TRIP FAILED");
        }
        return 0;
    }
    if (files.size() != 2) return usage();
    Bytes in, out;
    if (!read_file(files[0], in)) return std::fprintf(stderr, "pack_file: cannot read %s\n", files[0]), 1;
    if (decode) {
        if (!unpack(in, out)) return std::fprintf(stderr, "pack_file: %s is not a stored payload\n", files[0]), 1;
    } else {
        out = pack(in, options);
    }
    if (!write_file(files[1], out)) return std::fprintf(stderr, "pack_file: cannot write %s\n", files[1]), 1;
    return 0;
}
