#pragma once

#include <functional>
#include <string>

// Runs body with standard output captured and returns what it wrote.
std::string CaptureOutput(const std::function<void()>& body);
