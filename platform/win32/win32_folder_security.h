// Who may own the staging folder and who may change it, on Windows.
//
// The folder is used only when its owner is the user, the token's default
// owner (the Administrators group for an elevated administrator, so that a
// folder left by the same user's elevated run is still the user's), the
// Administrators, SYSTEM or TrustedInstaller, and when nobody else may add,
// remove or change entries in it. The installer makes it with a protected
// DACL that grants the user, SYSTEM and the Administrators full control and
// nothing else, inherited by everything made below it.
#pragma once

#include <windows.h>

#include <vector>

namespace lumo {

// The SIDs the decision trusts besides the well-known ones.
struct TokenSids {
    std::vector<unsigned char> user;           // TokenUser
    std::vector<unsigned char> default_owner;  // TokenOwner
};

// The process token's user and default owner; false when they cannot be read.
bool read_token_sids(TokenSids& sids);

enum class FolderSecurity {
    closed,  // a trusted owner, and nobody else may write to it
    open,    // a trusted owner, but others may write to it (or to what is made in it)
    foreign, // owned by someone else
};

// The decision for a folder with `owner` and `dacl` (null: no DACL at all,
// which lets everyone in).
FolderSecurity judge_folder_security(PSID owner, PACL dacl, const TokenSids& sids);

// The protected DACL described above, for `sids`' user; empty when it
// cannot be built.
std::vector<unsigned char> private_dacl(const TokenSids& sids);

// The owner and DACL of the open `folder` (READ_CONTROL), judged.
// Foreign when they cannot be read.
FolderSecurity judge_open_folder(HANDLE folder, const TokenSids& sids);

}  // namespace lumo
