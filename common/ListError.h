#pragma once
// A bad index into one of the program's lists: "List index out of bounds (<index>)".

#include <stdexcept>
#include <string>

namespace brindlecove {

class EListError : public std::out_of_range {
public:
    explicit EListError(int index)
        : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")") {}
};

} // namespace brindlecove
