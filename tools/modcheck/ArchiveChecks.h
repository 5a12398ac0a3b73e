// The rules for one archive given on the command line. A first container is driven alone, as
// Morvane drives it while a file manager lists and extracts everything, with its file handles
// watched; then two more containers of the same archive are driven in step on two threads, and
// their answers and files are compared with the first one's.
#pragma once

#include <filesystem>
#include <string>

#include "Report.h"
#include "modules/SubModuleContract.h"

namespace modcheck {

class ArchiveChecks {
public:
    // `scratch` is an empty folder of modcheck's own; `canaryFile` a file in it. `password` may be null.
    ArchiveChecks(Report& report, const SubModuleInterface& operations, std::filesystem::path scratch,
                  std::filesystem::path canaryFile, const std::string* password);

    void Run(const std::u16string& archive, int number);

    // Reports every rule of an archive as not run.
    static void SkipAll(Report& report, const std::string& subject, const std::string& reason);

private:
    Report& report_;
    const SubModuleInterface& operations_;
    std::filesystem::path scratch_, canaryFile_;
    const std::string* password_;
};

}  // namespace modcheck
