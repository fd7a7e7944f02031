#pragma once

// The program's main routine: returns the process exit status.
int CommandDriver(int argc, char** argv);
