// The code-length block (payload/code_length_block.h) as the fast decoder
// reads it: the same bits, the same buffer refills and the same tables as
// read_code_tables, with the bit-length code looked up by the next 8 bits
// rather than searched, and the bits taken from a 64-bit reader.
#pragma once

#include "payload/bit_input.h"
#include "payload/code_length_block.h"

namespace lumo {

void read_code_tables_fast(BitInput& in, CodeTables& tables);

}  // namespace lumo
