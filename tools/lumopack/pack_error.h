// The packer's one kind of failure: a one-line message for the user.
#pragma once

#include <stdexcept>
#include <string>

namespace lumo {

struct PackError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace lumo
