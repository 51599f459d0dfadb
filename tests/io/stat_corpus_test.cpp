// Every file of the fuzz corpus of the Stata and SPSS reader (fuzz/corpus/stat: whole, cut
// short and damaged files) either opens and reads to its end or is refused with an error that
// names the file; never a crash, and nothing is written beside it.
#include <filesystem>

#include "dataset_test_util.h"
#include "io/stat_dataset.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;

namespace fs = std::filesystem;

using StatCorpus = DataTest;

TEST_F(StatCorpus, DamagedFilesAreRefusedByName) {
    const fs::path corpus = fs::path(VELLOC_SOURCE_DIR) / "fuzz/corpus/stat";
    static const char* const kExt[] = {".dta", ".sav", ".por"};
    int opened = 0, refused = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        std::string bytes = read(entry.path().string());
        ASSERT_FALSE(bytes.empty()) << entry.path();
        std::string p =
            path(entry.path().filename().string() + kExt[static_cast<unsigned char>(bytes[0]) % 3]);
        write(fs::path(p).filename().string(), bytes.substr(1));
        log_.str("");
        try {
            setStatChunkBytes(64);
            auto ds = Dataset::open(p);
            setStatChunkBytes(8 << 20);
            std::int64_t n = 0;
            int g;
            while ((g = ds->nextGroup()) > 0)
                while (ds->nextObs())
                    ++n;
            EXPECT_EQ(g, 0) << p << log();
            EXPECT_EQ(n, ds->nobs()) << p;
            ++opened;
        } catch (const DataSetError& e) {
            setStatChunkBytes(8 << 20);
            EXPECT_NE(e.message.find(p), std::string::npos) << e.message;
            EXPECT_NE(log().find("ERROR: The data set file " + p), std::string::npos) << log();
            ++refused;
        }
    }
    // The whole files open; the cut and damaged ones mostly do not.
    EXPECT_GE(opened, 4);
    EXPECT_GE(refused, 15);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_))
        ++files;
    EXPECT_EQ(files, static_cast<std::size_t>(opened + refused)) << "only the inputs are there";
}
