// Asks the PC/SC service about readers, so that scripts can wait for a state
// instead of sleeping a fixed time.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include "apduscript/ApduScript.h"

namespace {

const char kUsage[] =
    "Usage: varnicle-probe COMMAND [--timeout MS]\n"
    "Asks the PC/SC service (pcscd) about its readers.\n"
    "\n"
    "  list                     print the reader names, one a line\n"
    "  wait-reader NAME         wait until the service lists reader NAME\n"
    "  wait-card NAME present   wait until a responsive card is in reader NAME;\n"
    "                           prints the reader's event count\n"
    "  wait-card NAME empty [--since COUNT]\n"
    "                           wait until reader NAME is empty and, with --since,\n"
    "                           its event count differs from COUNT, that is the\n"
    "                           service itself has seen the card go\n"
    "  send NAME APDU...        connect to the card in reader NAME, print its ATR,\n"
    "                           send each APDU (hexadecimal) and print the answers\n"
    "  error-text HEX           print the service library's text for a PC/SC code\n"
    "\n"
    "The waits give up after --timeout milliseconds (default 10000).\n"
    "Exit status: 0 done, 1 failed or timed out, 2 bad command line.\n";

using Clock = std::chrono::steady_clock;

std::uint32_t Code(LONG rv)
{
    return static_cast<std::uint32_t>(rv);
}

class Context {
public:
    ~Context() { Release(); }
    LONG Establish()
    {
        Release();
        return SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_);
    }
    void Release()
    {
        if (context_ != 0)
            SCardReleaseContext(context_);
        context_ = 0;
    }
    SCARDCONTEXT get() const { return context_; }
    bool valid() const { return context_ != 0; }

private:
    SCARDCONTEXT context_ = 0;
};

LONG ListReaders(const Context& context, std::vector<std::string>* names)
{
    names->clear();
    DWORD length = 0;
    LONG rv = SCardListReaders(context.get(), nullptr, nullptr, &length);
    if (rv != SCARD_S_SUCCESS)
        return rv;
    std::vector<char> buffer(length + 1, '\0');
    rv = SCardListReaders(context.get(), nullptr, buffer.data(), &length);
    if (rv != SCARD_S_SUCCESS)
        return rv;
    for (const char* p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1)
        names->emplace_back(p);
    return SCARD_S_SUCCESS;
}

bool ServiceGone(LONG rv)
{
    return rv == SCARD_E_NO_SERVICE || rv == SCARD_E_INVALID_HANDLE || rv == SCARD_E_SERVICE_STOPPED;
}

void Pause()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Establishes the context when there is none: pcscd may still be starting, or
// may have gone and come back. False, after a pause, while it does not answer.
bool EnsureContext(Context& context, LONG* rv)
{
    if (context.valid())
        return true;
    *rv = context.Establish();
    if (*rv == SCARD_S_SUCCESS)
        return true;
    context.Release();
    Pause();
    return false;
}

int List()
{
    Context context;
    LONG rv = context.Establish();
    std::vector<std::string> names;
    if (rv == SCARD_S_SUCCESS)
        rv = ListReaders(context, &names);
    if (rv != SCARD_S_SUCCESS && rv != SCARD_E_NO_READERS_AVAILABLE) {
        std::fprintf(stderr, "varnicle-probe: %s (%08X)\n", pcsc_stringify_error(rv), Code(rv));
        return 1;
    }
    for (const auto& name : names)
        std::printf("%s\n", name.c_str());
    return 0;
}

int WaitReader(const std::string& reader, Clock::time_point deadline)
{
    Context context;
    LONG rv = SCARD_E_NO_SERVICE;
    while (Clock::now() < deadline) {
        if (!EnsureContext(context, &rv))
            continue;
        std::vector<std::string> names;
        rv = ListReaders(context, &names);
        for (const auto& name : names) {
            if (name == reader)
                return 0;
        }
        if (ServiceGone(rv))
            context.Release();
        Pause();
    }
    std::fprintf(stderr, "varnicle-probe: reader \"%s\" not listed (last result %08X, %s)\n", reader.c_str(), Code(rv),
                 pcsc_stringify_error(rv));
    return 1;
}

// The high 16 bits of a reader's event state count the card events that the
// service's own polling has seen. A card that drops off in the middle of an
// exchange can make the reader show empty before that polling notices; a new
// card arriving before it does is then never seen at all.
DWORD EventCount(DWORD eventState)
{
    return eventState >> 16;
}

