#pragma once
// A fresh folder of the test's own under $TMPDIR (or /tmp), removed with everything in it.
#include <string>

namespace vornel::test {

class TempFolder {
public:
    // Throws std::runtime_error when the folder cannot be made.
    explicit TempFolder(const std::string& prefix = "vornel-test");
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
