// Reading a Stata file against the same data as CSV.
//
//   bench_stat [ROWS]
//
// Generates ROWS (default 1,000,000) rows x 12 numeric columns as CSV, writes the same data as
// a .dta file through the OUT= writer, then reads each to its end as the procedure's first
// pass does (every numeric value of every observation). Prints seconds and rows/s of each.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/messages.h"
#include "bench_util.h"
#include "io/dataset.h"
#include "io/output_dataset.h"
#include "study_gen.h"

using namespace velloc::host;

namespace {

// Seconds to open and read every value; sum keeps the reads from being optimised away.
double readAll(const std::string& path, std::int64_t& rows, double& sum) {
    auto t0 = std::chrono::steady_clock::now();
    auto ds = Dataset::open(path);
    const int n = ds->nvars();
    rows = 0;
    if (ds->nextGroup() > 0)
        while (ds->nextObs()) {
            for (int i = 1; i <= n; ++i)
                sum += ds->num(i);
            ++rows;
        }
    return velloc::bench::secondsSince(t0);
}

} // namespace

int main(int argc, char** argv) {
    velloc::bench::StudySpec s;
    s.n = argc > 1 ? std::atoll(argv[1]) : 1000000;
    s.continuous = 10;
    s.classes = 0;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(::getpid());
    const std::string csv = (dir / ("velloc-bench-stat-" + tag + ".csv")).string();
    const std::string dta = (dir / ("velloc-bench-stat-" + tag + ".dta")).string();
    std::FILE* f = std::fopen(csv.c_str(), "wb");
    if (!f || !velloc::bench::writeStudy(s, velloc::bench::studyTruth(s), f)) {
        std::fprintf(stderr, "bench_stat: cannot write %s\n", csv.c_str());
        return 1;
    }
    std::fclose(f);
    int rc = 0;
    try {
        {
            auto in = Dataset::open(csv);
            OutputDataset out(dta);
            for (int i = 1; i <= in->nvars(); ++i)
                out.addVariable(in->var(i));
            if (in->nextGroup() > 0)
                while (in->nextObs()) {
                    for (int i = 1; i <= in->nvars(); ++i)
                        out.setNum(i, in->num(i));
                    out.writeRow();
                }
            if (!out.commit()) throw DataSetError{"cannot write " + dta};
        }
        double sumCsv = 0, sumDta = 0;
        std::int64_t rowsCsv = 0, rowsDta = 0;
        double tCsv = readAll(csv, rowsCsv, sumCsv);
        double tDta = readAll(dta, rowsDta, sumDta);
        std::printf("CSV  %s: %.1f MB, %lld rows, %.3f s, %.0f rows/s\n", csv.c_str(),
                    std::filesystem::file_size(csv) / 1e6, static_cast<long long>(rowsCsv), tCsv,
                    rowsCsv / tCsv);
        std::printf(".dta %s: %.1f MB, %lld rows, %.3f s, %.0f rows/s\n", dta.c_str(),
                    std::filesystem::file_size(dta) / 1e6, static_cast<long long>(rowsDta), tDta,
                    rowsDta / tDta);
        std::printf(".dta / CSV time %.2f, same sums: %s, peak RSS %.0f MiB\n", tDta / tCsv,
                    sumCsv == sumDta ? "yes" : "NO", velloc::bench::peakRssMiB());
        if (sumCsv != sumDta || rowsCsv != rowsDta) rc = 1;
    } catch (const DataSetError& e) {
        std::fprintf(stderr, "bench_stat: %s\n", e.message.c_str());
        rc = 1;
    }
    std::filesystem::remove(csv);
    std::filesystem::remove(dta);
    return rc;
}
