// Where i386 code runs only through qemu-user (scripts/run-windows.sh says so in the environment),
// Wine receives some processor faults without their trap number and reports them under another
// code. Tests that check such codes expect what the machine reports.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace test_support {

inline bool UnderEmulation() { return std::getenv("MORVANE_UNDER_EMULATION") != nullptr; }

// The code Wine reports for a fault that raises `code` on a machine that runs the code itself.
inline uint32_t AsReported(uint32_t code) {
    if (!UnderEmulation()) return code;
    switch (code) {
    case 0xC0000005u:  // access violation
    case 0xC0000096u:  // privileged instruction
        return 0xC000001Du;  // illegal instruction
    case 0xC0000094u:  // integer division by zero
        return 0xC0000090u;  // floating-point invalid operation
    default:
        return code;
    }
}

}  // namespace test_support
