#include "setup_script/script_reader.h"

namespace lumo {

int FileByteSource::read_byte() {
    int c = std::getc(file_);
    return c == EOF ? -1 : c;
}

int MemoryByteSource::read_byte() {
    if (position_ >= bytes_.size()) return -1;
    return bytes_[position_++];
}

int ScriptReader::next_char() {
    int byte = source_.read_byte();
    if (byte < 0) return -1;  // the state stays as it was
    if (first_byte_pending_ && !is_script_printable(byte)) {
        scrambled_ = true;
        key_ = static_cast<uint8_t>(byte ^ scrambled_format::seed_mask);
    }
    int c = byte;
    if (scrambled_) {
        c = byte ^ key_;
        key_ = static_cast<uint8_t>(key_ + scrambled_format::key_step);
    }
    first_byte_pending_ = false;
    if (c == '\n') ++line_;
    return c;
}

std::vector<uint8_t> scramble_setup_script(std::span<const uint8_t> plain, uint8_t first_byte) {
    if (is_script_printable(first_byte)) first_byte |= 0x80;
    std::vector<uint8_t> out;
    out.reserve(plain.size() + 1);
    uint8_t key = first_byte ^ scrambled_format::seed_mask;
    // The first byte stands for the seed mask; the script's own bytes follow.
    out.push_back(static_cast<uint8_t>(scrambled_format::seed_mask ^ key));
    key = static_cast<uint8_t>(key + scrambled_format::key_step);
    for (uint8_t b : plain) {
        out.push_back(static_cast<uint8_t>(b ^ key));
        key = static_cast<uint8_t>(key + scrambled_format::key_step);
    }
    return out;
}

}  // namespace lumo
