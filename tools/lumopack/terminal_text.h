// Text from an installer or a folder, made safe to print. Entry names are
// chosen by whoever packed the installer: a control character among them
// would reach the terminal as a command (cursor moves that spoof a listing,
// a carriage return that overwrites it, a changed window title, the
// clipboard written through OSC 52).
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// `utf8` with every control character written as an escape: C0 controls and
// DEL as \xNN, the C1 controls U+0080..U+009F as \uNNNN (the five bytes that
// Windows-1252 leaves undefined turn into these), the invisible format
// characters (Unicode's category Cf: bidirectional overrides and isolates,
// zero-width characters, the byte order mark...) and the line and paragraph
// separators as \uNNNN (\UNNNNNNNN beyond U+FFFF), bytes that are not UTF-8
// as \xNN (a lone 0x9B is CSI to a terminal that reads 8-bit controls), and
// the backslash itself as \\. Everything else, letters of any script
// included, stays as it is.
std::string escape_controls(std::string_view utf8);

}  // namespace lumo
