#include "tools/encoder/stream_writer.h"

#include <algorithm>
#include <cassert>

#include "tools/encoder/code_lengths.h"

namespace lumo {

namespace {
constexpr int kRunExtraBits[3] = {2, 3, 7};  // symbols 16, 17, 18
int run_extra_bits(uint8_t symbol) { return symbol >= 16 ? kRunExtraBits[symbol - 16] : 0; }
}  // namespace

StreamWriter::Encoded StreamWriter::encode(BlockKind kind, std::span<const uint8_t> lengths, bool keep) const {
    const size_t size = kind.table_size();
    assert(lengths.size() == size);
    Encoded e{keep, {}, {}, 0};
    auto old_at = [&](size_t i) -> uint8_t { return keep ? old_lengths_[i] : 0; };
    auto zero_run = [&](size_t i) {
        size_t r = 0;
        while (i + r < size && lengths[i + r] == 0 && r < 138) ++r;
        return r;
    };
    size_t i = 0;
    while (i < size) {
        const uint8_t length = lengths[i];
        if (length == 0) {
            const size_t r = zero_run(i);
            if (r >= 11 && !(keep && std::all_of(&old_lengths_[i], &old_lengths_[i] + r, [](uint8_t o) { return o == 0; }) && r < 16)) {
                e.codes.push_back({18, uint8_t(r - 11)});
                i += r;
                continue;
            }
            if (r >= 3 && !(keep && old_at(i) == 0)) {
                const size_t n = std::min<size_t>(r, 10);
                e.codes.push_back({17, uint8_t(n - 3)});
                i += n;
                continue;
            }
        } else if (i > 0 && length == lengths[i - 1] && !(keep && old_at(i) == length)) {
            size_t r = 0;
            while (i + r < size && lengths[i + r] == length && r < 6) ++r;
            if (r >= 3) {
                e.codes.push_back({16, uint8_t(r - 3)});
                i += r;
                continue;
            }
        }
        e.codes.push_back({uint8_t((length - old_at(i)) & 15), 0});
        ++i;
    }
    std::array<uint64_t, kBitLengthSymbols> counts{};
    for (const LengthCode& c : e.codes) ++counts[c.symbol];
    e.code_lengths = limited_code_lengths(counts);
    e.bits = 2 + (kind.audio ? 2 : 0) + 4 * kBitLengthSymbols + coded_bits(counts, e.code_lengths);
    for (const LengthCode& c : e.codes) e.bits += uint64_t(run_extra_bits(c.symbol));
    return e;
}

StreamWriter::Encoded StreamWriter::best_encoding(BlockKind kind, std::span<const uint8_t> lengths) const {
    Encoded fresh = encode(kind, lengths, false);
    if (kind.table_size() > old_known_) return fresh;
    Encoded kept = encode(kind, lengths, true);
    return kept.bits < fresh.bits ? kept : fresh;
}

uint64_t StreamWriter::tables_bits(BlockKind kind, std::span<const uint8_t> lengths) const {
    return best_encoding(kind, lengths).bits;
}

void StreamWriter::write_tables(BlockKind kind, std::span<const uint8_t> lengths) {
    const Encoded e = best_encoding(kind, lengths);
    bits_.put(kind.audio ? 1 : 0, 1);  // audio mode
    bits_.put(e.keep ? 1 : 0, 1);      // keep old lengths
    kept_tables_ += e.keep ? 1 : 0;
    if (kind.audio) bits_.put(uint32_t(kind.channels - 1), 2);
    for (uint8_t l : e.code_lengths) bits_.put(l, 4);
    const std::vector<uint16_t> codes = canonical_codes(e.code_lengths);
    for (const LengthCode& c : e.codes) {
        bits_.put(codes[c.symbol], e.code_lengths[c.symbol]);
        bits_.put(c.extra, run_extra_bits(c.symbol));
    }
    std::copy(lengths.begin(), lengths.end(), old_lengths_.begin());
    old_known_ = lengths.size();
}

std::vector<uint8_t> StreamWriter::finish() {
    std::vector<uint8_t> bytes = bits_.finish();
    while (bytes.size() % 4 != 0) bytes.push_back(0);
    return bytes;
}

}  // namespace lumo
