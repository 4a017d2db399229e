// What the tests under Wine ask about the staging folder:
//   staging_probe sddl PATH          prints PATH's owner and DACL (SDDL)
//   staging_probe judge              runs the staging folder's decision over
//                                    descriptors as Windows leaves them; exit 0
//                                    when every case is judged as expected
//   staging_probe limited PROGRAM    runs PROGRAM with the linked limited token
//                                    (an administrator's normal run after an
//                                    elevated one) and returns its exit code
//   staging_probe temp FOLDER PROGRAM  runs PROGRAM with TMP and TEMP set to
//                                    FOLDER and returns its exit code
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "platform/win32/win32_folder_security.h"

namespace {

using lumo::FolderSecurity;

int print_sddl(const wchar_t* path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return 1;
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return 1;
    std::printf("%ls\n", text);
    LocalFree(text);
    LocalFree(descriptor);
    return 0;
}

std::wstring sid_text(const std::vector<unsigned char>& sid) {
    LPWSTR text = nullptr;
    ConvertSidToStringSidW(const_cast<unsigned char*>(sid.data()), &text);
    std::wstring copy = text ? text : L"";
    LocalFree(text);
    return copy;
}

// Replaces every "{user}" in `sddl`.
std::wstring with_user(std::wstring sddl, const std::wstring& user) {
    for (size_t at; (at = sddl.find(L"{user}")) != std::wstring::npos;) sddl.replace(at, 6, user);
    return sddl;
}

int judge_cases() {
    lumo::TokenSids sids;
    if (!lumo::read_token_sids(sids)) return 2;
    struct Case {
        const wchar_t* what;
        const wchar_t* sddl;
        FolderSecurity expected;
    } cases[] = {
        {L"made by the installer", L"O:{user}D:P(A;OICI;FA;;;{user})(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
         FolderSecurity::closed},
        {L"made by the same user's elevated run", L"O:BAD:P(A;OICI;FA;;;{user})(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
         FolderSecurity::closed},
        {L"left by an elevated run in the user's temporary folder",
         L"O:BAD:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FA;;;{user})", FolderSecurity::closed},
        {L"owned by SYSTEM", L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", FolderSecurity::closed},
        {L"owned by TrustedInstaller",
         L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:P(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)",
         FolderSecurity::closed},
        {L"readable by everyone", L"O:{user}D:(A;OICI;FA;;;{user})(A;OICI;0x1200a9;;;WD)", FolderSecurity::closed},
        {L"writing denied to everyone", L"O:{user}D:(D;OICI;FA;;;WD)(A;OICI;FA;;;{user})", FolderSecurity::closed},
        {L"made by creators, for their owners", L"O:{user}D:(A;OICI;FA;;;{user})(A;OICIIO;GA;;;CO)",
         FolderSecurity::closed},
        {L"made by SYSTEM in the system's temporary folder",
         L"O:SYD:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;CIID;0x100026;;;BU)(A;OICIIOID;GA;;;CO)", FolderSecurity::open},
        {L"writable by everyone", L"O:{user}D:(A;OICI;FA;;;{user})(A;OICI;0x1301bf;;;WD)", FolderSecurity::open},
        {L"open to the users for what is made below", L"O:{user}D:(A;OICI;FA;;;{user})(A;OICIIO;FA;;;BU)",
         FolderSecurity::open},
        {L"no DACL at all", L"O:{user}", FolderSecurity::open},
        // Each right that lets someone else change the folder or what it
        // holds, alone: its attributes (a junction, once it is empty), its
        // DACL, its owner, the folder itself, its entries, and the generic
        // rights as they map, for what is made below too.
        {L"its attributes writable by everyone", L"O:{user}D:(A;;FA;;;{user})(A;;0x100;;;WD)", FolderSecurity::open},
        {L"its DACL writable by the users", L"O:{user}D:(A;;FA;;;{user})(A;;WD;;;BU)", FolderSecurity::open},
        {L"its owner writable by the users", L"O:{user}D:(A;;FA;;;{user})(A;;WO;;;BU)", FolderSecurity::open},
        {L"deletable by everyone", L"O:{user}D:(A;;FA;;;{user})(A;;SD;;;WD)", FolderSecurity::open},
        {L"its entries deletable by everyone", L"O:{user}D:(A;;FA;;;{user})(A;;0x40;;;WD)", FolderSecurity::open},
        {L"files addable by everyone", L"O:{user}D:(A;;FA;;;{user})(A;;0x2;;;WD)", FolderSecurity::open},
        {L"folders addable by everyone", L"O:{user}D:(A;;FA;;;{user})(A;;0x4;;;WD)", FolderSecurity::open},
        {L"generic write for what is made below", L"O:{user}D:(A;;FA;;;{user})(A;OICIIO;GW;;;BU)", FolderSecurity::open},
        {L"generic all to everyone", L"O:{user}D:(A;;FA;;;{user})(A;;GA;;;WD)", FolderSecurity::open},
        {L"read and traverse for everyone", L"O:{user}D:(A;;FA;;;{user})(A;;0x1200a9;;;WD)", FolderSecurity::closed},
        {L"owned by another user", L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;S-1-5-21-1-2-3-1001)", FolderSecurity::foreign},
        {L"owned by everyone", L"O:WDD:P(A;OICI;FA;;;{user})", FolderSecurity::foreign},
    };
    const std::wstring user = sid_text(sids.user);
    int failures = 0;
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const std::wstring sddl = with_user(c.sddl, user);
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
            std::printf("%ls: the descriptor cannot be made\n", c.what);
            ++failures;
            continue;
        }
        PSID owner = nullptr;
        BOOL defaulted = FALSE, present = FALSE;
        PACL dacl = nullptr;
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
        const FolderSecurity judged = lumo::judge_folder_security(owner, present ? dacl : nullptr, sids);
        if (judged != c.expected) {
            std::printf("%ls: judged %d, expected %d\n", c.what, int(judged), int(c.expected));
            ++failures;
        }
        LocalFree(descriptor);
    }
    return failures == 0 ? 0 : 1;
}

// Runs `line` with `token` (null: the process's own) and waits for it.
int run_and_wait(HANDLE token, const wchar_t* program) {
    std::wstring line = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL started = token ? CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                                      nullptr, &startup, &process)
                               : CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                                &startup, &process);
    if (!started) return 5;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return int(code);
}

int run_limited(const wchar_t* program) {
    HANDLE token = nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size))
        return 3;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    if (!GetTokenInformation(linked.LinkedToken, TokenElevationType, &type, sizeof type, &size) ||
        type != TokenElevationTypeLimited)
        return 4;
    return run_and_wait(linked.LinkedToken, program);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"sddl" && argc == 3) return print_sddl(argv[2]);
    if (mode == L"judge" && argc == 2) return judge_cases();
    if (mode == L"limited" && argc == 3) return run_limited(argv[2]);
    if (mode == L"temp" && argc == 4) {
        SetEnvironmentVariableW(L"TMP", argv[2]);
        SetEnvironmentVariableW(L"TEMP", argv[2]);
        return run_and_wait(nullptr, argv[3]);
    }
    std::fprintf(stderr, "usage: staging_probe sddl PATH | judge | limited PROGRAM | temp FOLDER PROGRAM\n");
    return 2;
}
