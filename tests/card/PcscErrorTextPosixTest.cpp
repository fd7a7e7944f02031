#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "card/Pcsc.h"
#include "card/PcscErrorText.h"

namespace {

TEST(PcscErrorTextPosixTest, KnownPcscValueHasTheServiceText)
{
    const std::string known = PcscErrorText(static_cast<std::uint32_t>(SCARD_E_SHARING_VIOLATION));
    EXPECT_FALSE(known.empty());
    EXPECT_NE(known, "Transmit: Ошибка.");
}

}  // namespace
