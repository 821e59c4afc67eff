// The fuzzers' seeds and every input that ever crashed them, run through the
// same entries without libFuzzer: a parser that breaks again fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_entries.h"

namespace {

namespace fs = std::filesystem;

class FuzzInputs : public testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzInputs, EverySeedAndCrashInputRunsCleanly) {
    const FuzzTarget& target = GetParam();
    size_t seeds = 0;
    for (const char* kind : {"corpus", "crashes"}) {
        const fs::path folder = fs::path(VISTREL_FUZZ_DIR) / kind / target.Name;
        if (!fs::is_directory(folder)) continue;
        for (const fs::directory_entry& file : fs::directory_iterator(folder)) {
            if (!file.is_regular_file()) continue;
            SCOPED_TRACE(file.path().string());
            std::ifstream in(file.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            target.Entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            if (std::string(kind) == "corpus") ++seeds;
        }
    }
    EXPECT_GE(seeds, 2u) << "every target keeps a seed corpus in fuzz/corpus/" << target.Name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs, testing::ValuesIn(FuzzTargets()),
                         [](const testing::TestParamInfo<FuzzTarget>& info) {
                             return std::string(info.param.Name);
                         });

}  // namespace
