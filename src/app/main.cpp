#include "app/CommandDriver.h"
#include "app/ProcessSetup.h"
#include "app/VerdictLog.h"

int main(int argc, char** argv)
{
    PrepareProcess();
    SetVerdictSink(WriteSystemVerdict);
    return CommandDriver(argc, argv);
}
