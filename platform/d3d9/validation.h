#pragma once
// Validation ids: every call the device or the D3DX layer refuses with D3DERR_INVALIDCALL names the
// rule that refused it ("SetTexture.StageOutOfRange"). Debug and sanitizer builds record the last id
// of each thread for tests to read; release builds record nothing, so a refusal costs what it did.
#include "platform/d3d9/d3d9types.h"

#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
#define FEROLT_VALIDATION_IDS 1
#else
#define FEROLT_VALIDATION_IDS 0
#endif

namespace ferolt::validation
{
#if FEROLT_VALIDATION_IDS
inline thread_local const char* t_lastRefusal = nullptr;
#endif

// D3DERR_INVALIDCALL, with the rule recorded where ids are kept.
inline HRESULT Refuse([[maybe_unused]] const char* rule)
{
#if FEROLT_VALIDATION_IDS
    t_lastRefusal = rule;
#endif
    return D3DERR_INVALIDCALL;
}
} // namespace ferolt::validation

namespace ferolt::hooks
{
// Whether this build records validation ids.
constexpr bool kValidationIds = FEROLT_VALIDATION_IDS != 0;
// The id of this thread's last refusal, "" when none since ClearRefusal (and always in release builds).
inline const char* LastRefusal()
{
#if FEROLT_VALIDATION_IDS
    return validation::t_lastRefusal ? validation::t_lastRefusal : "";
#else
    return "";
#endif
}
inline void ClearRefusal()
{
#if FEROLT_VALIDATION_IDS
    validation::t_lastRefusal = nullptr;
#endif
}
} // namespace ferolt::hooks
