// Resources of the module this code is linked into (the driver's DLL, or a program that links
// the library statically).
#pragma once
#include <string>

namespace platform {

// The bytes of a resource of this module, looked up with FindResourceA (type and name as it takes
// them: a text, or an integer identifier cast to a pointer), then LoadResource, SizeofResource
// and LockResource. False when a step yields nothing; natively there are no resources.
bool LoadModuleResource(const char* type, const char* name, std::string& bytes);

}  // namespace platform
