// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "protocol/crc16.h"

TEST(Crc16, CheckValue) { EXPECT_EQ(korvel::Crc16("123456789"), 0x4B37); }
