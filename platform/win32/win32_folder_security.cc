#include "platform/win32/win32_folder_security.h"

#include <aclapi.h>

namespace lumo {
namespace {

// What lets someone add, remove, rename or re-secure what a folder holds, or
// change the folder itself: its attributes are enough to make it, once
// emptied, a junction to elsewhere.
constexpr ACCESS_MASK write_rights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                                     DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// A well-known SID in a buffer of its own.
struct WellKnownSid {
    explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
        DWORD size = sizeof bytes;
        if (!CreateWellKnownSid(type, nullptr, bytes, &size)) bytes[0] = 0;
    }
    PSID sid() { return bytes[0] ? static_cast<PSID>(bytes) : nullptr; }
    alignas(8) unsigned char bytes[SECURITY_MAX_SID_SIZE];
};

// NT SERVICE\TrustedInstaller, which owns what Windows itself installs.
struct TrustedInstallerSid {
    TrustedInstallerSid() {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464, 0, 0, &sid);
    }
    ~TrustedInstallerSid() {
        if (sid) FreeSid(sid);
    }
    PSID sid = nullptr;
};

bool same(PSID a, const std::vector<unsigned char>& b) {
    return a && !b.empty() && EqualSid(a, const_cast<unsigned char*>(b.data()));
}
bool same(PSID a, PSID b) { return a && b && EqualSid(a, b); }

// The owners the folder may have.
bool trusted_owner(PSID sid, const TokenSids& sids) {
    WellKnownSid administrators(WinBuiltinAdministratorsSid), system(WinLocalSystemSid);
    TrustedInstallerSid installer;
    return same(sid, sids.user) || same(sid, sids.default_owner) || same(sid, administrators.sid()) ||
           same(sid, system.sid()) || same(sid, installer.sid);
}

// Whom an ACE may grant write rights: the trusted owners, and the stand-ins
// for whoever owns or makes an entry (the creator of an entry in a folder
// nobody else may write to is one of the trusted).
bool trusted_grantee(PSID sid, const TokenSids& sids) {
    WellKnownSid creator_owner(WinCreatorOwnerSid), owner_rights(WinCreatorOwnerRightsSid);
    return trusted_owner(sid, sids) || same(sid, creator_owner.sid()) || same(sid, owner_rights.sid());
}

bool read_token_sid(HANDLE token, TOKEN_INFORMATION_CLASS what, std::vector<unsigned char>& out) {
    alignas(8) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, what, buffer, sizeof buffer, &size)) return false;
    PSID sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner;
    if (!sid || !IsValidSid(sid)) return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(sid);
    out.assign(bytes, bytes + GetLengthSid(sid));
    return true;
}

}  // namespace

bool read_token_sids(TokenSids& sids) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const bool read = read_token_sid(token, TokenUser, sids.user) && read_token_sid(token, TokenOwner, sids.default_owner);
    CloseHandle(token);
    return read;
}

FolderSecurity judge_folder_security(PSID owner, PACL dacl, const TokenSids& sids) {
    if (!trusted_owner(owner, sids)) return FolderSecurity::foreign;
    if (!dacl) return FolderSecurity::open;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, index, reinterpret_cast<void**>(&ace))) return FolderSecurity::open;
        const bool grants = ace->AceType == ACCESS_ALLOWED_ACE_TYPE || ace->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
                            ace->AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                            ace->AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
                            ace->AceType == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
        if (!grants) continue;  // denials, audits and labels let no one in
        // Inherit-only ACEs count too: they would open what is made below.
        const auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (!(allowed->Mask & write_rights)) continue;
        // Only the plain form is read further; the others, rare on folders,
        // count as open.
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) return FolderSecurity::open;
        if (!trusted_grantee(const_cast<DWORD*>(&allowed->SidStart), sids)) return FolderSecurity::open;
    }
    return FolderSecurity::closed;
}

std::vector<unsigned char> private_dacl(const TokenSids& sids) {
    if (sids.user.empty()) return {};
    WellKnownSid system(WinLocalSystemSid), administrators(WinBuiltinAdministratorsSid);
    if (!system.sid() || !administrators.sid()) return {};
    PSID user = const_cast<unsigned char*>(sids.user.data());
    const DWORD size = sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE);
    std::vector<unsigned char> acl(size);
    PACL dacl = reinterpret_cast<PACL>(acl.data());
    constexpr DWORD inherited_below = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if (!InitializeAcl(dacl, size, ACL_REVISION) ||
        !AddAccessAllowedAceEx(dacl, ACL_REVISION, inherited_below, FILE_ALL_ACCESS, user) ||
        !AddAccessAllowedAceEx(dacl, ACL_REVISION, inherited_below, FILE_ALL_ACCESS, system.sid()) ||
        !AddAccessAllowedAceEx(dacl, ACL_REVISION, inherited_below, FILE_ALL_ACCESS, administrators.sid()))
        return {};
    return acl;
}

FolderSecurity judge_open_folder(HANDLE folder, const TokenSids& sids) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return FolderSecurity::foreign;
    const FolderSecurity judged = judge_folder_security(owner, dacl, sids);
    LocalFree(descriptor);
    return judged;
}

}  // namespace lumo
