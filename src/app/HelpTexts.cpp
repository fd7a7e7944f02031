#include "app/HelpTexts.h"

#include <cstring>

#include "console/LogPrintf.h"

namespace {

constexpr const char* kUsage[] = {
    "Для запуска используйте строку:\n",
    "varnicle.exe <команда> [параметры]\n",
    "команда:\n",
    "  -check\t- Неключевой контроль СЗИ\n",
    "  -keycheck\t- Ключевой контроль СЗИ \n",
    "  -help\t\t- описание [команды] или это описание \n",
    "параметры:\n",
    "  -szi\t\t- режим контроля (RU.07.3815.00001 | RU.07.3815.00002 | RU.07.3815.00003)\n",
    "  -silent\t- запрет вывода сообщений на экран, кроме серийного номера СЗИ\n",
    "  -a\t\t- считыватель A (#First)\n",
    "  -trace\t- режим протокола APDU, только заголовки или все: [header | data]\n",
};

constexpr const char* kCheckHelp[] = {
    "Неключевой контроль СЗИ:\n",
    " -check [-szi <режим контроля>]\n",
};

constexpr const char* kKeyCheckHelp[] = {
    "Ключевой контроль СЗИ:\n",
    " -keycheck [-szi <режим контроля>]\n",
};

constexpr const char* kDesignations[] = {
    " где режим контроля:\n",
    " \tRU.07.3815.00001 - СЗИ ST23L80A\n",
    " \tRU.07.3815.00002 - СЗИ ST23R160\n",
    " \tRU.07.3815.00003 - СЗИ ST31H320\n",
    "\n",
};

template <std::size_t N>
void PrintLines(const char* const (&lines)[N])
{
    for (const char* line : lines) {
        LogPrintf("%s", line);
    }
}

}  // namespace

void PrintUsage()
{
    PrintLines(kUsage);
}

// The same prefix tests, in the same order, as the driver's command recognition.
void PrintCommandHelp(const char* command)
{
    if (std::strncmp(command, "-check", 6) == 0) {
        PrintLines(kCheckHelp);
        PrintLines(kDesignations);
    } else if (std::strncmp(command, "-keycheck", 9) == 0) {
        PrintLines(kKeyCheckHelp);
        PrintLines(kDesignations);
    } else if (std::strncmp(command, "-help", 5) == 0) {
        PrintUsage();
    } else {
        LogPrintf("Не указана команда! Используйте -help для получения информации о командах.");
    }
}
