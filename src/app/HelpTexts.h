#pragma once

void PrintUsage();
void PrintCommandHelp(const char* command);
