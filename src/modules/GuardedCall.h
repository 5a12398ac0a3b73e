// A call into a sub-module, written as a lambda, run under the platform's fault guard.
#pragma once

#include "platform/Platform.h"

// Runs call() under the fault guard, which the caller holds: true when it returned, false when a
// fault ended it (its code is then in state).
template <typename Call>
bool RunGuarded(Call& call, platform::GuardedCall& state) {
    return platform::CallGuarded([](void* context) { (*static_cast<Call*>(context))(); }, &call, state);
}
