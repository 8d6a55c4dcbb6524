// Vector expression library: index ranges for sub-vector views.
//
// A range is half-open: range_t(2, 5) selects elements 2, 3 and 4. The
// bounds are held by reference, so a range must not outlive the integers
// it was made from; use ranges inside the expression that creates them:
//
//     v[RANGE(2, 5)] = 7;                      // elements 2..4 of v
//     m[range2D_t(RANGE(0, 3), RANGE(1, 2))];  // columns 0..2 of row 1
#pragma once

#include "fwd_declaration.hpp"

namespace KMR {

struct range_t {
    const int &from;
    const int &to;
    range_t(const int &from_, const int &to_) : from(from_), to(to_) {}
};

struct range2D_t {
    const range_t &cols;
    const range_t &rows;
    range2D_t(const range_t &cols_, const range_t &rows_) : cols(cols_), rows(rows_) {}
};

// Builds ranges: RANGE(from, to) is a range_t, RANGE(cols, rows) a range2D_t.
struct range_op_t {
    range_t operator()(const int &from, const int &to) const { return range_t(from, to); }
    range2D_t operator()(const range_t &cols, const range_t &rows) const { return range2D_t(cols, rows); }
};

// One per translation unit; it carries no data.
static const range_op_t RANGE = range_op_t();

}  // namespace KMR
