// brindlecove-routes: see RoutesTool.h.
#include "tools/routes/RoutesTool.h"

#include <iostream>
#include <new>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    try {
        return brindlecove::routes::RunRoutesTool(std::vector<std::string>(argv + 1, argv + argc),
                                                  std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cerr << "brindlecove-routes: out of memory\n";
        return brindlecove::routes::ExitBadData;
    }
}
