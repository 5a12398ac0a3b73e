// Makes repeated entry names of one archive unique: the second "report.txt" becomes "report,1.txt".
#pragma once

#include <cstdint>
#include <map>
#include <string>

class NameCountMap {
public:
    // The name to show for the next entry called name.
    std::u16string Number(const std::u16string& name);

private:
    // Ordinal, case-sensitive keys: "Readme.txt" and "README.TXT" are two names.
    std::map<std::u16string, int32_t> counts_;
};
