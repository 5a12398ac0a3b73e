// Temporary folders and files for tests, on Linux and under Wine alike.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

namespace fs = std::filesystem;

// A fresh folder that is removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& Path() const { return path_; }
    // The folder as text ending in a separator, as the plug-in composes paths.
    std::u16string Directory() const;

private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& bytes);
std::string ReadFile(const fs::path& path);
std::u16string U16(const std::string& utf8);
std::string Utf8(const std::u16string& text);

// The log that the test sub-module appends to: one vector of TAB-separated fields per line.
std::vector<std::vector<std::string>> ReadLog(const fs::path& path);
// The log's lines without the fields after the call name; handy to compare call order.
std::vector<std::string> LoggedCalls(const fs::path& path);
// The value of "key=..." in a log line, or "" when the line has none.
std::string Field(const std::vector<std::string>& line, const std::string& key);

// Sets (or, with an empty value, clears) a variable of this process's environment.
void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace testing_support
