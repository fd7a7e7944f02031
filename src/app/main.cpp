#include "app/CommandDriver.h"

int main(int argc, char** argv)
{
    return CommandDriver(argc, argv);
}
