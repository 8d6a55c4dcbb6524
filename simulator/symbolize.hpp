// Names a code address of the running program: function, source file and
// line, from the debug information of the executable or library that holds
// it. Used by failure reports, checker findings and call-site profiles; it
// runs only when one of those asks, never on the instruction path.
#pragma once

#include <string>

namespace kmrsim {

struct source_location {
    std::string function;  // demangled; empty when no symbol covers the address
    std::string file;      // empty without line information
    int line = 0;
    std::string object;  // path of the executable or shared object
};

// Looks up a return address (the instruction after a call): the location
// reported is that of the call itself. Uses the elfutils library (libdw)
// when it can be loaded, else the dynamic symbol table. Returns false when
// nothing at all is known of the address.
bool symbolize(const void *return_address, source_location &out);

}  // namespace kmrsim
