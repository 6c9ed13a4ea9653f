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

// Kept inputs of faults that are still open in code outside the fuzz targets. Each is
// skipped with its fault named; once the fault is fixed its line goes, and the input is
// replayed with the rest.
struct KnownFault {
    const char* target;
    const char* input;
    const char* fault;
};

const KnownFault kKnownFaults[] = {
    {"body_text", "known-iconv-cp949-cut-sequence",
     "http/body_text.cpp decodeWithConverter: after iconv rejects a sequence at the end of the "
     "input, the loop steps past the end (ASan: negative-size-param in iconv)"},
    {"body_text", "known-iconv-iso2022cnext-shift-out",
     "http/body_text.cpp decodeWithConverter: a lone shift-out byte makes the loop step past "
     "the end of the input (ASan: negative-size-param in iconv)"},
    {"mp3_scanner", "known-hang-minimal",
     "playback/engine/mp3_scanner.cpp: the Search and Frames states hand control to each other "
     "without consuming input (endless loop in feed)"},
    {"mp3_scanner", "known-hang-44k-then-48k",
     "playback/engine/mp3_scanner.cpp: a change of sample rate makes the Search and Frames "
     "states loop without consuming input (endless loop in feed)"},
    {"mp3_scanner", "known-hang-in-finish",
     "playback/engine/mp3_scanner.cpp: at the end of the stream, processSearch and the Frames "
     "state hand control to each other without consuming input (endless loop in finish)"},
};

void PrintTo(const KnownFault& fault, std::ostream* out)
{
    *out << fault.target << "/" << fault.input;
}

const KnownFault* knownFault(const std::string& target, const std::string& input)
{
    for (const KnownFault& fault : kKnownFaults)
        if (target == fault.target && input == fault.input)
            return &fault;
    return nullptr;
}

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
        if (knownFault(GetParam(), input.filename().string()))
            continue;
        SCOPED_TRACE(input.string());
        const std::string bytes = readFile(input);
        EXPECT_EQ(entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay, ::testing::ValuesIn(targetNames()),
                         [](const auto& info) { return info.param; });

class OpenFault : public ::testing::TestWithParam<KnownFault> {};

TEST_P(OpenFault, InputIsKeptAndWaitsForTheFix)
{
    const KnownFault& fault = GetParam();
    ASSERT_TRUE(fs::is_regular_file(kCorpus / fault.target / fault.input)) << fault.input;
    GTEST_SKIP() << "known fault, replay skipped until fixed: " << fault.fault;
}

INSTANTIATE_TEST_SUITE_P(Kept, OpenFault, ::testing::ValuesIn(kKnownFaults),
                         [](const auto& info) {
                             std::string name = std::string(info.param.target) + "_" + info.param.input;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

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
