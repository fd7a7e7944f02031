#pragma once

#include <string>

#include "sim/ModuleSim.h"

namespace sim {

struct SimOptions {
    ModuleConfig module;
    std::string host = "127.0.0.1";
    unsigned port = 35963;
    bool log = false;
    bool once = false;
    bool help = false;
};

extern const char kUsage[];

// Fills options from the arguments after the program name; false with a
// message in error on the first bad one.
bool ParseSimOptions(int argc, const char* const* argv, SimOptions* options, std::string* error);

}  // namespace sim
