#include "app/CommandDriver.h"

#include <chrono>
#include <cstring>

#include "app/CommandOptions.h"
#include "app/DriverMessages.h"
#include "app/HelpTexts.h"
#include "card/CSError.h"
#include "card/ErrorMessages.h"
#include "card/ReaderSession.h"
#include "config/ReaderConfig.h"
#include "console/ApduTrace.h"
#include "console/LogPrintf.h"
#include "control/ModuleControl.h"
#include "control/SerialLabel.h"
#include "text/FormatString.h"

namespace {

enum class CommandKind { kNone, kNonKeyControl, kKeyControl };

// A wall clock that only moves forward: the run's time is mostly spent
// waiting for the card, which a processor clock would not count.
long long MonotonicMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void Raise(const char* text)
{
    throw CSError(FormatString("%s", text).Text());
}

[[noreturn]] void RaiseResultMessage(ResultCode code)
{
    throw CSError(ResultMessage(code, true).Text());
}

ResultCode Connect(const CommandOptions& options)
{
    if (options.readerName == nullptr) {
        return result::kBadReaderName;
    }
    SCARDCONTEXT context = 0;
    const LONG established = pcsc::EstablishContext(SCARD_SCOPE_USER, &context);
    g_readerSession.context = context;
    if (established != SCARD_S_SUCCESS) {
        // The raw value is the code; it falls on the generic message.
        return static_cast<ResultCode>(established);
    }
    g_readerSession.traceHook = TraceHook;
    return OpenReader(options.readerName, static_cast<std::uint32_t>(options.traceMode));
}

ResultCode BeginTransaction()
{
    if (g_readerSession.card == 0) {
        return result::kNoConnection;
    }
    g_readerSession.lastPcscError = static_cast<std::uint32_t>(pcsc::BeginTransaction(g_readerSession.card));
    return g_readerSession.lastPcscError != 0 ? result::kPcscFailure : result::kSuccess;
}

}  // namespace

int CommandDriver(int argc, char** argv)
{
    CommandOptions options{control_mode::kAny, 0, nullptr, trace_mode::kOff};
    CommandKind kind = CommandKind::kNone;
    WipeString label;
    // Cleared so that a short answer never shows stale memory in the label.
    std::uint8_t serialResponse[kSerialResponseSize] = {};
    std::uint8_t moduleType = 0;
    bool connected = false;
    bool inTransaction = false;
    bool succeeded = false;
    long long start = 0;

    try {
        if (argc == 1) {
            Raise(driver_message::kNoCommand);
        }
        const char* command = argv[1];
        if (std::strncmp(command, "-check", 6) == 0) {
            kind = CommandKind::kNonKeyControl;
        } else if (std::strncmp(command, "-keycheck", 9) == 0) {
            kind = CommandKind::kKeyControl;
        } else if (std::strncmp(command, "-help", 5) == 0) {
            if (argc > 2) {
                PrintCommandHelp(argv[2]);
            } else {
                PrintUsage();
            }
            label.Release();
            return 1;
        } else {
            Raise(driver_message::kUnknownCommand);
        }

        LoadReaderName(&options);
        if (argc > 2 && ParseOptions(&options, argv + 2, argc - 2) == 0) {
            Raise(driver_message::kBadOptions);
        }
        const bool silent = options.silent != 0;

        if (!silent) {
            LogPrintf(driver_message::kBanner, "varnicle.exe", 1, 0, 0, 1);
        }
        start = MonotonicMilliseconds();
        if (!silent) {
            LogPrintf("%s", driver_message::kConnecting);
        }

        RaiseOnResult(Connect(options), driver_message::kCannotConnect, silent, false);
        connected = true;

        RaiseOnResult(BeginTransaction(), driver_message::kCannotBeginTransaction, silent, false);
        inTransaction = true;
        moduleType = 0;

        if (!silent) {
            LogPrintf("%s", driver_message::kControlling);
        }
        std::uint32_t serialLength = kSerialResponseSize;
        ResultCode code = Transmit(SerialReadCommand, sizeof SerialReadCommand, serialResponse, &serialLength);
        if (code != result::kSuccess) {
            if (!silent) {
                LogPrintf("%s", driver_message::kNoSerialNumber);
            }
            RaiseResultMessage(code);
        }

        if (options.controlMode >= control_mode::kInvalid) {
            code = result::kParameterError;
        } else {
            code = ModuleControl(kind == CommandKind::kKeyControl ? 1 : 0, options.controlMode, &moduleType);
            if (code == result::kControlNotPassed) {
                Raise(driver_message::kControlNotPassed);
            }
        }
        if (code != result::kSuccess) {
            if (!silent) {
                LogPrintf("%s", driver_message::kControlNotPerformed);
            }
            RaiseResultMessage(code);
        }

        EndTransaction();
        inTransaction = false;
        label = BuildSerialLabel(moduleType, serialResponse, silent);
        if (silent) {
            LogPrintf("%s", label.Text());
        } else {
            LogPrintf("%s", driver_message::kPassed);
            LogPrintf(driver_message::kLabel, label.Text());
            LogPrintf(driver_message::kElapsed, static_cast<double>(MonotonicMilliseconds() - start) / 1000.0);
        }
        succeeded = true;
        // Released here, not by the handlers: the run has passed whatever the
        // release says.
        connected = false;
        CloseReader();
    } catch (const CSError& error) {
        WipeString message(error.Message());
        if (inTransaction) {
            EndTransaction();
        }
        if (connected) {
            CloseReader();
        }
        if (options.silent == 0) {
            LogPrintf("%s\n", message.Text());
        }
        message.Release();
    } catch (...) {
        if (inTransaction) {
            EndTransaction();
        }
        if (connected) {
            CloseReader();
        }
        if (options.silent == 0) {
            LogPrintf("%s", driver_message::kUnexpected);
        }
    }

    label.Release();
    ClearReaderName(&options);
    return succeeded ? 0 : 1;
}
