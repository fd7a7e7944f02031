// Every guide that ships (the list in packaging/guides) quotes the program in
// two ways: its texts in «», and command lines in the example blocks. Each
// quote must be something the program prints, letter for letter, and each
// command line one the program accepts.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommandDriver.h"
#include "app/DriverMessages.h"
#include "app/HelpTexts.h"
#include "app/OptionMessages.h"
#include "app/ProgramVersion.h"
#include "card/ErrorMessages.h"
#include "card/ReaderSession.h"
#include "control/SerialLabel.h"
#include "support/ArgumentVector.h"
#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"
#include "support/FakePcsc.h"
#include "support/GuideText.h"
#include "support/TempDirectory.h"
#include "text/FormatString.h"

#ifndef VARNICLE_SOURCE_DIR
#error "VARNICLE_SOURCE_DIR must name the source tree"
#endif

namespace {

std::string ReadFile(const std::string& path)
{
    return ReadTextFile(path);
}

// The guides' paths in the source tree: the first word of each line of
// packaging/guides that is neither empty nor a comment.
std::vector<std::string> GuidePaths()
{
    std::istringstream list(ReadFile(std::string(VARNICLE_SOURCE_DIR) + "/packaging/guides"));
    std::vector<std::string> paths;
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream words(line);
        std::string source;
        if (words >> source && source[0] != '#') {
            paths.push_back(source);
        }
    }
    return paths;
}

