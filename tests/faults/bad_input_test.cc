// Damaged and hostile installers, one table. Each row takes a good
// installer built by lumopack (or a hand-made image around the same stub)
// and damages one region; the installer must show the system's own message,
// start no setup program, write nothing outside its staging folder, and
// `lumopack test` must refuse the same file.
//
//   stub | stored payload: u32 packed size, u32 unpacked size, stream | padding | trailer (16)
#include <cerrno>
#include <cstring>
#include <functional>
#include <random>

#include "bit_writer.h"
#include "installer_fixture.h"
#include "payload/unpack_stream.h"

namespace lumo::test {
namespace {

// Where the regions of an installer lie.
struct Regions {
    std::string bytes;
    size_t stub = 0;     // stub size: the stored payload starts here
    size_t stream = 0;   // first byte of the packed stream
    size_t packed = 0;   // packed stream size
    size_t trailer = 0;  // first byte of the trailer
};

uint32_t le32_at(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}
void set_le32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = char(value >> (8 * i));
}
std::string cut(const std::string& bytes, size_t size) { return bytes.substr(0, size); }
std::string flip(std::string bytes, size_t at, int bit = 0) {
    bytes.at(at) ^= char(1 << bit);
    return bytes;
}
std::string with_le32(std::string bytes, size_t at, uint32_t value) {
    set_le32(bytes, at, value);
    return bytes;
}

// What a damaged installer does.
enum class Verdict {
    corrupt,         // the corrupt-installer message, and lumopack test refuses it
    not_a_program,   // the system cannot start it at all; lumopack test refuses it
    agrees,          // the installer and lumopack test agree; a success writes the files unchanged
    size_raised,     // the installer works from the image's front and writes the files unchanged;
                     // lumopack test refuses the raised unpacked size
};

struct BadInstallerRow {
    const char* what;
    std::function<std::string(const Regions&)> make;
    Verdict verdict = Verdict::corrupt;
};

const BadInstallerRow damaged_rows[] = {
    {"cut inside the stub", [](const Regions& r) { return cut(r.bytes, r.stub / 2); }, Verdict::not_a_program},
    {"the stub alone", [](const Regions& r) { return cut(r.bytes, r.stub); }},
    {"cut inside the stored payload header", [](const Regions& r) { return cut(r.bytes, r.stub + 5); }},
    {"cut inside the stream", [](const Regions& r) { return cut(r.bytes, r.stream + r.packed / 2); }},
    {"cut inside the trailer", [](const Regions& r) { return cut(r.bytes, r.trailer + 9); }},
    {"last byte missing", [](const Regions& r) { return cut(r.bytes, r.bytes.size() - 1); }},
    {"bit flipped in the packed size", [](const Regions& r) { return flip(r.bytes, r.stub, 3); }},
    {"bit flipped in the unpacked size", [](const Regions& r) { return flip(r.bytes, r.stub + 4, 5); }},
    {"bit flipped in the first stream byte", [](const Regions& r) { return flip(r.bytes, r.stream, 0); }},
    {"bit flipped in the middle of the stream", [](const Regions& r) { return flip(r.bytes, r.stream + r.packed / 2, 6); }},
    {"bit flipped near the end of the stream", [](const Regions& r) { return flip(r.bytes, r.stream + r.packed - 24, 7); }},
    // The stream's last bits may be padding that no symbol reads.
    {"bit flipped in the last stream byte", [](const Regions& r) { return flip(r.bytes, r.stream + r.packed - 1, 7); },
     Verdict::agrees},
    {"bit flipped in the trailer's offset", [](const Regions& r) { return flip(r.bytes, r.trailer, 2); }},
    {"bit flipped in the trailer's length", [](const Regions& r) { return flip(r.bytes, r.trailer + 4, 0); }},
    {"bit flipped in the trailer's magic", [](const Regions& r) { return flip(r.bytes, r.trailer + 8, 1); }},
    {"trailer offset past the end of the file",
     [](const Regions& r) { return with_le32(r.bytes, r.trailer, uint32_t(r.bytes.size() + 64)); }},
    {"trailer length past the end of the file",
     [](const Regions& r) { return with_le32(r.bytes, r.trailer + 4, uint32_t(r.bytes.size())); }},
    {"trailer offset and length wrapping around 2^32",
     [](const Regions& r) {
         std::string b = with_le32(r.bytes, r.trailer, 0xFFFFFFF0u);
         return with_le32(b, r.trailer + 4, 0x20);
     }},
    {"trailer offset overlapping the stub, length to the trailer",
     [](const Regions& r) {
         std::string b = with_le32(r.bytes, r.trailer, uint32_t(r.stub - 4096));
         return with_le32(b, r.trailer + 4, uint32_t(r.trailer - (r.stub - 4096)));
     }},
    {"trailer naming the stub from its first byte",
     [](const Regions& r) {
         std::string b = with_le32(r.bytes, r.trailer, 0);
         return with_le32(b, r.trailer + 4, uint32_t(r.stub + 8 + r.packed));
     }},
    {"packed size near 2^32",
     [](const Regions& r) { return with_le32(r.bytes, r.stub, 0xFFFFFFF8u); }},
    {"packed size and trailer length both near 2^32",
     [](const Regions& r) {
         std::string b = with_le32(r.bytes, r.stub, 0xFFFFFFF0u);
         return with_le32(b, r.trailer + 4, 0xFFFFFFF8u);
     }},
    {"unpacked size 0", [](const Regions& r) { return with_le32(r.bytes, r.stub + 4, 0); }},
    {"unpacked size one short of the stream",
     [](const Regions& r) { return with_le32(r.bytes, r.stub + 4, le32_at(r.bytes, r.stub + 4) - 1); }},
    {"unpacked size half the stream's",
     [](const Regions& r) { return with_le32(r.bytes, r.stub + 4, le32_at(r.bytes, r.stub + 4) / 2); }},
    // More room than the image needs: the decoder goes on past the stream's
    // end, and the image's own checks decide.
    {"unpacked size twice the stream's",
     [](const Regions& r) { return with_le32(r.bytes, r.stub + 4, le32_at(r.bytes, r.stub + 4) * 2); },
     Verdict::size_raised},
    {"unpacked size 3 MiB more than the stream's",
     [](const Regions& r) { return with_le32(r.bytes, r.stub + 4, le32_at(r.bytes, r.stub + 4) + (3u << 20)); },
     Verdict::size_raised},
};

class BadInput : public InstallerFixture {
protected:
    Regions good_installer() {
        std::mt19937 random(3);
        std::string data(40000, '\0');
        for (auto& c : data) c = char('a' + random() % 5);
        add("Setup.exe", recording_setup);
        add("Readme.txt", "Read me.\n");
        add("Sounds/data.bin", data);
        Regions r;
        r.bytes = pack_addon();
        r.stub = read_file(LUMO_STUB_PATH).size();
        r.trailer = r.bytes.size() - installer_trailer_size;
        r.stream = r.stub + stored_payload_header_size;
        r.packed = le32_at(r.bytes, r.stub);
        EXPECT_EQ(le32_at(r.bytes, r.trailer), r.stub);
        return r;
    }

