// A fresh folder for one test's output files, removed with everything in it
// when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace ravoth::testing {

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = ::testing::TempDir() + "ravoth-XXXXXX";
        if (!mkdtemp(pattern.data())) ADD_FAILURE() << "cannot make a temporary folder";
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string path() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // The names of the files in the folder.
    std::set<std::string> names() const
    {
        std::set<std::string> result;
        for (const auto& item : std::filesystem::directory_iterator(path_))
            result.insert(item.path().filename().string());
        return result;
    }

private:
    std::filesystem::path path_;
};

inline std::string readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace ravoth::testing
