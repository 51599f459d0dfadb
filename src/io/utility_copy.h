// Copying one utility file into another, and sorting one in place through a scratch file.
#pragma once
#include "io/utility_file.h"

namespace velloc::host {

// Copies every record of src into dst (emptied first, given src's record length); both are
// left rewound. Returns 0 or a utility-file status code.
int copyUtilFile(UtilFile& src, UtilFile& dst);

// Sorts file by the keys as zsort does, through scratch, whose records are left unspecified
// (its next user empties it). Both are left rewound. Returns 0 or a utility-file status code.
int sortInPlace(UtilFile& file, UtilFile& scratch, const SortKey* keys, int nkeys);

// When src's records are already in order by the double at `key` (ascending when
// srcAscending, else descending; as zsort orders them, NaN lowest and -0 tying +0), ties in
// ascending order of the double at `tie`, writes them into dst in the other direction by `key`,
// ties keeping their order: what zsort by `key` the other way and then `tie` gives, without a
// sort. A file on disk is read twice (the check, then from the end) and each tie group held
// while it is turned. Returns false, having written nothing, when src is not in that order or
// on disk with a tie group larger than a quarter of the spill threshold; else true, with rc
// the utility-file status. Both are left rewound.
bool reverseKeyOrder(UtilFile& src, UtilFile& dst, int key, bool srcAscending, int tie, int& rc);

} // namespace velloc::host