std::string Escaped(const std::string& literal)
{
    std::string pattern;
    for (const char c : literal) {
        if (std::strchr(".^$|()[]{}*+?\\", c) != nullptr) {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

// A printf format as a pattern of what it prints on one line: "%s" becomes
// stringPattern, the numeric conversions their digits; line ends are dropped.
std::string FormatPattern(const char* format, const std::string& stringPattern)
{
    std::string pattern;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p == '\n') {
            continue;
        }
        if (*p != '%') {
            pattern += Escaped(std::string(1, *p));
            continue;
        }
        std::string spec;
        ++p;
        while (*p != '\0' && std::strchr("-+ #0123456789.", *p) != nullptr) {
            spec += *p++;
        }
        switch (*p) {
        case 's':
            pattern += stringPattern;
            break;
        case 'd':
            pattern += "[0-9]+";
            break;
        case 'X':
            pattern += "[0-9A-F]{" + spec.substr(1) + "}";
            break;
        case 'f':
            pattern += "[0-9]+\\.[0-9]+";
            break;
        case '%':
            pattern += '%';
            break;
        default:
            ADD_FAILURE() << "unexpected conversion in " << format;
        }
        if (*p == '\0') {
            break;
        }
    }
    return pattern;
}

// What the program prints, from its own constants.
class ProgramTexts {
public:
    ProgramTexts()
    {
        const std::string label = "РОСС RU\\.07\\.3815\\.0000[123]\\.[0-9A-F]{12} ?";
        const std::string banner =
            FormatString(driver_message::kBanner, "varnicle.exe", program_version::kMajor, program_version::kMinor,
                         program_version::kPatch, program_version::kTweak)
                .Text();
        std::vector<std::string> units;
        for (const char* message : driver_message::kAll) {
            if (std::strcmp(message, driver_message::kBanner) == 0) {
                units.push_back(FormatPattern(banner.c_str(), ""));
            } else {
                units.push_back(FormatPattern(message, label));
            }
            AddLiteral(message);
        }
        for (const char* message : option_message::kAll) {
            units.push_back(FormatPattern(message, "[^)]*"));
            AddLiteral(message);
        }
        for (std::size_t entry = 1; entry < std::size(TransmitMessages); ++entry) {
            units.push_back(FormatPattern("Ошибка! %s", Escaped(TransmitMessages[entry])));
            literals_.emplace_back(TransmitMessages[entry]);
        }
        // The status-word form with each text the table holds, its default
        // text with any status word; the PC/SC form with the program's own
        // fallback or a placeholder <...> for the system's text.
        for (const StatusWordEntry& entry : StatusWordTable) {
            const WipeString message =
                FormatString("Ошибка! %04X, %s", static_cast<unsigned>(entry.statusWord), entry.text);
            units.push_back(Escaped(message.Text()));
            literals_.emplace_back(entry.text);
        }
        units.push_back(FormatPattern("Ошибка! %04X, %s", Escaped(StatusWordText(0x6F00))));
        units.push_back(FormatPattern("Ошибка! %08X, %s", "(?:<[^<>]*>|" + Escaped(TransmitMessages[6]) + ")"));
        units.push_back(label);
        units.push_back(Escaped(kUnsupportedModuleMessage));
        literals_.emplace_back(kUnsupportedModuleMessage);
        units.push_back(FormatPattern("Ошибка CloseReader(A, %08X)", ""));

        // The help texts, as the console shows them.
        for (const char* command : {"-help", "-check", "-keycheck", "-x"}) {
            printed_ += CaptureOutput([command] { PrintCommandHelp(command); });
        }

        std::string alternatives;
        for (const std::string& unit : units) {
            alternatives += (alternatives.empty() ? "" : "|") + unit;
        }
        // One text, or several printed one after the other on one line.
        sequence_ = std::regex("(?:" + alternatives + ")+");
        helpUnknown_ = CaptureOutput([] { PrintCommandHelp("-x"); });
    }

    // A quote is what the program prints: one or more whole texts, or a
    // part of a fixed one.
    bool Prints(const std::string& quote) const
    {
        if (std::regex_match(quote, sequence_)) {
            return true;
        }
        for (const std::string& literal : literals_) {
            if (literal.find(quote) != std::string::npos) {
                return true;
            }
        }
        return printed_.find(ConsoleText(quote)) != std::string::npos;
    }

    const std::string& HelpUnknown() const { return helpUnknown_; }

private:
    void AddLiteral(const char* format)
    {
        // The fixed text between conversions and line ends.
        std::string piece;
        for (const char* p = format;; ++p) {
            if (*p == '\0' || *p == '\n' || *p == '%') {
                if (!piece.empty()) {
                    literals_.push_back(piece);
                }
                piece.clear();
                if (*p == '\0') {
                    break;
                }
                if (*p == '%') {
                    ++p;
                    while (*p != '\0' && std::strchr("-+ #0123456789.", *p) != nullptr) {
                        ++p;
                    }
                    if (*p == '\0') {
                        break;
                    }
                }
                continue;
            }
            piece += *p;
        }
    }

    std::regex sequence_;
    std::vector<std::string> literals_;
    std::string printed_;
    std::string helpUnknown_;
};

struct Quote {
    std::string text;
    int line;
};

std::vector<Quote> Quotes(const std::string& guide)
{
    static const std::string open = "«";
    static const std::string close = "»";
    std::vector<Quote> quotes;
    std::size_t at = 0;
    while ((at = guide.find(open, at)) != std::string::npos) {
        const std::size_t begin = at + open.size();
        const std::size_t end = guide.find(close, begin);
        if (end == std::string::npos) {
            quotes.push_back({"(unclosed)", 0});
            break;
        }
        const int line = 1 + static_cast<int>(std::count(guide.begin(), guide.begin() + static_cast<long>(at), '\n'));
        quotes.push_back({Unwrapped(guide.substr(begin, end - begin)), line});
        at = end + close.size();
    }
    return quotes;
}

// Splits a command line as cmd, PowerShell and sh would for these simple
// lines: blanks separate words, "..." and '...' group them.
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (const char c : line) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

// The program by name, by a Windows path, or by a path into a bin folder (a
// folder named varnicle is no program).
bool IsProgram(const std::string& word)
{
    const std::size_t slash = word.find_last_of("\\/");
    if (slash == std::string::npos) {
        return word == "varnicle.exe" || word == "varnicle";
    }
    const std::string name = word.substr(slash + 1);
    return name == "varnicle.exe" || (name == "varnicle" && word.size() >= 12 && word.substr(slash - 3, 4) == "bin/");
}

// What may stand before the program on a command line of the guides.
bool IsLauncher(const std::string& word)
{
    static const char* const launchers[] = {"&", "cmd", "/k", "/c", "call", "start", "", "/b", "/wait", "sudo", "="};
    for (const char* launcher : launchers) {
        if (word == launcher) {
            return true;
        }
    }
    return word.size() > 1 && word[0] == '$';
}

bool EndsArguments(const std::string& word)
{
    return word == "&" || word == "&&" || word == "||" || word == "|" || word[0] == '>' || word[0] == '<' ||
           word.rfind("1>", 0) == 0 || word.rfind("2>", 0) == 0;
}

struct CommandLine {
    std::vector<std::string> arguments;  // from the program's name on
    int line;
};

std::vector<CommandLine> CommandLines(const std::string& guide, const std::vector<std::string>& printedLines)
{
    std::vector<CommandLine> found;
    std::istringstream in(guide);
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        const std::size_t first = text.find_first_not_of(' ');
        if (first == std::string::npos) {
            continue;
        }
        const std::string stripped = text.substr(first);
        bool printed = false;
        for (const std::string& line : printedLines) {
            printed = printed || stripped == line;
        }
        if (printed) {
            continue;
        }
        const std::vector<std::string> words = Words(stripped);
        std::size_t program = 0;
        while (program < words.size() && !IsProgram(words[program]) && IsLauncher(words[program])) {
            ++program;
        }
        if (program == words.size() || !IsProgram(words[program])) {
            continue;
        }
        CommandLine command{{}, number};
        for (std::size_t i = program; i < words.size() && !(i > program && EndsArguments(words[i])); ++i) {
            command.arguments.push_back(words[i]);
        }
        found.push_back(command);
    }
    return found;
}

