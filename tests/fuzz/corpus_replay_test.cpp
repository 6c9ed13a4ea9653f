// Every input kept in fuzz/corpus/<target>/ goes through the same entry function that the
// fuzz target runs; a fault found once stays found.
#include "fuzz/fuzz_target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace vornel::fuzz {

namespace {

std::map<std::string, Entry>& entries()
{
    static std::map<std::string, Entry> table;
    return table;
}

} // namespace

bool registerEntry(const char* name, Entry entry)
{
    entries()[name] = entry;
    return true;
}

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = VORNEL_FUZZ_CORPUS_DIR;

std::vector<fs::path> inputsOf(const std::string& target)
{
    std::vector<fs::path> inputs;
    for (const auto& file : fs::directory_iterator(kCorpus / target))
        if (file.is_regular_file())
            inputs.push_back(file.path());
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> targetNames()
{
    std::vector<std::string> names;
    for (const auto& [name, entry] : entries())
        names.push_back(name);
    return names;
}

class CorpusReplay : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusReplay, EveryKeptInputRunsCleanly)
{
    const Entry entry = entries().at(GetParam());
    const std::vector<fs::path> inputs = inputsOf(GetParam());
    ASSERT_FALSE(inputs.empty()) << "no seed inputs for " << GetParam();
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.string());
        const std::string bytes = readFile(input);
        EXPECT_EQ(entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay, ::testing::ValuesIn(targetNames()),
                         [](const auto& test) { return test.param; });

TEST(Corpus, EveryTargetHasSeedsAndEverySeedFolderATarget)
{
    std::vector<std::string> folders;
    for (const auto& folder : fs::directory_iterator(kCorpus))
        if (folder.is_directory())
            folders.push_back(folder.path().filename().string());
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, targetNames());
}

} // namespace
} // namespace vornel::fuzz
