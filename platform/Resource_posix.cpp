#include "platform/Resource.h"

namespace platform {

bool LoadModuleResource(const char*, const char*, std::string&) { return false; }

}  // namespace platform
