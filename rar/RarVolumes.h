// Names of the volumes of a RAR set, derived from the first volume's name:
// NAME.part1.rar, NAME.part2.rar, ... (the digit group keeps its width) or
// NAME.rar, NAME.r00, NAME.r01, ..., NAME.r99, NAME.s00, ... (the letter case
// of the first extension is kept). Qt-free.
#pragma once

#include <string>

namespace RarVolumes {

// The path of volume `index` (0 is the first volume itself).
std::string volumePath(const std::string& firstPath, bool newNumbering, unsigned index);

// NAME.rar -> NAME.partN.rar with N of `digits` digits (for writing a set).
std::string firstPartPath(const std::string& archivePath, unsigned digits);

}