int WaitCard(const std::string& reader, bool wantPresent, long since, Clock::time_point deadline)
{
    Context context;
    SCARD_READERSTATE state;
    std::memset(&state, 0, sizeof state);
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    LONG rv = SCARD_E_NO_SERVICE;
    while (Clock::now() < deadline) {
        const bool fresh = !context.valid();
        if (!EnsureContext(context, &rv))
            continue;
        if (fresh)
            state.dwCurrentState = SCARD_STATE_UNAWARE;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        rv = SCardGetStatusChange(context.get(), static_cast<DWORD>(left > 0 ? left : 0), &state, 1);
        if (rv == SCARD_S_SUCCESS) {
            const DWORD now = state.dwEventState;
            if (wantPresent && (now & SCARD_STATE_PRESENT) != 0 && (now & SCARD_STATE_MUTE) == 0) {
                std::printf("%lu\n", static_cast<unsigned long>(EventCount(now)));
                return 0;
            }
            if (!wantPresent && (now & SCARD_STATE_EMPTY) != 0 &&
                (since < 0 || EventCount(now) != static_cast<DWORD>(since)))
                return 0;
            state.dwCurrentState = now & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
            continue;
        }
        if (ServiceGone(rv))
            context.Release();
        if (rv != SCARD_E_TIMEOUT)
            Pause();
    }
    std::fprintf(stderr, "varnicle-probe: reader \"%s\" not %s (state %08lX, last result %08X, %s)\n", reader.c_str(),
                 wantPresent ? "holding a card" : "empty", static_cast<unsigned long>(state.dwEventState), Code(rv),
                 pcsc_stringify_error(rv));
    return 1;
}

void PrintHex(const char* prefix, const BYTE* data, DWORD length)
{
    std::printf("%s", prefix);
    for (DWORD i = 0; i < length; ++i)
        std::printf(i == 0 ? "%02X" : " %02X", data[i]);
    std::printf("\n");
}

int Send(const std::string& reader, const std::vector<std::string>& apdus)
{
    Context context;
    LONG rv = context.Establish();
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (rv == SCARD_S_SUCCESS)
        rv = SCardConnect(context.get(), reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                          &card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        std::fprintf(stderr, "varnicle-probe: %s (%08X)\n", pcsc_stringify_error(rv), Code(rv));
        return 1;
    }
    BYTE atr[MAX_ATR_SIZE];
    DWORD atrLength = sizeof atr;
    DWORD state = 0;
    DWORD statusProtocol = 0;
    rv = SCardStatus(card, nullptr, nullptr, &state, &statusProtocol, atr, &atrLength);
    if (rv == SCARD_S_SUCCESS)
        PrintHex("ATR ", atr, atrLength);
    std::printf("T=%d\n", protocol == SCARD_PROTOCOL_T0 ? 0 : 1);
    int status = 0;
    for (const auto& text : apdus) {
        apdu_script::Bytes apdu;
        std::string error;
        if (!apdu_script::ParseHex(text, &apdu, &error)) {
            std::fprintf(stderr, "varnicle-probe: %s: %s\n", error.c_str(), text.c_str());
            status = 2;
            break;
        }
        BYTE answer[258 + 2];
        DWORD answerLength = sizeof answer;
        rv = SCardTransmit(card, protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1, apdu.data(),
                           static_cast<DWORD>(apdu.size()), nullptr, answer, &answerLength);
        if (rv != SCARD_S_SUCCESS) {
            std::fprintf(stderr, "varnicle-probe: %s (%08X)\n", pcsc_stringify_error(rv), Code(rv));
            status = 1;
            break;
        }
        PrintHex("< ", answer, answerLength);
    }
    SCardDisconnect(card, SCARD_UNPOWER_CARD);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    long timeout = 10000;
    long since = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--timeout" && i + 1 < argc) {
            timeout = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        if (a == "--since" && i + 1 < argc) {
            since = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        args.push_back(a);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    if (args.size() == 1 && args[0] == "list")
        return List();
    if (args.size() == 2 && args[0] == "wait-reader")
        return WaitReader(args[1], deadline);
    if (args.size() == 3 && args[0] == "wait-card" && (args[2] == "present" || args[2] == "empty"))
        return WaitCard(args[1], args[2] == "present", since, deadline);
    if (args.size() >= 2 && args[0] == "send")
        return Send(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    if (args.size() == 2 && args[0] == "error-text") {
        const auto value = static_cast<LONG>(std::strtoul(args[1].c_str(), nullptr, 16));
        std::printf("%s\n", pcsc_stringify_error(value));
        return 0;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
