#pragma once
// D3DX 9 umbrella header: engine code includes this one.
#include "platform/d3dx9/d3dx9math.h"
#include "platform/d3dx9/d3dx9mesh.h"
#include "platform/d3dx9/d3dx9tex.h"
#include "platform/d3dx9/d3dx9effect.h"
