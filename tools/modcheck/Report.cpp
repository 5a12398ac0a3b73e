#include "Report.h"

#include <cstdint>

#include "CheckSystem.h"

namespace modcheck {

namespace {

constexpr size_t kProblemsShown = 5;

}  // namespace

void Report::Line(const char* verdict, const std::string& rule, const std::string& subject, const std::string& detail) {
    std::string line = std::string(verdict) + " " + rule;
    if (!subject.empty()) line += " [" + subject + "]";
    sys::WriteOutput(line + ": " + detail + "\n");
}

void Report::Pass(const std::string& rule, const std::string& subject, const std::string& detail) {
    ++passed_;
    Line("PASS", rule, subject, detail);
}

void Report::Fail(const std::string& rule, const std::string& subject, const std::string& detail) {
    ++failed_;
    Line("FAIL", rule, subject, detail);
}

void Report::Skip(const std::string& rule, const std::string& subject, const std::string& reason) {
    ++skipped_;
    Line("SKIP", rule, subject, reason);
}

void Report::Verdict(const std::string& rule, const std::string& subject, const std::vector<std::string>& problems,
                     const std::string& passDetail) {
    if (problems.empty()) {
        Pass(rule, subject, passDetail);
        return;
    }
    std::string detail;
    for (size_t i = 0; i < problems.size() && i < kProblemsShown; ++i) detail += (i ? "; " : "") + problems[i];
    if (problems.size() > kProblemsShown)
        detail += "; and " + Count(problems.size() - kProblemsShown, "more problem", "more problems");
    Fail(rule, subject, detail);
}

void Report::Note(const std::string& text) { sys::WriteOutput("modcheck: " + text + "\n"); }

int Report::Finish() {
    Note(std::to_string(passed_) + " passed, " + std::to_string(failed_) + " failed, " + std::to_string(skipped_) +
         " not run");
    return failed_ == 0 && skipped_ == 0 ? 0 : 1;
}

std::string Count(uint64_t number, const char* one, const char* many) {
    return std::to_string(number) + " " + (number == 1 ? one : many);
}

}  // namespace modcheck
