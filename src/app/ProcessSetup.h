#pragma once

// Sets up what the process needs before the command runs. One file per
// platform implements it.
void PrepareProcess();
