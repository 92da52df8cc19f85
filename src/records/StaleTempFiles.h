#pragma once
// Temporary files left in the package folder by a crash. The store rewrites a record
// through ".~ini-<pid>-<n>.tmp", the walk builds one through ".~walk-<pid>-<n>.tmp" and
// its catalogue through ".~cat-<pid>-<n>.tmp" (<pid> and <n> decimal), all beside the record. Such a file is stale once the process
// that made it is gone; a file of a Quindle still running is its work in progress.
#include <string>

namespace quindle {

struct AppContext;

// True for a name of exactly one of the three patterns; *pid receives its process id.
bool IsTempFileName(const std::string& name, long* pid = nullptr);

// Removes the regular files of ctx.PackageFolder whose name matches a pattern and whose
// process is not alive. Anything else (records, lookalike names, folders, links) stays.
// Returns how many were removed; failures are silent, the next start tries again.
int RemoveStaleTempFiles(const AppContext& ctx);

} // namespace quindle
