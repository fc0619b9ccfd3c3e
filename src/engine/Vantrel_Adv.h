// Engine library start-up: the EngineApi table handed to every plug-in, and the exports.
#pragma once

#include "Zelvik_Engine.h"

extern const EngineApi g_EngineApi;
