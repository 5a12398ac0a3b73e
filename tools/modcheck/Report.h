// modcheck's output: one line per rule with PASS, FAIL or SKIP, the rule's name, the archive it
// concerns and what was seen; a summary line and the exit status at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modcheck {

class Report {
public:
    void Pass(const std::string& rule, const std::string& subject, const std::string& detail);
    void Fail(const std::string& rule, const std::string& subject, const std::string& detail);
    void Skip(const std::string& rule, const std::string& subject, const std::string& reason);
    // PASS with `passDetail` when there are no problems, else FAIL naming the first few.
    void Verdict(const std::string& rule, const std::string& subject, const std::vector<std::string>& problems,
                 const std::string& passDetail);
    void Note(const std::string& text);

    // Prints the summary; the exit status: 0 only when every rule ran and passed.
    int Finish();

private:
    void Line(const char* verdict, const std::string& rule, const std::string& subject, const std::string& detail);

    int passed_ = 0, failed_ = 0, skipped_ = 0;
};

// "1 entry", "3 entries": English plurals for the lines above.
std::string Count(uint64_t number, const char* one, const char* many);

}  // namespace modcheck
