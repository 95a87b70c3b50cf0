// TempDir: a fresh folder under $TMPDIR (or /tmp) for one test, removed with
// its content when the object goes away.
#pragma once

#include <string>

namespace vurude::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace vurude::test
