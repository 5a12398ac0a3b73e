// Every call into the sub-module runs inside CallModule: the crash report then names the call,
// and a C++ exception that leaves the sub-module is reported as the crash it is.
#pragma once

#include <string>
#include <utility>

#include "CheckSystem.h"

namespace modcheck {

// Names the call under way on this thread for as long as it lives.
class CallUnderWay {
public:
    explicit CallUnderWay(std::string description) : description_(std::move(description)) {
        sys::SetCallUnderWay(description_.c_str());
    }
    ~CallUnderWay() { sys::SetCallUnderWay(nullptr); }
    CallUnderWay(const CallUnderWay&) = delete;
    CallUnderWay& operator=(const CallUnderWay&) = delete;

private:
    std::string description_;
};

// Prints "FAIL crash" for an exception that left the sub-module and ends the process.
[[noreturn]] void ReportEscapedException(const std::string& description);

template <typename Call>
auto CallModule(const std::string& description, Call&& call) -> decltype(call()) {
    CallUnderWay scope(description);
    try {
        return call();
    } catch (...) {
        ReportEscapedException(description);
    }
}

}  // namespace modcheck
