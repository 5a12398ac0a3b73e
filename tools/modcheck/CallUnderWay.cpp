#include "CallUnderWay.h"

#include <cstdlib>

namespace modcheck {

void ReportEscapedException(const std::string& description) {
    sys::WriteOutput("FAIL crash: " + description +
                     ": a C++ exception left the sub-module\nmodcheck: stopped by the crash; the checks after it did "
                     "not run\n");
    std::_Exit(1);
}

}  // namespace modcheck
