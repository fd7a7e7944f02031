// The end-to-end dialogue of an ST23L80 -keycheck, played through the fake
// PC/SC: the script that drives the virtual module drives the unit level too.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2eScripts.h"
#include "app/CommandDriver.h"
#include "card/ReaderSession.h"
#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"
#include "support/FakePcsc.h"
#include "support/TempDirectory.h"

namespace {

TEST(ScriptReplay, EndToEndKeyCheckScriptPassesThroughTheFake)
{
    FakePcsc& fake = FakePcsc::Get();
    fake.Reset();
    g_readerSession = ReaderSession{};
    std::memset(g_traceCopy, 0, sizeof g_traceCopy);
    TempDirectory directory(true);
    directory.Write("readers.ini", "[Readers]\n#First = Test Reader\n");
    fake.AnswerScript(kST23L80KeyCheckScript, "st23l80-keycheck.script");
    ASSERT_EQ(fake.exchanges.size(), 5u);

    std::string arguments[] = {"varnicle.exe", "-keycheck", "-silent"};
    char* argv[] = {&arguments[0][0], &arguments[1][0], &arguments[2][0], nullptr};
    int status = -1;
    const std::string output = CaptureOutput([&] { status = CommandDriver(3, argv); });

    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, ConsoleText("РОСС RU.07.3815.00001.001A2B3C4D5E "));
    EXPECT_EQ(fake.nextExchange, fake.exchanges.size());
    EXPECT_EQ(fake.unexpected, 0);
}

}  // namespace
