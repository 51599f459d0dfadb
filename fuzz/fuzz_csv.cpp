// libFuzzer target: any bytes as a CSV data set. Opening either fails with DataSetError or
// yields a data set that reads to its end, in BY groups of its first variable, with rewinds.
// The same bytes are then read in small chunks on threads, which must show exactly what the
// serial reader shows: the same failure or the same rows, values and texts.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "base/messages.h"
#include "io/csv_chunks.h"
#include "io/csv_reader.h"
#include "io/data_messages.h"
#include "io/dataset.h"

using namespace velloc::host;

namespace {

std::ostringstream sink;

// Everything a reading shows: the failure's message or each row's numbers (as bits) and texts.
// With by, in BY groups of the first variable (sorted either way, or NOTSORTED), each group
// rewound once; without, every row straight through.
std::string readAll(const std::string& path, std::size_t size, bool by) {
    sink.str("");
    std::string seenRows;
    try {
        auto ds = Dataset::open(path);
        std::int64_t seen = 0;
        if (by) ds->setBy({{1, size % 2 == 0}}, size % 3 == 0);
        int r;
        while ((r = ds->nextGroup()) > 0) {
            // Rewind once per group, after its second observation.
            int k = 0;
            bool rewound = false;
            while (ds->nextObs()) {
                ++seen;
                for (int i = 1; i <= ds->nvars(); ++i) {
                    const double v = ds->num(i);
                    std::uint64_t bits;
                    std::memcpy(&bits, &v, sizeof bits);
                    seenRows += std::to_string(bits) + '|';
                    seenRows += ds->text(i);
                    seenRows += '|';
                    (void)ds->formatted(i);
                }
                seenRows += '\n';
                if (by && ++k == 2 && !rewound) {
                    ds->rewindGroup();
                    seen -= 2;
                    rewound = true;
                }
            }
            (void)ds->byDescription();
        }
        if (r == 0 && seen != ds->nobs()) __builtin_trap();
        seenRows += "end " + std::to_string(r) + "\n";
    } catch (const DataSetError&) {
        seenRows += "failed\n";
    }
    return seenRows + sink.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/velloc-fuzz-" + std::to_string(::getpid()) + ".csv";
    static bool init = [] {
        addDataSetMessages();
        Log::setStream(&sink);
        return true;
    }();
    (void)init;
    // Small buffers put record and field boundaries across refills.
    CsvReader::setBufferBytes(size % 61 + 1);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (bool by : {true, false}) {
        setCsvChunkBytesForTesting(0);
        const std::string serial = readAll(path, size, by);
        setCsvChunkBytesForTesting(size % 13 + 1);
        const std::string chunked = readAll(path, size, by);
        setCsvChunkBytesForTesting(0);
        if (chunked != serial) __builtin_trap();
    }
    return 0;
}
