// Helpers of the runtime's tests: a private temporary folder and a child
// program run to its end.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace xpptest {

// A fresh folder under the temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/xpptest.XXXXXX";
        path_ = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct ChildResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the test program xpp_child with `args`, capturing its output.
inline ChildResult RunChild(const std::string& args) {
    TempDir dir;
    ChildResult r;
    std::string cmd = std::string("'") + XPP_CHILD + "' " + args + " >'" + dir.File("out") + "' 2>'" +
                      dir.File("err") + "'";
    int status = std::system(cmd.c_str());
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFile(dir.File("out"));
    r.err = ReadFile(dir.File("err"));
    return r;
}

}  // namespace xpptest
