// lumopack's one seam to the operating system: everything the packer asks of
// the system goes through this header, answered by system/posix/ or
// system/win32/ (the build picks one).
//
// A vendor's machine is shared like any other: the add-on's folder, the
// folder the installer goes to, or the folders on their way may be open to
// other users. So the packer works on what it opened and checked, never on a
// path again: the add-on's folder is held from its top down and each file
// is read through the descriptor (a handle on Windows) opened when the
// folder was gathered; the installer is written to a file created anew
// under a name no one can guess, read back and renamed through what was
// created, and its name is checked to be that file once it is in place.
// Paths the user names (DIR, -o OUT, --stub) are the user's to name: a link
// on their way is followed, as with any path given on a command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace lumo {

class ProgressBar;
struct PackError;

// What tells two files apart: the device and inode on POSIX, the volume's
// serial number and the file ID on Windows.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

// A file held open to be read. Every read goes to the file that was opened,
// whatever its name leads to by then.
//
// Or, where a program may hold too few files open at once for all of an
// add-on's, a file that was opened, checked and closed again: each read then
// goes through a descriptor that `reopen` opens anew and checks to be that
// same file (or -1, and the read fails).
class HeldFile {
public:
    HeldFile() = default;
    explicit HeldFile(std::function<intptr_t()> reopen) : reopen_(std::move(reopen)) {}
    HeldFile(HeldFile&& other) noexcept
        : native_(std::exchange(other.native_, -1)), reopen_(std::move(other.reopen_)) {}
    HeldFile& operator=(HeldFile&& other) noexcept {
        std::swap(native_, other.native_);
        std::swap(reopen_, other.reopen_);
        return *this;
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    ~HeldFile();

    explicit operator bool() const { return native_ != -1 || reopen_; }
    // Reads exactly out.size() bytes at `offset`; false when the file holds
    // fewer there or cannot be read. Safe from several threads at once.
    bool read_at(uint64_t offset, std::span<uint8_t> out) const;
    // The file's size now; 0 when it cannot be told.
    uint64_t size() const;
    FileIdentity identity() const;
    // The permission bits (POSIX mode & 0777); 0 on Windows.
    uint32_t permissions() const;
    // True for a file closed again that cannot be found anew as the one
    // listed: removed, or another file or a link in its place.
    bool lost() const;

    // The descriptor, or the handle on Windows; -1 for none.
    explicit HeldFile(intptr_t native) : native_(native) {}
    intptr_t native() const { return native_; }

private:
    intptr_t native_ = -1;
    std::function<intptr_t()> reopen_;
};

// Opens `path` to read it; throws PackError naming the path.
HeldFile open_to_read(const std::filesystem::path& path);

// The whole of `file` (`size` bytes, or its size now), read through it;
// throws PackError naming `shown` when it cannot be read whole or holds
// more than `size`.
std::vector<uint8_t> read_held_file(const HeldFile& file, const std::string& shown,
                                    std::optional<uint64_t> size = std::nullopt);

// The failure of a read of `file` that came short, naming `shown`: it "was
// replaced while it was packed" when it cannot be found again, else it
// "changed size while it was packed".
PackError short_read(const HeldFile& file, const std::string& shown);

// A file that lumopack's installation holds, such as a stub, opened to be
// read only when nobody but the system's administrator and the user running
// lumopack can have put it there or changed it: on POSIX every folder on its
// way from the root and the file itself belong to root or to the user and
// are closed to others (a folder with the sticky bit, such as /tmp, may be
// open: nobody else can replace the entries of ours in it), walked without
// following a link; on Windows the file itself is not a link. Empty when the
// file is missing; empty with `refusal` saying why when it is refused.
HeldFile open_installed_file(const std::filesystem::path& path, std::string& refusal);

// One entry found below the add-on's folder.
struct SourceEntry {
    enum class Kind {
        file,     // a regular file, checked to be the one listed and held (or found anew)
        link,     // a symbolic link, junction or other name surrogate
        special,  // a device, pipe, socket...
        changed,  // listed as one file, opened as another (or not at all)
    };
    std::vector<std::string> parts;  // the names (UTF-8) from the folder down
    Kind kind = Kind::file;
    uint64_t size = 0;
    std::shared_ptr<HeldFile> file;  // for Kind::file
};

// Holds `folder` and lists everything below it, walking into each folder
// through the one above it, never through a link. Each regular file is
// opened as it is listed, without following a link, and held (past what
// the program may hold open, closed and found anew the same way for each
// read); it is a file only when what was opened is what the folder listed
// (the same identity, kind and size). Files whose identity is among `skip`
// are left out. Throws PackError when `folder` is not a folder, or a folder
// below it cannot be listed.
std::vector<SourceEntry> list_source_folder(const std::filesystem::path& folder, std::span<const FileIdentity> skip);

// The installer being written: a file created anew beside `path` under a
// name that nobody can guess, exclusively and without following a link, in
// the folder of `path`, which is held for the whole build. A failure leaves
// no file behind.
class OutputFile {
public:
    // Holds the folder and creates the file; throws PackError.
    explicit OutputFile(const std::filesystem::path& path);
    // Removes the file unless it was committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The files of the build in the held folder: the one being written and
    // the one already at `path` (to be left out should they lie in the
    // add-on's folder).
    std::vector<FileIdentity> own_files() const;

