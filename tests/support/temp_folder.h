#pragma once
// A fresh folder of the test's own under $TMPDIR (or /tmp), removed with everything in it.
#include <string>

namespace vornel::test {

// Makes a fresh folder named prefix-XXXXXX under $TMPDIR (or /tmp) and returns its path; the
// caller removes it. Throws std::runtime_error when it cannot be made.
std::string makeFreshFolder(const std::string& prefix);

class TempFolder {
public:
    // Throws std::runtime_error when the folder cannot be made.
    explicit TempFolder(const std::string& prefix = "vornel-test") : path_(makeFreshFolder(prefix)) {}
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the folder (nothing is made).
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace vornel::test
