// Sorts 10 million records of 8 doubles by two keys, in memory and by merging runs from disk,
// and prints the seconds taken and the peak resident set size.
//
// Usage: bench_sort [mem|ext|both] [records]. Peak RSS is a process-lifetime figure, so "both"
// runs the external sort first; run the modes separately for clean memory figures.
#include "bench_util.h"
#include "io/utility_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/resource.h>

using velloc::host::SortKey;
using velloc::host::UtilFile;
using velloc::host::zsort;

namespace {

using velloc::bench::peakRssMiB;
double seconds(std::chrono::steady_clock::time_point t0) {
    return velloc::bench::secondsSince(t0);
}

int run(const char* label, std::size_t threshold, long n) {
    UtilFile::setSpillThreshold(threshold);
    UtilFile src("VLCVOUT", 64), dst("VLCTEMP", 64);
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> unif(0.0, 1.0);
    double rec[8];
    auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i) {
        rec[0] = static_cast<double>(i + 1);     // observation number
        rec[1] = static_cast<double>(rng() % 2); // treatment: many ties
        rec[2] = unif(rng);                      // score
        for (int j = 3; j < 8; ++j)
            rec[j] = unif(rng);
        if (src.write(rec) != 0) return 1;
    }
    double tWrite = seconds(t0);

    SortKey keys[2] = {{1, true}, {2, false}};
    t0 = std::chrono::steady_clock::now();
    int rc = zsort(src, dst, keys, 2);
    double tSort = seconds(t0);
    if (rc != 0) {
        std::printf("%s: sort failed with code %d\n", label, rc);
        return 1;
    }

    // Read the result back once, checking the order, to time a sequential pass.
    t0 = std::chrono::steady_clock::now();
    double prev[8] = {};
    long bad = 0, m = 0;
    dst.point(0);
    while (dst.read(rec)) {
        if (m > 0 && (rec[1] > prev[1] || (rec[1] == prev[1] && rec[2] < prev[2]))) ++bad;
        std::memcpy(prev, rec, sizeof rec);
        ++m;
    }
    double tRead = seconds(t0);
    std::printf("%s: %ld records, write %.2f s, sort %.2f s, read %.2f s, src spilled %s, "
                "dst spilled %s, out of order %ld, peak RSS %.0f MiB\n",
                label, m, tWrite, tSort, tRead, src.spilled() ? "yes" : "no",
                dst.spilled() ? "yes" : "no", bad, peakRssMiB());
    return m == n && bad == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "both";
    long n = argc > 2 ? std::atol(argv[2]) : 10'000'000;
    int rc = 0;
    if (mode == "ext" || mode == "both") rc |= run("external (64 MiB)", std::size_t{64} << 20, n);
    if (mode == "mem" || mode == "both") rc |= run("in memory", std::size_t{4} << 30, n);
    return rc;
}
