// Names a code address of the running program: function, source file and
// line, from the debug information of the executable or library that holds
// it. Used by failure reports, checker findings and call-site profiles; it
// runs only when one of those asks, never on the instruction path.
#pragma once

#include <string>
#include <vector>

namespace kmrsim {

// One level of inlined code: a function and the line in it.
struct inline_frame {
    std::string function;  // demangled when a linkage name is recorded
    std::string file;
    int line = 0;
};

struct source_location {
    std::string function;  // demangled; empty when no symbol covers the address
    std::string file;      // empty without line information
    int line = 0;
    std::string object;  // path of the executable or shared object
    // When the address lies in code inlined into other functions: the
    // chain from the innermost function (whose line is file:line above) to
    // the function that holds the code (the symbol), each with the line
    // being executed in it. Empty when the debug information has no
    // scopes for the address.
    std::vector<inline_frame> frames;
};

// The innermost level of loc.frames outside the host API's headers (those
// in a directory that holds kmr_api.h): the program's own line when the
// address lies in a typed call or vector-library code inlined into it. Null
// when there is no such level.
const inline_frame *program_frame(const source_location &loc);

// Looks up a return address (the instruction after a call): the location
// reported is that of the call itself. Uses the elfutils library (libdw)
// when it can be loaded, else the dynamic symbol table. Returns false when
// nothing at all is known of the address.
bool symbolize(const void *return_address, source_location &out);

}  // namespace kmrsim
