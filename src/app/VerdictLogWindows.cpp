#include "app/VerdictLog.h"

#include <windows.h>

#include <cstdio>

namespace {

// The administrator's switch, where group policy writes: records are off when
// this DWORD is 0. The 64-bit view, which the 32-bit program reads too.
constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\varnicle";
constexpr wchar_t kPolicyValue[] = L"VerdictRecords";
constexpr wchar_t kEventSource[] = L"varnicle";
// The message table's IDs (packaging/windows/verdict-messages.mc).
constexpr DWORD kPassedEvent = 1001;
constexpr DWORD kFailedEvent = 1002;

bool RecordsOn()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return true;
    }
    DWORD type = 0;
    DWORD value = 1;
    DWORD size = sizeof value;
    const LONG status = RegQueryValueExW(key, kPolicyValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return !(status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value == 0);
}

void UserName(char* out, int size)
{
    wchar_t name[257];
    DWORD length = sizeof name / sizeof name[0];
    out[0] = '\0';
    if (GetUserNameW(name, &length) == 0 ||
        WideCharToMultiByte(CP_UTF8, 0, name, -1, out, size, nullptr, nullptr) == 0) {
        out[0] = '\0';
    }
}

}  // namespace

void WriteSystemVerdict(const VerdictFacts& facts) noexcept
{
    if (!RecordsOn()) {
        return;
    }
    char user[1024];
    UserName(user, sizeof user);
    static VerdictFields fields;
    BuildVerdictFields(facts, GetCurrentProcessId(), user, &fields);

    constexpr int kStringSize = static_cast<int>(kVerdictValueSize) + 32;
    static wchar_t strings[kVerdictFieldCount][kStringSize];
    const wchar_t* pointers[kVerdictFieldCount];
    for (int i = 0; i < kVerdictFieldCount; ++i) {
        char field[kStringSize];
        FormatVerdictField(fields.field[i], field, sizeof field);
        if (MultiByteToWideChar(CP_UTF8, 0, field, -1, strings[i], kStringSize) == 0) {
            strings[i][0] = L'\0';
        }
        pointers[i] = strings[i];
    }
    // A stopped Event Log service refuses here or in ReportEventW; the run
    // goes on either way.
    HANDLE source = RegisterEventSourceW(nullptr, kEventSource);
    if (source == nullptr) {
        return;
    }
    ReportEventW(source, fields.passed ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, 0,
                 fields.passed ? kPassedEvent : kFailedEvent, nullptr, kVerdictFieldCount, 0, pointers, nullptr);
    DeregisterEventSource(source);
}
