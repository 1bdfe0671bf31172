// The engine's front door: the shared records and the engine-wide entry points.
#pragma once

#include <string>

#include "TaskModel.h"

namespace _VelmoUpload {

// The version text the engine reports to the service.
std::string GetPluginVersion();

}  // namespace _VelmoUpload