    // Runs `bytes` as the installer; checks the message, that no setup
    // program started, that nothing outside the staging folder changed, and
    // that `lumopack test` refuses the file too.
    void expect_refused(const std::string& bytes, const std::string& expected_message,
                        Verdict verdict = Verdict::corrupt) {
        std::error_code ignored;
        fs::remove_all(staging(), ignored);
        fs::remove(setup_mark(), ignored);
        write_file(installer(), bytes, 0755);
        const auto before = snapshot(root(), staging());
        ProcessResult result = run_installer_file();
        ProcessResult tested = lumopack({"test", installer().string()});
        if (verdict == Verdict::size_raised) {
            EXPECT_NE(tested.exit_code, 0) << "lumopack test accepts it";
        }
        if ((verdict == Verdict::agrees && tested.exit_code == 0) || verdict == Verdict::size_raised) {
            EXPECT_EQ(result.output, "");
            EXPECT_TRUE(setup_ran());
            EXPECT_EQ(snapshot(staging()).size(), snapshot(addon()).size());
            for (const auto& entry : fs::recursive_directory_iterator(addon())) {
                if (entry.is_regular_file()) {
                    EXPECT_TRUE(read_file(staging() / fs::relative(entry.path(), addon())) == read_file(entry.path())) << entry.path();
                }
            }
            return;
        }
        if (verdict == Verdict::not_a_program) EXPECT_NE(result.exit_code, 0);
        else EXPECT_EQ(result.output, expected_message);
        EXPECT_TRUE(setup_never_ran());
        fs::remove(setup_mark(), ignored);
        EXPECT_EQ(snapshot(root(), staging()), before) << "written outside the staging folder";
        EXPECT_NE(tested.exit_code, 0) << "lumopack test accepts it:\n" << tested.output;
    }
};

TEST_F(BadInput, DamageInEveryRegionIsReportedAsACorruptInstaller) {
    const Regions good = good_installer();
    {
        SCOPED_TRACE("the good installer itself");
        write_file(installer(), good.bytes, 0755);
        ProcessResult result = run_installer_file();
        EXPECT_EQ(result.output, "");
        EXPECT_TRUE(setup_ran());
    }
    for (const auto& row : damaged_rows) {
        SCOPED_TRACE(row.what);
        expect_refused(row.make(good), corrupt(), row.verdict);
    }
}

// Images with every checksum right whose directory claims what the image
// does not hold.
struct BadImageRow {
    const char* what;
    std::function<void(BuiltImage&)> damage;
};

const BadImageRow bad_image_rows[] = {
    {"directory offset past the image",
     [](BuiltImage& i) { put_le32(i.bytes, directory_offset_offset, uint32_t(i.bytes.size() + 8)); i.reseal_header(); }},
    {"directory length past the image",
     [](BuiltImage& i) { put_le32(i.bytes, directory_length_offset, uint32_t(i.bytes.size())); i.reseal_header(); }},
    {"directory offset near 2^32",
     [](BuiltImage& i) { put_le32(i.bytes, directory_offset_offset, 0xFFFFFFF0u); i.reseal_header(); }},
    {"entry data offset past the image",
     [](BuiltImage& i) { put_le32(i.bytes, i.entry_offsets[1] + entry_data_offset_offset, uint32_t(i.bytes.size())); i.reseal_directory(); }},
    {"entry data size near 2^32",
     [](BuiltImage& i) { put_le32(i.bytes, i.entry_offsets[1] + entry_size_offset, 0xFFFFFFFFu); i.reseal_directory(); }},
    {"entry data past the data end",
     [](BuiltImage& i) { put_le32(i.bytes, data_end_offset, uint32_t(i.data_offsets[1] + 1)); i.reseal_header(); }},
    {"name area length past the image",
     [](BuiltImage& i) { put_le32(i.bytes, i.entry_offsets[1] + entry_name_length_offset, 0x7FFFFFFFu); i.reseal_directory(); }},
    {"name without terminator before the image ends",
     [](BuiltImage& i) {
         const size_t end = i.entry_offsets.back() + directory_entry_size + 4;  // "last" without its zero
         i.bytes.resize(end);
         put_le32(i.bytes, directory_length_offset, uint32_t(end - image_header_size));
         put_le32(i.bytes, data_end_offset, uint32_t(end));
         i.reseal_directory();
     }},
    {"directory without its terminating entry",
     [](BuiltImage& i) {
         const size_t end = i.entry_offsets.back() + directory_entry_size + 4 + 1;  // after "last" and its zero
         i.bytes.resize(end);
         put_le32(i.bytes, directory_length_offset, uint32_t(end - image_header_size));
         put_le32(i.bytes, data_end_offset, uint32_t(end));
         i.reseal_directory();
     }},
};

TEST_F(BadInput, DirectoryRangesOutsideTheImageAreReportedAsACorruptInstaller) {
    for (const auto& row : bad_image_rows) {
        SCOPED_TRACE(row.what);
        BuiltImage image = build_image({{"first.txt", "first"}, {"Setup.exe", recording_setup}, {"last", "x"}});
        row.damage(image);
        expect_refused(installer_around(image.bytes), corrupt());
        EXPECT_FALSE(fs::exists(staging() / "last"));
    }
}

// A packed stream by hand: the image's header, whose directory follows it
// and runs to the image's end; then one byte and a match of it (length 258
// at distance 1), repeated `repeats` times by its one-bit code. Past the
// stream's end the decoder reads zeros, which repeat the match on.
std::vector<uint8_t> repeating_directory_stream(uint32_t image_size, uint8_t byte, uint32_t repeats) {
    std::vector<uint8_t> header(image_header_size, 0);
    std::memcpy(header.data() + image_signature_offset, image_signature, image_signature_size);
    put_le32(header, directory_length_offset, image_size - image_header_size);
    put_le32(header, directory_offset_offset, image_header_size);
    put_le32(header, data_end_offset, image_size);
    if (byte == 0) {  // the directory is the match's zeros: its checksum is known
        std::vector<uint8_t> zeros(1 << 20, 0);
        uint32_t checksum = checksum_seed;
        for (uint32_t left = image_size - image_header_size; left > 0;) {
            const uint32_t n = std::min<uint32_t>(left, uint32_t(zeros.size()));
            checksum = container_checksum(zeros.data(), n, checksum);
            left -= n;
        }
        put_le32(header, directory_checksum_offset, checksum);
    }
    put_le32(header, 0, container_checksum(header.data() + 4, image_header_size - 4));

    std::vector<uint8_t> main_lengths(298, 10);
    main_lengths[256] = 1;  // the repeat of the last match: one zero bit
    const PrefixCode main(main_lengths), distance = PrefixCode::flat(48, 6), repeat = PrefixCode::flat(28, 5);
    std::vector<uint8_t> lengths = main.lengths();
    lengths.insert(lengths.end(), distance.lengths().begin(), distance.lengths().end());
    lengths.insert(lengths.end(), repeat.lengths().begin(), repeat.lengths().end());
    BitWriter w;
    put_code_length_block(w, false, false, 1, lengths);
    for (const uint8_t b : header) main.put(w, b);
    main.put(w, byte);
    main.put(w, 270 + 27);  // a long match of slot 27, length 224 + 3 + 31
    w.put(31, 5);
    distance.put(w, 0);  // at distance 1
    for (uint32_t i = 0; i < repeats; ++i) main.put(w, 256);
    return scramble(w.bytes());
}

// The installer run in an address space of 128 MiB where the build allows a
// limit (the sanitizers reserve terabytes for themselves).
ProcessResult run_in_128_mib(const fs::path& installer, const fs::path& tmp) {
#if defined(__SANITIZE_ADDRESS__)
    const char* limit = "exec \"$0\"";
#else
    const char* limit = "ulimit -v 131072 && exec \"$0\"";
#endif
    return run_process("/bin/sh", {"-c", limit, installer.string()},
                       {{"TMPDIR", tmp.string()}, {"LANG", "C"}, {"LC_ALL", ""}});
}

// A stream of 313 bytes whose image claims a directory of almost 4 GiB,
// made of one 'A' repeated past the stream's end. No stream of that size
// holds such a directory (each bit makes at most 260 bytes), so the
// installer refuses it at once, as `lumopack test` does, rather than hold
// the directory as it comes: about a gigabyte before the stream is given up
// on.
TEST_F(BadInput, DirectoryLargerThanTheStreamCanHoldIsRefusedBeforeItIsHeld) {
    constexpr uint32_t image_size = 0xFFFFF000u;
    const std::vector<uint8_t> stream = repeating_directory_stream(image_size, 'A', 0);
    ASSERT_LT(stream.size(), 330u);
    ASSERT_GT(uint64_t(image_size), max_unpacked_size(stream.size()));
    write_file(installer(), installer_with_stream(stream, image_size), 0755);
    ProcessResult result = run_in_128_mib(installer(), tmp());
    EXPECT_EQ(result.output, corrupt());
    EXPECT_TRUE(setup_never_ran());
    EXPECT_TRUE(fs::is_empty(staging()));
    EXPECT_NE(lumopack({"test", installer().string()}).exit_code, 0);
}

// An honest stream of 130 KB whose directory is 256 MiB of zeros: its first
// entry ends it, and the rest is only checksummed, never held. An image
// without files, read whole in an address space of half the directory: it
// ends as any add-on without a setup program does, saying so.
TEST_F(BadInput, DirectoryOfZerosIsCheckedWithoutBeingHeld) {
    constexpr uint32_t image_size = image_header_size + (256u << 20);
    const std::vector<uint8_t> stream =
        repeating_directory_stream(image_size, 0, (256u << 20) / 258 + 1);
    ASSERT_LE(uint64_t(image_size), max_unpacked_size(stream.size()));
    write_file(installer(), installer_with_stream(stream, image_size), 0755);
    ProcessResult result = run_in_128_mib(installer(), tmp());
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.output, message(LUMO_STR9_EN + (staging() / "Setup.exe").string() + LUMO_STR10_EN +
                                     std::strerror(ENOENT)));
    EXPECT_TRUE(fs::is_empty(staging()));
    EXPECT_EQ(lumopack({"test", installer().string()}).exit_code, 0);
}

