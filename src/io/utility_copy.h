// Copying one utility file into another, and sorting one in place through a scratch file.
#pragma once
#include "io/utility_file.h"

namespace velloc::host {

// Copies every record of src into dst (emptied first, given src's record length); both are
// left rewound. Returns 0 or a utility-file status code.
int copyUtilFile(UtilFile& src, UtilFile& dst);

// Sorts file by the keys as zsort does, through scratch, whose records are left unspecified
// (its next user empties it); a file on disk is sorted into itself (sortSpilledInPlace). Both
// are left rewound. Returns 0 or a utility-file status code.
int sortInPlace(UtilFile& file, UtilFile& scratch, const SortKey* keys, int nkeys);

} // namespace velloc::host
