// A sub-module that could not be loaded or bound, as the start-up report shows it.
#pragma once

#include <string>

struct LoadFailure {
    std::u16string moduleName;
    std::u16string errorText;
};
