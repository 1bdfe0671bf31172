// The engine's front door.
#include "Velmoupload.h"

#include "ServiceConstants.h"

namespace _VelmoUpload {

std::string GetPluginVersion() {
    return kPluginVersion;
}

}  // namespace _VelmoUpload
