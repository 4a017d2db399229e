// Locating the installed product: its profile entry on old systems, its App
// Paths registration on all others, and the media player's folder for an MP3
// add-on.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "setup_script/setup_record.h"

namespace lumo {

// Sizes of the fixed text buffers, terminator included. They are observable:
// a registry value must fit 256 bytes, and the product folder is cut to 260.
inline constexpr uint32_t registry_value_size = 256;
inline constexpr uint32_t product_folder_size = 260;
inline constexpr uint32_t name_field_size = 32;
inline constexpr uint32_t key_field_size = 256;

// The names the lookup uses and the folder it finds. One per installer run;
// the worker's thread alone touches it.
struct InstalledProduct {
    std::string product_word = "Lumo";
    std::string program_file_name = "lumo.exe";
    // The two App Paths roots; complete_lookup_names appends the program.
    std::string first_app_paths_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    std::string second_app_paths_key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\App Paths\\";
    std::string profile_file_name;  // the product word and ".ini", once completed
    bool names_completed = false;
    // The installed product's folder: at most product_folder_size - 1 bytes,
    // empty after a failed lookup.
    std::string product_folder;
};

inline constexpr const char* media_player_key =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\LumoMediaPlayer.exe";
inline constexpr const char* files_folder_suffix = "\\LumoFiles\\";

// Appends the program to both App Paths roots and builds the profile file
// name. Done once, right before the lookup; a second call changes nothing.
void complete_lookup_names(InstalledProduct& product);

// Reads a text value below HKEY_LOCAL_MACHINE (the empty value name asks for
// the key's default value) into `destination`, cut to `capacity` - 1 bytes.
// False, with `destination` empty, when the capacity is 0, the key or value is
// missing, or the value does not fit the 256-byte read buffer.
bool read_registry_string(Platform& platform, const std::string& subkey, const std::string& value_name,
                          std::string& destination, uint32_t capacity);

// Finds the installed product's folder and stores it in product.product_folder.
// True when a folder text was found; whether the folder exists is the caller's
// test.
bool locate_installed_product(Platform& platform, const SetupRecord& record, InstalledProduct& product);

}  // namespace lumo
