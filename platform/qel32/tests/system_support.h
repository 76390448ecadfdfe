// Helpers of the engine's system tests (files read by other programs, several
// processes): a temporary folder, the last error as text, and short readers
// of field values.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "qel32.h"

namespace systest {

inline std::string LastError() {
    uint32_t code = 0;
    char text[600] = {};
    uint32_t len = sizeof text - 1;
    KivGetLastError(&code, text, &len);
    return "engine error " + std::to_string(code) + ": " + text;
}

// For the helper programs traced by strace: a line on standard error that
// marks a step in the trace, and the report of a failed call (returns 1).
inline void MarkStep(const char* step) {
    const std::string line = std::string(step) + "\n";
    if (::write(2, line.data(), line.size()) < 0) {
        // the trace shows the attempt all the same
    }
}

inline int CallFailed(const char* what) {
    std::fprintf(stderr, "%s failed: %s\n", what, LastError().c_str());
    return 1;
}

#define SYS_ASSERT_OK(call) ASSERT_EQ(KIV_OK, (call)) << systest::LastError()
#define SYS_EXPECT_OK(call) EXPECT_EQ(KIV_OK, (call)) << systest::LastError()

// A fresh folder under $TMPDIR, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qel32-sys-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Names the instances of a parameterised test by their case's label.
template <class Case>
std::string CaseLabel(const ::testing::TestParamInfo<Case>& info) {
    return info.param.label;
}

// The field's text with trailing blanks cut; the engine's code when it fails.
inline KIVRESULT GetText(KIVHANDLE table, const char* field, std::string& out) {
    uint32_t len = 0;
    KIVRESULT rc = KivGetField(table, field, nullptr, &len, 1);
    if (rc != KIV_OK && rc != KIV_ERR_BUFFER_TOO_SMALL) return rc;
    out.assign(len + 1, '\0');
    rc = KivGetField(table, field, out.data(), &len, 1);
    out.resize(len);
    return rc;
}

}  // namespace systest
