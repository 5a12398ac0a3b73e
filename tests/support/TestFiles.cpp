#include "support/TestFiles.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace testing_support {

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() /
            ("morvane-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::u16string TempFolder::Directory() const {
    std::u16string text = path_.u16string();
    text += char16_t(fs::path::preferred_separator);
    return text;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::u16string U16(const std::string& utf8) { return fs::u8path(utf8).u16string(); }

std::string Utf8(const std::u16string& text) { return fs::path(text).u8string(); }

std::vector<std::vector<std::string>> ReadLog(const fs::path& path) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream content(ReadFile(path));
    std::string line;
    while (std::getline(content, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t')) fields.push_back(cell);
        lines.push_back(fields);
    }
    return lines;
}

std::vector<std::string> LoggedCalls(const fs::path& path) {
    std::vector<std::string> calls;
    for (const auto& line : ReadLog(path))
        if (line.size() >= 2) calls.push_back(line[0] + " " + line[1]);
    return calls;
}

std::string Field(const std::vector<std::string>& line, const std::string& key) {
    for (const std::string& cell : line)
        if (cell.compare(0, key.size() + 1, key + "=") == 0) return cell.substr(key.size() + 1);
    return "";
}

void SetEnvironment(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    SetEnvironmentVariableW(fs::u8path(name).c_str(), value.empty() ? nullptr : fs::u8path(value).c_str());
#else
    if (value.empty()) unsetenv(name.c_str());
    else setenv(name.c_str(), value.c_str(), 1);
#endif
}

}  // namespace testing_support
