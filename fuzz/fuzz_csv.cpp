// libFuzzer target: any bytes as a CSV data set. Opening either fails with DataSetError or
// yields a data set that reads to its end, in BY groups of its first variable, with rewinds.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "base/messages.h"
#include "io/csv_reader.h"
#include "io/data_messages.h"
#include "io/dataset.h"

using namespace velloc::host;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::ostringstream sink;
    static const std::string path = "/tmp/velloc-fuzz-" + std::to_string(::getpid()) + ".csv";
    static bool init = [] {
        addDataSetMessages();
        Log::setStream(&sink);
        return true;
    }();
    (void)init;
    sink.str("");
    // Small buffers put record and field boundaries across refills.
    CsvReader::setBufferBytes(size % 61 + 1);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        auto ds = Dataset::open(path);
        std::int64_t seen = 0;
        ds->setBy({{1, size % 2 == 0}}, size % 3 == 0);
        int r;
        while ((r = ds->nextGroup()) > 0) {
            // Rewind once per group, after its second observation.
            int k = 0;
            bool rewound = false;
            while (ds->nextObs()) {
                ++seen;
                for (int i = 1; i <= ds->nvars(); ++i) {
                    (void)ds->num(i);
                    (void)ds->text(i);
                    (void)ds->formatted(i);
                }
                if (++k == 2 && !rewound) {
                    ds->rewindGroup();
                    seen -= 2;
                    rewound = true;
                }
            }
            (void)ds->byDescription();
        }
        if (r == 0 && seen != ds->nobs()) __builtin_trap();
    } catch (const DataSetError&) {
    }
    return 0;
}
