// The string table on POSIX: the same texts as the Windows resources, chosen
// by the locale environment variables.
#include "platform/posix/posix_strings.h"

#include <cstdlib>

#include "payload/code_page.h"
#include "platform/posix/posix_platform.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace lumo {

bool locale_is_german(const std::string& locale_name) {
    if (locale_name.size() < 2 || locale_name.compare(0, 2, "de") != 0) return false;
    return locale_name.size() == 2 || locale_name[2] == '_' || locale_name[2] == '.' || locale_name[2] == '@';
}

bool user_language_is_german() {
    // The order in which the C library itself lets these override each other.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return locale_is_german(value);
    }
    return false;
}

std::string terminal_text(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        shown += text[i];
    }
    return shown;
}

std::string dialog_title() {
    return cp1252_to_utf8(user_language_is_german() ? LUMO_DIALOG_TITLE_DE : LUMO_DIALOG_TITLE_EN);
}

std::string dialog_prompt() {
    return cp1252_to_utf8(user_language_is_german() ? LUMO_DIALOG_PROMPT_DE : LUMO_DIALOG_PROMPT_EN);
}

std::string PosixPlatform::load_string(int id) {
    bool german = user_language_is_german();
    const char* text = nullptr;
    switch (id) {
        case IDS_CORRUPT_PAYLOAD: text = german ? LUMO_STR2_DE : LUMO_STR2_EN; break;
        case IDS_COPY_ERROR_HEAD: text = german ? LUMO_STR3_DE : LUMO_STR3_EN; break;
        case IDS_COPY_ERROR_TAIL: text = german ? LUMO_STR4_DE : LUMO_STR4_EN; break;
        case IDS_DECOMPRESS_FAILED: text = german ? LUMO_STR5_DE : LUMO_STR5_EN; break;
        case IDS_UNSAFE_STAGING_HEAD: text = german ? LUMO_STR6_DE : LUMO_STR6_EN; break;
        case IDS_UNSAFE_STAGING_TAIL: text = german ? LUMO_STR7_POSIX_DE : LUMO_STR7_POSIX_EN; break;
        case IDS_NO_MEMORY: text = german ? LUMO_STR8_DE : LUMO_STR8_EN; break;
        case IDS_START_FAILED_HEAD: text = german ? LUMO_STR9_DE : LUMO_STR9_EN; break;
        case IDS_START_FAILED_TAIL: text = german ? LUMO_STR10_DE : LUMO_STR10_EN; break;
        default: return "";  // LoadStringA of a missing id: nothing
    }
    // The texts keep their CR LF: the core joins them as they are, and the
    // terminal drops the CR when it shows them.
    return cp1252_to_utf8(text);
}

}  // namespace lumo
