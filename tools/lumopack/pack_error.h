// The packer's one kind of failure: a one-line message for the user.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace lumo {

struct PackError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A path as the packer's messages show it: UTF-8, as the system spells it.
inline std::string shown(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace lumo