TEST_F(BadInput, HostileNamesAreReportedAndNothingLeavesTheStagingFolder) {
    std::string absolute = (root() / "escaped.txt").string();
    for (auto& c : absolute)
        if (c == '/') c = '\\';
    const std::string names[] = {
        absolute,          "/escaped.txt",   "\\escaped.txt",  "C:\\escaped.txt", "C:escaped.txt",
        "..\\escaped.txt", "../escaped.txt", "a\\..\\..\\escaped.txt", "a\\.\\b",      "..",
        "CON",             "nul.txt",        "Sub\\LPT1",      "com9.dat",        "AUX.",
        "file.txt:stream", "a\\b:$DATA",     "name.",          "name ",           "wild*.txt",
        "ques?.txt",       "pipe|.txt",      std::string("tab\tname"), "",        "sub\\\\x",
        "trailing\\",      std::string(300, 'n'),
    };
    for (const auto& name : names) {
        SCOPED_TRACE("name: " + name);
        const BuiltImage image = build_image({{"first.txt", "ok"}, {name, "evil"}, {"Setup.exe", recording_setup}});
        expect_refused(installer_around(image.bytes), corrupt());
        EXPECT_EQ(read_file(staging() / "first.txt"), "ok") << "entries before the bad one are written";
        EXPECT_FALSE(fs::exists(staging() / "Setup.exe"));
    }
}