    void write(std::span<const uint8_t> bytes);
    // Writes over bytes already written.
    void write_at(uint64_t offset, std::span<const uint8_t> bytes);
    uint64_t size() const { return size_; }
    // Writes out what is buffered; throws PackError when the bytes could not
    // all be written. `written()` then reads them back.
    void flush();
    const HeldFile& written() const;

    // Gives the file `permissions` (POSIX mode bits, when named) and renames
    // it to `path` in the held folder. Then the name must be this file:
    // otherwise someone else put a file there and the build fails saying so.
    void commit(std::optional<uint32_t> permissions);

private:
    static constexpr size_t buffer_size = 1 << 20;
    // The system's part: all of `bytes` at `offset`, or PackError.
    void write_out(std::span<const uint8_t> bytes, uint64_t offset);

    struct Held;
    std::unique_ptr<Held> held_;
    std::vector<uint8_t> buffer_;
    uint64_t size_ = 0;
    uint64_t flushed_ = 0;  // bytes of the file written out
};

// Writes `pieces` to `path` through an OutputFile.
void write_file_atomically(const std::filesystem::path& path, std::span<const std::span<const uint8_t>> pieces,
                           std::optional<uint32_t> permissions = std::nullopt);

// A read-only view of part of a held file, for decoding a packed stream
// that is larger than the packer wants to hold: pages come in as they are
// read and can be let go of once read.
class MappedFile {
public:
    // Maps bytes [offset, offset + length) of `file`; throws PackError
    // naming `shown`.
    MappedFile(const HeldFile& file, uint64_t offset, uint64_t length, const std::string& shown);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::span<const uint8_t> bytes() const { return {bytes_, size_t(length_)}; }

    // Lets go of the pages wholly before `offset` (in the view): they are read
    // from the file again should they be touched.
    void release_before(uint64_t offset);

private:
    [[maybe_unused]] void* handle_ = nullptr;  // the system's mapping object, where it has one
    void* block_ = nullptr;                    // the view, from a page boundary
    size_t block_size_ = 0;
    const uint8_t* bytes_ = nullptr;
    uint64_t length_ = 0;
    uint64_t released_ = 0;
};

// The folder that lumopack extract writes into, and nothing outside it.
//
// The folder is held open for the whole run, and every folder on an entry's
// way is opened from the one before it and held while the entry is written,
// so that nothing done after a check depends on a path that someone else
// can change: a link or junction found on the way (or swapped in while the
// run goes on) is never followed. An existing file is replaced, never
// rewritten in place, so that another name of it (a hard link whose other
// name lies outside the folder) keeps its contents, and a link in the
// file's place is replaced itself, never written through.
class TargetFolder {
public:
    // Creates `path` and its parents when missing and holds it. Throws
    // PackError.
    explicit TargetFolder(const std::filesystem::path& path);
    ~TargetFolder();
    TargetFolder(const TargetFolder&) = delete;
    TargetFolder& operator=(const TargetFolder&) = delete;

