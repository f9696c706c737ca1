#pragma once
// The engine's public API: the LR functions and the records they exchange, one header per area.
#include "engine/core/lr_core_api.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/lr_light_api.h"
#include "engine/scene/model_api.h"
#include "engine/scene/lr_geometry_block_api.h"
#include "engine/scene/object_api.h"
#include "engine/render/render_view.h"
#include "engine/render/picking.h"
#include "engine/render/environment.h"
#include "engine/render/id_colours.h"
#include "engine/render/shadows.h"