class GuideQuotesTest : public testing::Test {
protected:
    void SetUp() override
    {
        FakePcsc::Get().Reset();
        g_readerSession = ReaderSession{};
    }

    // The run goes no further than the PC/SC context, which the fake refuses.
    std::string Run(const std::vector<std::string>& arguments)
    {
        FakePcsc::Get().Reset();
        FakePcsc::Get().establishResult = SCARD_E_NO_SERVICE;
        g_readerSession = ReaderSession{};
        ArgumentVector argv(arguments);
        const TempDirectory directory(true);
        return CaptureOutput([&argv] { CommandDriver(argv.Count(), argv.Pointers()); });
    }

    // The refusals of a command line, as the console shows them.
    std::vector<std::string> Refusals(const ProgramTexts& texts) const
    {
        std::vector<std::string> refusals = {ConsoleText(driver_message::kNoCommand),
                                             ConsoleText(driver_message::kUnknownCommand),
                                             ConsoleText(driver_message::kBadOptions), texts.HelpUnknown()};
        for (const char* message : option_message::kAll) {
            const std::string format = message;
            refusals.push_back(ConsoleText(format.substr(0, format.find('('))));
        }
        return refusals;
    }
};

TEST_F(GuideQuotesTest, EveryGuideIsListed)
{
    const std::vector<std::string> paths = GuidePaths();
    ASSERT_GE(paths.size(), 2U) << "packaging/guides lists the operator's and the administrator's guide";
    for (const std::string& path : paths) {
        EXPECT_FALSE(ReadFile(std::string(VARNICLE_SOURCE_DIR) + "/" + path).empty()) << "cannot read " << path;
    }
}

TEST_F(GuideQuotesTest, QuotesAreWhatTheProgramPrints)
{
    const ProgramTexts texts;
    for (const std::string& path : GuidePaths()) {
        const std::vector<Quote> quotes = Quotes(ReadFile(std::string(VARNICLE_SOURCE_DIR) + "/" + path));
        EXPECT_FALSE(quotes.empty()) << path << " quotes nothing of the program";
        for (const Quote& quote : quotes) {
            EXPECT_TRUE(texts.Prints(quote.text))
                << path << ":" << quote.line << ": the program does not print «" << quote.text << "»";
        }
    }
}

