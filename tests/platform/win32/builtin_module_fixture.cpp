// A module that only a static initialiser registers (see the link option in CMakeLists.txt).
#include "platform/win32/builtin_modules.h"

namespace
{
int Answer()
{
    return 42;
}
} // namespace

FEROLT_BUILTIN_MODULE(ferolt_test_module_anchor, "FixtureModule.dll",
                      ferolt::win32::Export("Answer", &Answer));
