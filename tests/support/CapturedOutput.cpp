#include "support/CapturedOutput.h"

#include <cstdio>

#include <gtest/gtest.h>

std::string CaptureOutput(const std::function<void()>& body)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}
