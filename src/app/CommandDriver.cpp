#include "app/CommandDriver.h"

#include <chrono>
#include <cstring>

#include "app/CommandOptions.h"
#include "app/DriverMessages.h"
#include "app/HelpTexts.h"
#include "app/ProgramVersion.h"
#include "app/VerdictRecord.h"
#include "card/CSError.h"
#include "card/CardChannel.h"
#include "card/ErrorMessages.h"
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
    const std::uint32_t established = EstablishContext();
    if (established != 0) {
        // The raw value is the code, so that it falls on the generic message.
        // Windows can answer with a system error code instead of a PC/SC one
        // (ERROR_ACCESS_DENIED, 5, for a run from a service); one below the
        // generic code would take the text of one of the channel's own codes.
        return established < result::kGenericFailure ? result::kGenericFailure : established;
    }
    SetTraceHook(TraceHook);
    return OpenReader(options.readerName, static_cast<std::uint32_t>(options.traceMode));
}

// Notes where the run stands, with the detail of the code before anything
// else overwrites it.
void Note(VerdictFacts* facts, VerdictRoad road, ResultCode code)
{
    facts->road = road;
    facts->code = code;
    facts->statusWord = LastStatusWord();
    facts->pcscError = LastPcscError();
}

// Ends what the run has reached: the transaction, then the connection.
void Release(bool inTransaction, bool connected) noexcept
{
    if (inTransaction) {
        EndTransaction();
    }
    if (connected) {
        CloseReader();
    }
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
    VerdictFacts facts{nullptr, VerdictRoad::kNone, result::kSuccess, 0, 0, nullptr, 0, nullptr};

    try {
        if (argc == 1) {
            Raise(driver_message::kNoCommand);
        }
        const char* command = argv[1];
        if (std::strncmp(command, "-check", 6) == 0) {
            kind = CommandKind::kNonKeyControl;
            facts.command = "-check";
        } else if (std::strncmp(command, "-keycheck", 9) == 0) {
            kind = CommandKind::kKeyControl;
            facts.command = "-keycheck";
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

        // From here on every road ends in a record; a failure the driver
        // does not foresee is recorded as unexpected.
        facts.road = VerdictRoad::kUnexpected;
        LoadReaderName(&options);
        if (argc > 2 && ParseOptions(&options, argv + 2, argc - 2) == 0) {
            facts.road = VerdictRoad::kOptions;
            Raise(driver_message::kBadOptions);
        }
        const bool silent = options.silent != 0;

        if (!silent) {
            LogPrintf(driver_message::kBanner, "varnicle.exe", program_version::kMajor, program_version::kMinor,
                      program_version::kPatch, program_version::kTweak);
        }
        start = MonotonicMilliseconds();
        if (!silent) {
            LogPrintf("%s", driver_message::kConnecting);
        }

        ResultCode code = Connect(options);
        Note(&facts, VerdictRoad::kConnection, code);
        RaiseOnResult(code, driver_message::kCannotConnect, silent, false);
        connected = true;

        code = BeginTransaction();
        Note(&facts, VerdictRoad::kTransaction, code);
        RaiseOnResult(code, driver_message::kCannotBeginTransaction, silent, false);
        inTransaction = true;
        moduleType = 0;

        if (!silent) {
            LogPrintf("%s", driver_message::kControlling);
        }
        std::uint32_t serialLength = kSerialResponseSize;
        code = Transmit(SerialReadCommand, sizeof SerialReadCommand, serialResponse, &serialLength);
        Note(&facts, VerdictRoad::kSerial, code);
        if (code != result::kSuccess) {
            if (!silent) {
                LogPrintf("%s", driver_message::kNoSerialNumber);
            }
            RaiseResultMessage(code);
        }

        if (options.controlMode >= control_mode::kInvalid) {
            code = result::kParameterError;
            Note(&facts, VerdictRoad::kControlMode, code);
        } else {
            code = ModuleControl(kind == CommandKind::kKeyControl ? 1 : 0, options.controlMode, &moduleType);
            Note(&facts, VerdictRoad::kControl, code);
            facts.moduleType = moduleType;
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
        Note(&facts, VerdictRoad::kUnsupported, result::kControlNotPassed);
        label = BuildSerialLabel(moduleType, serialResponse, silent);
        facts.road = VerdictRoad::kPassed;
        facts.code = result::kSuccess;
        facts.label = label.Text();
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
        // The copy can fail for lack of memory: the card is released all the
        // same, and the message is then printed from the exception itself.
        WipeString message;
        bool copied = false;
        try {
            message = error.Message();
            copied = true;
        } catch (...) {
        }
        Release(inTransaction, connected);
        if (options.silent == 0) {
            LogPrintf("%s\n", copied ? message.Text() : error.Message().Text());
        }
        message.Release();
    } catch (...) {
        if (facts.road != VerdictRoad::kNone) {
            facts.road = VerdictRoad::kUnexpected;
        }
        Release(inTransaction, connected);
        if (options.silent == 0) {
            LogPrintf("%s", driver_message::kUnexpected);
        }
    }

    facts.readerName = options.readerName;
    WriteVerdict(facts);
    label.Release();
    ClearReaderName(&options);
    return succeeded ? 0 : 1;
}
