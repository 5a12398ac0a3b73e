// Container files that the test sub-module reads: what each module answers, and the entries.
#pragma once

#include <string>

#include "support/TestFiles.h"

namespace testing_support {

// Writes a container file with the given directive lines (TAB-separated fields) and answers its path.
inline std::u16string WriteContainer(const fs::path& file, const std::string& lines) {
    WriteFile(file, "MORVANE-TEST-CONTAINER\n" + lines);
    return file.u16string();
}

// Lines of the log that name this call, in order.
inline std::vector<std::vector<std::string>> CallsNamed(const fs::path& log, const std::string& call) {
    std::vector<std::vector<std::string>> found;
    for (const auto& line : ReadLog(log))
        if (line.size() >= 2 && line[1] == call) found.push_back(line);
    return found;
}

}  // namespace testing_support
