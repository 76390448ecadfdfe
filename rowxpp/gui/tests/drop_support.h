// The files that the drop tests offer: a temporary folder of text files,
// a document, a folder named like a text file and a shortcut (a symbolic
// link) to a text file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "gui_test_support.h"

namespace fs = std::filesystem;

// A temporary folder of the files a drop offers.
class DropFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("rowxpp_drop_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        Write("a.TXT", "text of a");
        Write("second.txt", "text of second");
        Write("empty.txt", "");
        Write("c.doc", "a document");
        fs::create_directory(dir_ / "folder.txt");
        fs::create_symlink("a.TXT", dir_ / "b.lnk");
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};
