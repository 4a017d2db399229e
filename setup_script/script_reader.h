// The character reader of "Setup.cfg": bytes one at a time, unscrambled on
// the way when the script is stored scrambled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace lumo {

// Where the script's bytes come from: the opened file in the installer, a
// buffer in the packer and the tests.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The next byte, 0 to 255, or -1 at the end (a read error counts as the end).
    virtual int read_byte() = 0;
};

// A stream opened with mode "rb"; not closed here.
class FileByteSource final : public ByteSource {
public:
    explicit FileByteSource(std::FILE* file) : file_(file) {}
    int read_byte() override;

private:
    std::FILE* file_;
};

class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    int read_byte() override;

private:
    std::span<const uint8_t> bytes_;
    std::size_t position_ = 0;
};

// The scrambled form of a script. Its first byte is not printable, which is
// how the reader tells it from a plain script (plain scripts begin with a
// printable byte); that byte sets the running key so that it unscrambles to
// the seed mask itself, a whitespace character the tokenizer skips. Every
// byte, the first included, is XORed with the key, and the key then advances
// by the key step.
namespace scrambled_format {
inline constexpr uint8_t seed_mask = 0x0B;  // vertical tab: whitespace, and carries no line break
inline constexpr uint8_t key_step = 0x5B;   // odd, so the key runs through all 256 values before repeating
static_assert(seed_mask >= 0x09 && seed_mask <= 0x0D, "the seed mask must be a whitespace character");
static_assert(key_step % 2 == 1);
// The first byte the packer writes unless told otherwise.
inline constexpr uint8_t default_first_byte = 0xA5;
}  // namespace scrambled_format

// "C" locale classes, independent of the process's locale.
inline bool is_script_whitespace(int c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }
inline bool is_script_printable(int c) { return c >= 0x20 && c <= 0x7E; }

class ScriptReader {
public:
    explicit ScriptReader(ByteSource& source) : source_(source) {}

    // The next character, 0 to 255, or -1 at the end of the script.
    int next_char();

    bool scrambled() const { return scrambled_; }
    // 1 + the line feeds delivered so far (after unscrambling): the line of
    // the next character.
    int line() const { return line_; }

private:
    ByteSource& source_;
    bool first_byte_pending_ = true;  // the mode is decided on the first byte
    bool scrambled_ = false;          // never cleared once set
    uint8_t key_ = 0;                 // running key of the scrambled mode
    int line_ = 1;
};

// The scrambled form of a plain script, as the reader reads it back.
// `first_byte` is the stored first byte; it is made non-printable (its high
// bit set) when it is not, since a printable first byte would read as plain.
std::vector<uint8_t> scramble_setup_script(std::span<const uint8_t> plain,
                                           uint8_t first_byte = scrambled_format::default_first_byte);

}  // namespace lumo
