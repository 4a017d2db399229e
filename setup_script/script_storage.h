// Storage for the parser's growing texts and lists.
//
// The installer is built without exceptions, where a container that cannot
// grow ends the program. A script that needs more storage than there is
// fails its parse with "mem" instead, so the parser makes room before a text
// or list grows, and asks whether the storage is there first.
#pragma once

#include <algorithm>
#include <cstddef>

namespace lumo {

// Whether a block of `bytes` can be had now. The parser's default,
// storage_available, takes such a block and gives it back at once; tests
// pass probes that run out.
using StorageProbe = bool (*)(std::size_t bytes);
bool storage_available(std::size_t bytes);

// Room for one more element in `items` (a std::string or std::vector),
// which grows by doubling as it would on its own; false, with `items` as it
// was, when the larger block is not to be had.
template <typename Container>
bool make_room_for_one_more(Container& items, StorageProbe probe) {
    if (items.size() < items.capacity()) return true;
    const std::size_t wanted = std::max<std::size_t>(16, items.capacity() * 2);
    if (wanted > items.max_size() || wanted <= items.capacity()) return false;
    // One element more than asked for: a string's terminator.
    if (!probe((wanted + 1) * sizeof(typename Container::value_type))) return false;
    items.reserve(wanted);
    return true;
}

}  // namespace lumo
