// The names of a multi-volume RAR set, found from the name of its first volume:
//   name.part1.rar, name.part2.rar, ...         (also part01, part001, part0001: the width stays)
//   name.rar, name.r00, name.r01, ... name.r99, name.s00, ...   (the old scheme)
// Letter case is kept as the first volume has it.
#pragma once

#include <cstddef>
#include <string>

namespace formats {

// The path of the set's volume `number` (1 is the second volume) when `first` names the first
// volume of a set; empty when it does not (a later part, another name) or the scheme has no
// name that far.
std::u16string LaterVolumeName(const std::u16string& first, size_t number);

}  // namespace formats
