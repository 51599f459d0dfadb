#include "io/utility_copy.h"

#include <vector>

namespace velloc::host {

int copyUtilFile(UtilFile& src, UtilFile& dst) {
    if (int rc = src.point(0)) return rc;
    if (int rc = dst.point(-2)) return rc;
    if (int rc = dst.setRecordBytes(src.recordBytes())) return rc;
    if (int rc = dst.expectRecords(src.count())) return rc;
    // Whole doubles covering the record, and one spare: a record length that is not a
    // multiple of 8 still fits.
    std::vector<double> buf((src.recordBytes() + 7) / 8 + 1);
    while (src.read(buf.data()))
        if (int rc = dst.write(buf.data())) return rc;
    if (int rc = src.lastError()) return rc;
    src.point(0);
    // The rewind writes what the copy still holds back: its failure is the copy's.
    return dst.point(0);
}

int sortInPlace(UtilFile& file, UtilFile& scratch, const SortKey* keys, int nkeys) {
    // The scratch file's own memory may be the least resident one: released first, the sort
    // writes into the pooled mapping with the most pages already there.
    scratch.release();
    if (file.spilled()) return sortSpilledInPlace(file, scratch, keys, nkeys);
    if (int rc = zsort(file, scratch, keys, nkeys)) return rc;
    file.swapRecords(scratch);
    return 0;
}

} // namespace velloc::host
