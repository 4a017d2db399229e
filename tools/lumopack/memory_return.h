// How freed memory goes back to the system. `build` frees and allocates a
// part's working memory (tens of MB at the best level) on every worker
// thread, part after part; an allocator that keeps freed blocks for reuse
// holds several sets of them at once, which would make the peak grow with
// the thread count and with how parts of different sizes follow each other.
#pragma once

namespace lumo {

// Called once, first thing: large blocks are given back as they are freed.
void return_large_blocks_when_freed();

}  // namespace lumo