// Links below the staging folder, left there by anyone: the clean-up removes
// the links themselves, and the files are then written in the folder.
TEST_F(BadInput, LinksInTheStagingFolderAreRemovedNeverFollowed) {
    add("Setup.exe", recording_setup);
    add("Sounds/data.bin", "sound");
    add("Readme.txt", "read me");
    write_file(installer(), pack_addon(), 0755);
    const fs::path outside = root() / "outside";
    write_file(outside / "data.bin", "precious");
    write_file(outside / "Readme.txt", "precious");
    fs::create_directories(staging());
    chmod(staging().c_str(), 0700);
    fs::create_directory_symlink(outside, staging() / "Sounds");
    fs::create_symlink(outside / "Readme.txt", staging() / "Readme.txt");
    fs::create_symlink(root() / "missing", staging() / "Setup.exe");
    const auto before = snapshot(root(), staging());

    ProcessResult result = run_installer_file();
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(setup_ran());
    fs::remove(setup_mark());
    EXPECT_EQ(snapshot(root(), staging()), before);
    EXPECT_FALSE(fs::exists(root() / "missing"));
    EXPECT_FALSE(fs::is_symlink(staging() / "Sounds"));
    EXPECT_EQ(read_file(staging() / "Sounds" / "data.bin"), "sound");
    EXPECT_EQ(read_file(staging() / "Readme.txt"), "read me");
}

