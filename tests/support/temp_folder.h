// A fresh folder for one test's output files, removed with everything in it
// when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <system_error>

namespace ravoth::testing {

class TempFolder {
public:
    // create_directory reports whether it made the folder, so a name that
    // another process took first is simply passed over.
    TempFolder()
    {
        thread_local std::mt19937_64 nameSource{std::random_device{}()};
        const std::filesystem::path base(::testing::TempDir());
        for (int attempt = 0; attempt < 100; ++attempt) {
            // Names of one length, so that tests may count path bytes.
            std::string digits = std::to_string(nameSource() % 1000000000);
            digits.insert(0, 9 - digits.size(), '0');
            const std::filesystem::path candidate = base / ("ravoth-" + digits);
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                path_ = candidate;
                return;
            }
        }
        ADD_FAILURE() << "cannot make a temporary folder";
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Paths use "/" on every system, which Windows takes as well, so tests
    // can split them the same way everywhere.
    std::string path() const { return path_.generic_string(); }
    std::string file(const std::string& name) const { return (path_ / name).generic_string(); }

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
