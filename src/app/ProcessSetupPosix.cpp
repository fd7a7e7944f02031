#include "app/ProcessSetup.h"

#include <csignal>

// The exit status is the program's answer: a reader of standard output that
// has gone away must not turn it into death by SIGPIPE, nor cut the run short
// before the card is released. A failed write is then an error the printer
// ignores.
void PrepareProcess()
{
    std::signal(SIGPIPE, SIG_IGN);
}
