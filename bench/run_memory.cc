// Peak memory of an installer run: builds an installer around a payload of
// about 100 MB (or the size given in MB), runs it several times as a user
// would (TMPDIR in a scratch folder, output discarded), and prints the peak
// resident set size of each run (ru_maxrss) beside the container image size
// plus the decoder's 1 MiB window, with min / median / max.
//
//   run_memory [MB] [runs]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Run {
    long peak_kib = 0;
    double seconds = 0;
    int exit_code = -1;
};

Run run(const std::string& program, const std::vector<std::string>& arguments, const std::string& tmpdir) {
    std::vector<std::string> strings = {program};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        if (!tmpdir.empty()) setenv("TMPDIR", tmpdir.c_str(), 1);
        std::freopen("/dev/null", "r", stdin);
        std::freopen("/dev/null", "w", stdout);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    Run result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peak_kib = usage.ru_maxrss;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Files that compress about as well as an add-on's: text-like records, a
// stretch of noise, repeated blocks.
void make_payload(const fs::path& folder, uint64_t total) {
    fs::create_directories(folder / "data");
    std::mt19937_64 random(42);
    {
        std::ofstream setup(folder / "Setup.exe");
        setup << "#!/bin/sh\nexit 0\n";
    }
    const uint64_t file_size = 8u << 20;
    for (int index = 0; total > 0; ++index) {
        uint64_t size = std::min(total, file_size);
        std::string bytes;
        bytes.reserve(size);
        while (bytes.size() < size) {
            switch (random() % 3) {
            case 0:
                bytes += "record " + std::to_string(random() % 100000) + " value " + std::to_string(random()) + "\n";
                break;
            case 1:
                for (int i = 0; i < 64; ++i) bytes += char(random());
                break;
            default:
                bytes.append(256, char('a' + random() % 26));
            }
        }
        bytes.resize(size);
        std::ofstream(folder / "data" / ("part" + std::to_string(index) + ".bin"), std::ios::binary) << bytes;
        total -= size;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;

    char pattern[] = "/tmp/lumo-memory-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path scratch = pattern;
    const fs::path addon = scratch / "addon", tmp = scratch / "tmp", installer = scratch / "installer";
    fs::create_directories(tmp);
    make_payload(addon, megabytes * 1000000);

    Run packed = run(LUMOPACK_PATH, {"build", addon.string(), "-o", installer.string(), "--level", "1", "--stub",
                                     LUMO_STUB_PATH, "--no-script-check"},
                     "");
    if (packed.exit_code != 0) {
        std::fprintf(stderr, "lumopack failed\n");
        return 1;
    }
    uint64_t payload_bytes = 0;
    for (auto& entry : fs::recursive_directory_iterator(addon))
        if (entry.is_regular_file()) payload_bytes += entry.file_size();
    const uint64_t installer_bytes = fs::file_size(installer);
    const uint64_t stub_bytes = fs::file_size(LUMO_STUB_PATH);
    // The image holds the files plus a small header and directory.
    const double image_mib = double(payload_bytes) / (1 << 20);
    const double window_mib = 1.0;

    std::vector<Run> results;
    for (int i = 0; i < runs; ++i) {
        Run r = run(installer.string(), {}, tmp.string());
        if (r.exit_code != 0) std::fprintf(stderr, "run %d exited with %d\n", i, r.exit_code);
        results.push_back(r);
    }
    std::sort(results.begin(), results.end(), [](const Run& a, const Run& b) { return a.peak_kib < b.peak_kib; });

    std::printf("payload files       %10.1f MiB\n", image_mib);
    std::printf("packed stream       %10.1f MiB (installer %.1f MiB, stub %.1f MiB)\n",
                double(installer_bytes - stub_bytes) / (1 << 20), double(installer_bytes) / (1 << 20),
                double(stub_bytes) / (1 << 20));
    std::printf("image + window      %10.1f MiB\n", image_mib + window_mib);
    std::printf("peak RSS (%d runs)   min %.1f  median %.1f  max %.1f MiB\n", runs,
                double(results.front().peak_kib) / 1024, double(results[results.size() / 2].peak_kib) / 1024,
                double(results.back().peak_kib) / 1024);
    std::printf("over image + window %10.1f MiB (median)\n",
                double(results[results.size() / 2].peak_kib) / 1024 - (image_mib + window_mib));
    std::vector<double> times;
    for (auto& r : results) times.push_back(r.seconds);
    std::sort(times.begin(), times.end());
    std::printf("run time            min %.2f  median %.2f  max %.2f s\n", times.front(), times[times.size() / 2],
                times.back());

    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return 0;
}
