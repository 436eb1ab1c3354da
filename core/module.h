#pragma once

#include <QString>

/// Libraries that only some commands need, loaded at their first use rather than at every
/// start: each lives in a module of its own, looked for beside the program, then in the
/// installed tree's module folder, then in the build tree.
namespace Core {

/// The function `symbol` of module `file` (quembe-phone.so …), loaded once and kept; throws
/// EError, in the user's words, when the module or the function cannot be had. `installed`
/// is the module folder relative to the installation prefix, `built` where the build puts it.
void* moduleFunction(const char* file, const char* symbol, const char* installed,
                     const char* built);

} // namespace Core
