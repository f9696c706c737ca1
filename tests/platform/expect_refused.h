#pragma once
// Checks a refusal and, in builds that record validation ids, the rule that refused it.
#include <gtest/gtest.h>

#include "platform/d3d9/validation.h"

#define EXPECT_REFUSED(call, rule)                                                                           \
    do                                                                                                       \
    {                                                                                                        \
        ::ferolt::hooks::ClearRefusal();                                                                     \
        EXPECT_EQ((call), D3DERR_INVALIDCALL);                                                               \
        if (::ferolt::hooks::kValidationIds)                                                                 \
        {                                                                                                    \
            EXPECT_STREQ(::ferolt::hooks::LastRefusal(), rule);                                              \
        }                                                                                                    \
    } while (0)
