#pragma once
// Small file and folder reads and writes for the tests' own fixtures.
#include <string>
#include <vector>

namespace vornel::test {

// The names in a folder (not its subfolders' contents), sorted; throws
// std::filesystem::filesystem_error when the folder cannot be read.
std::vector<std::string> entriesIn(const std::string& folder);

// Writes the bytes, making the parent folders first.
void writeText(const std::string& path, const std::string& text);
// The file's bytes; empty when it cannot be read.
std::string readText(const std::string& path);

} // namespace vornel::test
