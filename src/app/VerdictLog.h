#pragma once

#include "app/VerdictRecord.h"

// Writes a run's record to the system's log (syslog on Linux, the Application
// event log on Windows), unless the administrator has turned records off.
// Never fails the run: what cannot be written is dropped, and nothing waits
// for a logger that does not take the record at once.
void WriteSystemVerdict(const VerdictFacts& facts) noexcept;