    // Writes `data` as a file below the folder: `parts` are the names (UTF-8)
    // of the folders on its way, each created when missing, and last of the
    // file. Each part is a plain name (the entry passed the installer's name
    // rule). Throws PackError, starting with `shown`, when a folder on the
    // way is a link or a file, a folder stands in the file's place, or the
    // file cannot be written; a file that cannot be written whole is removed.
    void write_file(const std::vector<std::string>& parts, std::span<const uint8_t> data, const std::string& shown,
                    ProgressBar& progress);

private:
    struct Held;
    std::unique_ptr<Held> held_;
};

// A byte buffer that starts out zero without being written: fresh pages from
// the system are zero already. The unpacked image is the largest thing
// lumopack holds, so this saves a pass of zeroing over it; where the system
// offers large pages for big buffers, it also saves most of the page faults
// that the first touch of each small page costs.
class ZeroedBuffer {
public:
    ZeroedBuffer() = default;
    explicit ZeroedBuffer(size_t size);  // throws std::bad_alloc
    ZeroedBuffer(ZeroedBuffer&& other) noexcept { swap(other); }
    ZeroedBuffer& operator=(ZeroedBuffer&& other) noexcept {
        ZeroedBuffer(std::move(other)).swap(*this);
        return *this;
    }
    ZeroedBuffer(const ZeroedBuffer&) = delete;
    ZeroedBuffer& operator=(const ZeroedBuffer&) = delete;
    ~ZeroedBuffer() { release(); }

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    operator std::span<const uint8_t>() const { return {bytes_, size_}; }

    // Gives the whole pages inside [begin, end) back to the system; they
    // read as zero when touched again. For a buffer read once, front to back.
    void forget(size_t begin, size_t end);

private:
    void release();
    void swap(ZeroedBuffer& other) noexcept {
        std::swap(block_, other.block_);
        std::swap(block_size_, other.block_size_);
        std::swap(bytes_, other.bytes_);
        std::swap(size_, other.size_);
    }

    void* block_ = nullptr;  // what the system handed out
    size_t block_size_ = 0;
    uint8_t* bytes_ = nullptr;  // within the block
    size_t size_ = 0;
};

// How freed memory goes back to the system. `build` frees and allocates a
// part's working memory (tens of MB at the best level) on every worker
// thread, part after part; an allocator that keeps freed blocks for reuse
// holds several sets of them at once, which would make the peak grow with
// the thread count and with how parts of different sizes follow each other.
// Called once, first thing: large blocks are given back as they are freed.
void return_large_blocks_when_freed();

// The running program's own file, links resolved; empty when it cannot be
// told. `argv0` is the fallback where the system does not say.
std::filesystem::path running_program_path(const char* argv0);

// Where an installed lumopack at `program` keeps the stubs: on POSIX
// "../lib/lumopack/" from its folder (/usr/bin/lumopack and
// /usr/lib/lumopack/ in the Debian package), on Windows its own folder (the
// zip holds lumopack.exe and the stubs side by side).
std::filesystem::path installed_stub_folder(const std::filesystem::path& program);

// True when standard error is a terminal (not a file or a pipe), so that a
// progress bar there is seen and not recorded.
bool standard_error_is_terminal();

// 64 bits that nobody can guess, from the system's random source.
uint64_t unguessable_number();

}  // namespace lumo
