#include "app/CommandDriver.h"
#include "app/ProcessSetup.h"

int main(int argc, char** argv)
{
    PrepareProcess();
    return CommandDriver(argc, argv);
}
