#include "sim/SimOptions.h"

#include <cctype>
#include <cstdlib>
#include <utility>

#include "apduscript/ApduScript.h"

namespace sim {

const char kUsage[] =
    "Usage: varnicle-sim [options]\n"
    "A virtual security module for the vpcd virtual reader of pcsc-lite: connects\n"
    "to vpcd over TCP and answers its APDUs as a real module does.\n"
    "\n"
    "Module:\n"
    "  --module NAME       st23r160 (default), st23l80 or st31h320\n"
    "  --serial HEX        answer data of the serial-number read\n"
    "                      (default 01 02 03 04 05 06 07 08)\n"
    "  --atr HEX           ATR (default 3B 68 00 00 53 6F 6C 76 61 72 69 61)\n"
    "  --script FILE       answer from FILE instead: one exchange a line, the\n"
    "                      command and its whole answer in hexadecimal, separated\n"
    "                      by \"=\" (\"80 FE 06 00 00 = 00 1A 2B 90 00\"); lines\n"
    "                      starting with # are comments. Commands must come in\n"
    "                      the script's order; any other command, and every one\n"
    "                      after a mismatch or after the last, is answered 6F 00\n"
    "\n"
    "Connection:\n"
    "  --host HOST         where vpcd listens (default 127.0.0.1)\n"
    "  --port PORT         its port (default 35963, reader \"Virtual PCD 00 00\";\n"
    "                      35964 is \"Virtual PCD 00 01\")\n"
    "  --once              exit when the connection ends instead of connecting again\n"
    "  --log               print each message from the reader and each answer on\n"
    "                      standard error, a command with its name from the list\n"
    "                      below (\"> serial: 80 FE 06 00 00\")\n"
    "\n"
    "Faults, each for one command CMD: serial, identify, state, key, nonkey, final,\n"
    "getresponse or other. They may be combined and repeated.\n"
    "  --sw CMD=XXXX       answer with this status word alone\n"
    "  --word CMD=XXXXXXXX put this 32-bit word, least significant byte first, in\n"
    "                      place of the control or final-check word (key, nonkey,\n"
    "                      final)\n"
    "  --data CMD=HEX      answer with these data bytes (may be empty) and 90 00\n"
    "  --extra CMD=N       append N bytes to the answer data\n"
    "  --split CMD         answer 61xx; the data follows on GET RESPONSE\n"
    "  --split2 CMD        answer 61xx, and 61xx again to the GET RESPONSE\n"
    "  --drop CMD          close the connection when CMD arrives (the card is pulled\n"
    "                      out) and exit\n"
    "\n"
    "Protocol (vpcd): each message is a 2-byte big-endian length and a payload. A\n"
    "1-byte payload is a control: 00 power off, 01 power on, 02 reset (no answer),\n"
    "04 get ATR (answered with the ATR). A longer payload is a command APDU,\n"
    "answered with the response APDU.\n"
    "\n"
    "It runs until SIGTERM or SIGINT. While vpcd does not listen, and after vpcd\n"
    "closes the connection, it connects again every 50 ms: it may be started\n"
    "before pcscd and outlives a restart of pcscd.\n"
    "\n"
    "Exit status: 0 after SIGTERM or SIGINT, after --drop, or when the connection\n"
    "ends under --once; 2 on a bad command line.\n";

namespace {

bool ParseFault(const std::string& option, const std::string& value, ModuleConfig* module, std::string* error)
{
    std::string name = value;
    std::string argument;
    const auto eq = value.find('=');
    const bool needsArgument = option != "--split" && option != "--split2" && option != "--drop";
    if (needsArgument) {
        if (eq == std::string::npos) {
            *error = option + " needs CMD=VALUE: " + value;
            return false;
        }
        name = value.substr(0, eq);
        argument = value.substr(eq + 1);
    }
    Command command;
    if (!ModuleSim::CommandByName(name, &command)) {
        *error = "unknown command name for " + option + ": " + name;
        return false;
    }
    CommandFault& fault = module->faults[static_cast<int>(command)];
    bool ok = true;
    if (option == "--sw" || option == "--word") {
        const Bytes bytes = ParseHex(argument, &ok);
        const std::size_t want = option == "--sw" ? 2 : 4;
        if (!ok || bytes.size() != want) {
            *error = option + " needs " + std::to_string(want * 2) + " hexadecimal digits: " + argument;
            return false;
        }
        std::uint32_t v = 0;
        for (auto b : bytes)
            v = v << 8 | b;
        if (option == "--sw") {
            fault.statusWordSet = true;
            fault.statusWord = static_cast<std::uint16_t>(v);
        } else {
            fault.wordSet = true;
            fault.word = v;
        }
    } else if (option == "--data") {
        fault.data = ParseHex(argument, &ok);
        fault.replaceData = true;
        if (!ok) {
            *error = "--data needs hexadecimal bytes: " + argument;
            return false;
        }
    } else if (option == "--extra") {
        char* end = nullptr;
        const long n = std::strtol(argument.c_str(), &end, 10);
        if (argument.empty() || *end != '\0' || n < 0 || n > 300) {
            *error = "--extra needs a count from 0 to 300: " + argument;
            return false;
        }
        fault.extraBytes = static_cast<int>(n);
    } else if (option == "--split") {
        fault.splits = 1;
    } else if (option == "--split2") {
        fault.splits = 2;
    } else {
        fault.drop = true;
    }
    return true;
}

bool ReadScript(const std::string& path, std::vector<ScriptedExchange>* script, std::string* error)
{
    std::vector<apdu_script::Exchange> exchanges;
    if (!apdu_script::ReadScriptFile(path, &exchanges, error)) {
        return false;
    }
    for (apdu_script::Exchange& exchange : exchanges) {
        script->push_back(ScriptedExchange{std::move(exchange.command), std::move(exchange.answer)});
    }
    return true;
}

bool ParseChip(std::string name, Chip* chip)
{
    for (auto& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "st23r160")
        *chip = Chip::ST23R160;
    else if (name == "st23l80")
        *chip = Chip::ST23L80;
    else if (name == "st31h320")
        *chip = Chip::ST31H320;
    else
        return false;
    return true;
}

}  // namespace

bool ParseSimOptions(int argc, const char* const* argv, SimOptions* options, std::string* error)
{
    options->module.serial = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    for (int i = 0; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options->help = true;
            continue;
        }
        if (option == "--log") {
            options->log = true;
            continue;
        }
        if (option == "--once") {
            options->once = true;
            continue;
        }
        static const char* const valued[] = {"--module", "--serial", "--atr",  "--script", "--host",
                                             "--port",   "--sw",     "--word", "--data",   "--extra",
                                             "--split",  "--split2", "--drop"};
        bool known = false;
        for (const char* name : valued)
            known = known || option == name;
        if (!known) {
            *error = "unknown option: " + option;
            return false;
        }
        if (i + 1 >= argc) {
            *error = option + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (option == "--module") {
            if (!ParseChip(value, &options->module.chip)) {
                *error = "unknown module: " + value;
                return false;
            }
        } else if (option == "--serial") {
            options->module.serial = ParseHex(value, &ok);
        } else if (option == "--atr") {
            options->module.atr = ParseHex(value, &ok);
            ok = ok && !options->module.atr.empty();
        } else if (option == "--script") {
            if (!ReadScript(value, &options->module.script, error))
                return false;
        } else if (option == "--host") {
            options->host = value;
        } else if (option == "--port") {
            char* end = nullptr;
            const long port = std::strtol(value.c_str(), &end, 10);
            ok = !value.empty() && *end == '\0' && port > 0 && port < 65536;
            options->port = static_cast<unsigned>(port);
        } else if (!ParseFault(option, value, &options->module, error)) {
            return false;
        }
        if (!ok) {
            *error = "bad value for " + option + ": " + value;
            return false;
        }
    }
    return true;
}

}  // namespace sim
