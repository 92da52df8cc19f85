#pragma once

namespace quindle {

// Case of the texts a browse control shows: drive letters, labels, directory names.
// The drive selector knows the first two only.
enum TTextCase { tcLowerCase, tcUpperCase, tcAsIs };

} // namespace quindle
