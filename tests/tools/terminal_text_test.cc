// Names printed by lumopack: control characters escaped, letters kept.
#include "tools/lumopack/terminal_text.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

TEST(EscapeControls, ControlCharactersBecomeEscapesAndLettersStay) {
    const struct {
        const char* what;
        std::string text, shown;
    } cases[] = {
        {"plain", "Presets/Warm Hall.preset", "Presets/Warm Hall.preset"},
        {"Latin, euro sign", "Caf\xC3\xA9 \xE2\x82\xAC.txt", "Caf\xC3\xA9 \xE2\x82\xAC.txt"},
        {"Cyrillic and CJK", "\xD0\x98\xD0\xBD\xD1\x81\xE5\xAE\x89\xE8\xA3\x85", "\xD0\x98\xD0\xBD\xD1\x81\xE5\xAE\x89\xE8\xA3\x85"},
        {"four-byte character", "\xF0\x9F\x8E\xB5", "\xF0\x9F\x8E\xB5"},
        {"screen cleared", "\x1B[2Jok", "\\x1B[2Jok"},
        {"carriage return over the line", "evil\rSetup.cfg", "evil\\x0DSetup.cfg"},
        {"clipboard through OSC 52", "a\x1B]52;c;cm0gLXJmIH4K\x07", "a\\x1B]52;c;cm0gLXJmIH4K\\x07"},
        {"line feed, tab, NUL", std::string("a\nb\tc\0d", 7), "a\\x0Ab\\x09c\\x00d"},
        {"DEL", "a\x7F", "a\\x7F"},
        {"C1 CSI and OSC as UTF-8", "\xC2\x9B" "31m\xC2\x9D" "0;x", "\\u009B31m\\u009D0;x"},
        {"first and last C1, then NBSP", "\xC2\x80\xC2\x9F\xC2\xA0", "\\u0080\\u009F\xC2\xA0"},
        {"a lone 8-bit CSI byte", "\x9B" "31m", "\\x9B31m"},
        {"overlong ESC", "\xC0\x9B", "\\xC0\\x9B"},
        {"cut sequence", "ab\xE2\x82", "ab\\xE2\\x82"},
        {"surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
        {"backslash", "a\\x1B", "a\\\\x1B"},
        // Invisible format characters: a name shown reversed, or two names
        // that look the same.
        {"right-to-left override", "report\xE2\x80\xAEtxt.exe", "report\\u202Etxt.exe"},
        {"embeddings and pop", "\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD", "\\u202A\\u202B\\u202C\\u202D"},
        {"isolates", "\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9", "\\u2066\\u2067\\u2068\\u2069"},
        {"Arabic letter mark, Mongolian vowel separator", "\xD8\x9C\xE1\xA0\x8E", "\\u061C\\u180E"},
        {"zero-width space, joiners, marks", "a\xE2\x80\x8B\xE2\x80\x8D\xE2\x80\x8F" "b", "a\\u200B\\u200D\\u200Fb"},
        {"line and paragraph separators", "\xE2\x80\xA8\xE2\x80\xA9", "\\u2028\\u2029"},
        {"byte order mark, word joiner, soft hyphen", "\xEF\xBB\xBF\xE2\x81\xA0\xC2\xAD", "\\uFEFF\\u2060\\u00AD"},
        {"tag characters", "\xF3\xA0\x80\x81\xF3\xA0\x81\xBF", "\\U000E0001\\U000E007F"},
        {"visible neighbours stay: hyphen, dagger, per mille", "\xE2\x80\x90\xE2\x80\xA0\xE2\x80\xB0", "\xE2\x80\x90\xE2\x80\xA0\xE2\x80\xB0"},
    };
    for (const auto& c : cases) EXPECT_EQ(escape_controls(c.text), c.shown) << c.what;
}

}  // namespace
}  // namespace lumo
