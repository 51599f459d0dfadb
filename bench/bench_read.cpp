// Reading throughput of the CSV data set reader.
//
//   bench_read [FILE.csv]
//
// Without a file it first generates 1,000,000 rows x 12 numeric columns to a temporary file.
// Every observation's numeric values are copied into a utility file record of nvars doubles,
// as the procedure's first pass does. Prints MB/s, rows/s and peak RSS.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "base/messages.h"
#include "io/dataset.h"
#include "io/utility_file.h"
#include "study_gen.h"

using namespace velloc::host;

int main(int argc, char** argv) {
    std::string path;
    bool generated = false;
    if (argc > 1) {
        path = argv[1];
    } else {
        velloc::bench::StudySpec s;
        s.n = 1000000;
        s.continuous = 10; // id, treat, x1..x10: 12 columns
        s.classes = 0;
        path = (std::filesystem::temp_directory_path() /
                ("velloc-bench-read-" + std::to_string(::getpid()) + ".csv"))
                   .string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || !velloc::bench::writeStudy(s, velloc::bench::studyTruth(s), f)) {
            std::fprintf(stderr, "bench_read: cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(f);
        generated = true;
    }
    double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const double cpuBefore =
        static_cast<double>(before.ru_utime.tv_sec + before.ru_stime.tv_sec) +
        1e-6 * static_cast<double>(before.ru_utime.tv_usec + before.ru_stime.tv_usec);
    auto t0 = std::chrono::steady_clock::now();
    std::int64_t rows = 0;
    int rc = 0;
    try {
        auto ds = Dataset::open(path);
        auto t1 = std::chrono::steady_clock::now();
        const int n = ds->nvars();
        std::vector<double> rec(static_cast<std::size_t>(n));
        UtilFile util("VLCDATA", rec.size() * sizeof(double));
        if (ds->nextGroup() > 0) {
            while (ds->nextObs()) {
                // As the procedure reads a row: its numbers where the reader holds them.
                const double* nums = ds->numbers();
                for (int i = 0; i < n; ++i)
                    rec[static_cast<std::size_t>(i)] = nums ? nums[i] : ds->num(i + 1);
                if (util.write(rec.data()) != 0) {
                    rc = 1;
                    break;
                }
                ++rows;
            }
        }
        auto t2 = std::chrono::steady_clock::now();
        double scan = std::chrono::duration<double>(t1 - t0).count();
        double total = std::chrono::duration<double>(t2 - t0).count();
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("file %s: %.1f MB, %lld rows x %d columns\n", path.c_str(), mb,
                    static_cast<long long>(rows), n);
        std::printf("copied into utility file %s (%lld records, %s)\n", util.name().c_str(),
                    static_cast<long long>(util.count()), util.spilled() ? "spilled" : "in memory");
        std::printf("open+scan %.3f s, total %.3f s\n", scan, total);
        double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                     1e-6 * static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) -
                     cpuBefore;
        std::printf("throughput %.1f MB/s, %.0f rows/s (wall clock)\n", mb / total,
                    static_cast<double>(rows) / total);
        // On a shared machine the wall clock also counts time spent waiting for a core.
        std::printf("cpu %.3f s: %.1f MB/s, %.0f rows/s of processor time\n", cpu, mb / cpu,
                    static_cast<double>(rows) / cpu);
        std::printf("peak RSS %.1f MB (%.2f x file size)\n", ru.ru_maxrss / 1024.0,
                    ru.ru_maxrss / 1024.0 / mb);
    } catch (const DataSetError& e) {
        std::fprintf(stderr, "bench_read: %s\n", e.message.c_str());
        rc = 1;
    }
    if (generated) std::filesystem::remove(path);
    return rc;
}