// A staging folder in a shared temporary folder that someone else made:
// never emptied, never written through, never used.
TEST_F(BadInput, StagingFolderMadeByAnotherUserIsNeverUsed) {
    add("Setup.exe", recording_setup);
    write_file(installer(), pack_addon(), 0755);
    const fs::path theirs = root() / "theirs";
    struct Row {
        const char* what;
        std::function<void()> make;
    };
    const Row rows[] = {
        {"a link to a folder", [&] { fs::create_directory_symlink(theirs, staging()); }},
        {"a link to nowhere", [&] { fs::create_directory_symlink(root() / "nowhere", staging()); }},
        {"a link to a file", [&] { fs::create_symlink(theirs / "keep.txt", staging()); }},
        {"a folder of another user",
         [&] {
             write_file(staging() / "keep.txt", "theirs");
             ASSERT_EQ(chown(staging().c_str(), 65534, 65534), 0) << "the tests run as root";
         }},
        {"a folder of another user open to all",
         [&] {
             write_file(staging() / "keep.txt", "theirs");
             chmod(staging().c_str(), 0777);
             ASSERT_EQ(chown(staging().c_str(), 65534, 65534), 0) << "the tests run as root";
         }},
        {"a file of another user",
         [&] {
             write_file(staging(), "theirs");
             ASSERT_EQ(chown(staging().c_str(), 65534, 65534), 0) << "the tests run as root";
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(theirs);
        std::error_code ignored;
        fs::remove_all(staging(), ignored);
        fs::remove(setup_mark(), ignored);
        write_file(theirs / "keep.txt", "theirs");
        row.make();
        const auto before = snapshot(root());
        ProcessResult result = run_installer_file();
        EXPECT_EQ(result.output, unsafe_staging());
        EXPECT_EQ(snapshot(root()), before) << "the folder was touched";
        EXPECT_TRUE(setup_never_ran());
    }
}

}  // namespace
}  // namespace lumo::test
