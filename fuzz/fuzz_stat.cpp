// libFuzzer target: any bytes as a Stata, SPSS or SPSS portable file (the first byte picks
// which). Opening either fails with DataSetError, after a message that names the file, or
// yields a data set that reads to its end in BY groups of its first variable, with rewinds.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "base/messages.h"
#include "io/data_messages.h"
#include "io/dataset.h"
#include "io/stat_dataset.h"

using namespace velloc::host;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::ostringstream sink;
    static const std::string base = "/tmp/velloc-fuzz-stat-" + std::to_string(::getpid());
    static bool init = [] {
        addDataSetMessages();
        Log::setStream(&sink);
        return true;
    }();
    (void)init;
    if (size == 0) return 0;
    static const char* const kExt[] = {".dta", ".sav", ".por"};
    const std::string path = base + kExt[data[0] % 3];
    sink.str("");
    // Tiny chunks make groups and rewinds cross chunk boundaries.
    setStatChunkBytes(static_cast<std::int64_t>(size % 97) + 1);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    try {
        auto ds = Dataset::open(path);
        std::int64_t seen = 0;
        ds->setBy({{1, size % 2 == 0}}, size % 3 == 0);
        int r;
        while ((r = ds->nextGroup()) > 0) {
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
    } catch (const DataSetError& e) {
        // Every refusal names the file.
        if (e.message.find(path) == std::string::npos) __builtin_trap();
    }
    std::remove(path.c_str());
    return 0;
}
