// Copying one utility file into another, record by record.
#pragma once
#include "io/utility_file.h"

namespace velloc::host {

// Copies every record of src into dst (emptied first, given src's record length); both are
// left rewound. Returns 0 or a utility-file status code.
int copyUtilFile(UtilFile& src, UtilFile& dst);

} // namespace velloc::host
