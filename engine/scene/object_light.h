#pragma once
// What objects need of a light: it is counted. The engine core's light is that light.
#include "engine/core/light.h"
