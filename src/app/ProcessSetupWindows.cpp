#include "app/ProcessSetup.h"

// Windows has no SIGPIPE: a write to a closed pipe only fails.
void PrepareProcess()
{
}
