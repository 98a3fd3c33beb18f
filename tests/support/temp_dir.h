// A scratch directory for end-to-end tests, removed with its contents at the end.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // `relative` uses '/'; parents are created.
    void writeFile(const std::string& relative, const std::string& bytes) const;
    void makeDirectory(const std::string& relative) const;
    std::string readFile(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    std::filesystem::path full(const std::string& relative) const;
    std::string path_;
};

// Joins path components with the platform's separator.
std::string platformPath(std::initializer_list<std::string> parts);

// The files below `directory` (the directories themselves left out) this process
// has open, where the system lists its descriptors; none where it does not.
std::vector<std::string> openFilesIn(const std::string& directory);