TEST_F(GuideQuotesTest, CommandLinesAreAccepted)
{
    const ProgramTexts texts;
    // Lines of the program's own output that begin with its name.
    std::vector<std::string> printedLines = {"varnicle.exe <команда> [параметры]"};
    const WipeString banner = FormatString(driver_message::kBanner, "varnicle.exe", program_version::kMajor,
                                           program_version::kMinor, program_version::kPatch, program_version::kTweak);
    std::string bannerLine = banner.Text();
    bannerLine.pop_back();
    printedLines.push_back(bannerLine);
    EXPECT_NE(CaptureOutput([] { PrintUsage(); }).find(ConsoleText(printedLines[0])), std::string::npos);

    const std::vector<std::string> refusals = Refusals(texts);
    for (const std::string& path : GuidePaths()) {
        const std::vector<CommandLine> lines =
            CommandLines(ReadFile(std::string(VARNICLE_SOURCE_DIR) + "/" + path), printedLines);
        EXPECT_FALSE(lines.empty()) << path << " shows no command line";
        for (const CommandLine& line : lines) {
            std::string shown;
            for (const std::string& word : line.arguments) {
                shown += word + ' ';
            }
            SCOPED_TRACE(testing::Message() << path << ":" << line.line << ": " << shown);
            EXPECT_GE(line.arguments.size(), 2U) << "no command";
            const std::string output = Run(line.arguments);
            for (const std::string& refusal : refusals) {
                EXPECT_EQ(output.find(refusal), std::string::npos) << "refused: " << output;
            }
        }
    }
}

TEST(GuideQuoteParsingTest, FindsQuotesAndCommandLines)
{
    const std::string guide =
        "Текст «Ошибка! Контроль СЗИ\n    не пройден!» и «опция».\n"
        "  cd /d C:\\work\n"
        "  \"C:\\Program Files\\varnicle\\varnicle.exe\" -check -a \"Reader 0\" > out.txt\n"
        "  $label = & 'C:\\varnicle\\varnicle.exe' -check -silent\n"
        "  cmd /k varnicle.exe -help\n"
        "в varnicle.exe -Check посреди текста\n"
        "  varnicle.exe <команда> [параметры]\n";
    const std::vector<Quote> quotes = Quotes(guide);
    ASSERT_EQ(quotes.size(), 2U);
    EXPECT_EQ(quotes[0].text, "Ошибка! Контроль СЗИ не пройден!");
    EXPECT_EQ(quotes[1].text, "опция");

    const std::vector<CommandLine> lines = CommandLines(guide, {"varnicle.exe <команда> [параметры]"});
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[0].arguments,
              (std::vector<std::string>{"C:\\Program Files\\varnicle\\varnicle.exe", "-check", "-a", "Reader 0"}));
    EXPECT_EQ(lines[0].line, 4);
    EXPECT_EQ(lines[1].arguments, (std::vector<std::string>{"C:\\varnicle\\varnicle.exe", "-check", "-silent"}));
    EXPECT_EQ(lines[2].arguments, (std::vector<std::string>{"varnicle.exe", "-help"}));
}

TEST(GuideQuoteParsingTest, TellsProgramTextsFromLookAlikes)
{
    const ProgramTexts texts;
    const struct {
        const char* quote;
        bool printed;
    } cases[] = {
        {"Ошибка! Контроль СЗИ не пройден!", true},
        {"Ошибка! Невозможно подключиться к СЗИ!Ошибка! Transmit: Ошибка.", true},
        {"Ошибка! Невозможно подключиться к СЗИ!Ошибка! 80100009, <пояснение Windows>", true},
        {"Ошибка! Контроль СЗИ не выполнен!Ошибка! 6982, Доступ запрещен", true},
        {"Ошибка! 6F00, Обратитесь к поставщику", true},
        {"Ошибка: неизвестная опция (-Silent)!", true},
        {"Ошибка CloseReader(A, 00000004)", true},
        {"Номер СЗИ: РОСС RU.07.3815.00001.001A2B3C4D5E ", true},
        {"varnicle.exe версия 1.00.00.01", true},
        {"некорректное значения", true},
        {"header", true},
        {"Данный модуль не поддерживается!", true},
        // A Latin o, a Latin C.
        {"Ошибка! Кoнтроль СЗИ не пройден!", false},
        {"Ошибка! Контроль CЗИ не пройден!", false},
        {"Ошибка! Контроль СЗИ не пройден! ", false},
        {"Ошибка! 6982, Доступ запрещён", false},
        {"Ошибка: некорректное значение параметра (-szi)!", false},
        {"РОСС RU.07.3815.00004.001A2B3C4D5E", false},
        {"Смарт-карта", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(texts.Prints(c.quote), c.printed) << c.quote;
    }
}

}  // namespace
