// Lines a benchmark adds while it runs, printed by the program after the table, in the order they were added:
// the figures that are asked for in a fixed form, beside their goals.
#pragma once

#include <string>
#include <vector>

namespace bench {

inline std::vector<std::string> &summary() {
    static std::vector<std::string> lines;
    return lines;
}

}  // namespace bench
