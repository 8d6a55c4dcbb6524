// The vector expression library (namespace KMR): scratchpad-resident vector
// objects whose storage follows the scratchpad save stack, and expressions
// on them whose assignment issues simulator instructions.
//
//     KMR::Vector<int> a(10), b(10), c(10);  // three blocks on the scratchpad stack
//     a = 1 + KMR::ENUM;                     // one VADD: a[i] = 1 + i
//     b = 4;                                 // one VMOV
//     c = a * b;                             // one VMUL
//     c.printVec();
//
// Storage. The sizing constructor saves the allocation pointer with
// kmr_sp_push before it allocates, and the destructor restores it with
// kmr_sp_pop, so vectors must be destroyed in reverse order of construction
// (automatic objects of one scope are). At most 64 vectors that own storage
// can be alive at once: the 65th push stops the program with an "Error: "
// message before anything is allocated. Views (sub-ranges, rows, reshapes,
// aliases, flag views, wrapped data) own nothing and never pop.
//
// Two- and three-dimensional vectors. `size` is the number of elements per
// row, `rows` the number of rows, `mats` the number of matrices; the
// constructors take the row and matrix strides in elements, the fields hold
// them in bytes. The sizing constructor allocates one block that holds every
// element the vector addresses: for Dim 2, rows strides of incr2 elements,
// or (rows - 1) * incr2 + sz elements when the rows overlap (incr2 < sz);
// for Dim 3, mats blocks of incr3 elements, or (mats - 1) * incr3 plus one
// two-dimensional block when the matrices overlap. Dense rows therefore take
// incr2 = sz and dense matrices incr3 = rows * incr2. A zero-sized vector
// owns no bytes; its data is the current allocation pointer.
//
// Assignment. Every assignment goes through one funnel (assign.hpp): it
// chooses the masked instructions inside a masked region (vector_mask_obj.hpp)
// and the plain ones outside, sets the vector length when the register does
// not hold it already (the register is read, so a length set by other code is
// corrected), evaluates nested sub-expressions into temporaries at the free
// end of the scratchpad (one instruction each, the allocation pointer does
// not move) and issues one entry point for the destination's dimensionality;
// 2D and 3D assignments also set the row (and matrix) counts and strides when
// the registers do not hold them. An expression computes in the signedness
// of its vectors (the destination's when it has none). docs/vector_library.md
// describes every operator, named function and rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "expression_width.hpp"
#include "fwd_declaration.hpp"
#include "kmr_api.h"
#include "range.hpp"
#include "type_manipulation.hpp"

namespace KMR {

// The enumeration operand: element i of a row has the value i.
class enum_t {};

// One per translation unit; it carries no data.
static const enum_t ENUM = enum_t();

namespace _internal {

// Whether instruction register `reg` holds `value` (as a write would leave
// it: registers keep only the bits of their mask).
inline bool register_holds(uint32_t reg, uint32_t value)
{
    return _KMR_GET1(reg) == (value & get_the_kmrsim()->reg_mask[reg]);
}

// Sets the one-dimensional vector length unless the register holds it
// already; the register is read every time, so a length set by other means
// (kmr_set_vl, KMR_SET_VL, the typed calls) is noticed. __old_vl__ records
// the last length the library asked for.
inline void set_vl(size_t len)
{
    if (!register_holds(REG_VL, static_cast<uint32_t>(len))) {
        kmr_set_vl(static_cast<int>(len));
    }
    __old_vl__ = len;
}

// p moved by a signed number of bytes.
template <typename T>
inline T *byte_offset(T *p, ptrdiff_t bytes)
{
    return reinterpret_cast<T *>(reinterpret_cast<char *>(p) + bytes);
}

// How an expression node holds an operand: vectors and the enumeration by
// reference, scalars and sub-expressions by value.
template <typename X, bool by_reference = is_vector<X>::value || is_enum<X>::value>
struct operand_storage {
    using type = const X;
};
template <typename X>
struct operand_storage<X, true> {
    using type = const X &;
};
template <>
struct operand_storage<int, false> {
    using type = const kmr_word_t;
};

// Expression node: operand A (lhs) and operand B (rhs) of one instruction.
// Operators put each operand where the instruction reads it (a scalar is
// always operand A, the enumeration always operand B; shifts shift B by
// A), so lhs and rhs are not always the C++ operands in written order.
template <typename T, typename U, vinstr_t instr, typename btype, int Dim, acc_choice acc>
class bin_op {
public:
    typename operand_storage<T>::type lhs;
    typename operand_storage<U>::type rhs;

    bin_op(typename operand_storage<T>::type lhs_, typename operand_storage<U>::type rhs_) : lhs(lhs_), rhs(rhs_) {}
};

// Number of elements per row that an operand carries (0 for scalars and
// the enumeration): the first vector found, right operand first.
template <typename X>
inline size_t operand_length(const X &)
{
    return 0;
}
template <typename T, int d>
inline size_t operand_length(const Vector<T, d> &v)
{
    return v.size;
}
template <typename L, typename R, vinstr_t i, typename B, int d, acc_choice a>
inline size_t operand_length(const bin_op<L, R, i, B, d, a> &e)
{
    const size_t n = operand_length(e.rhs);
    return n != 0 ? n : operand_length(e.lhs);
}

}  // namespace _internal

// Target of Vector::operator[](int): one element of a vector.
//  - reading it (conversion to T) waits for outstanding DMA and returns the
//    element;
//  - assigning a scalar stores it into the element directly;
//  - assigning an expression or a vector stores the sum of its elements
//    (an accumulating instruction) into the element. The expression's
//    length is that of its vectors, or the indexed vector's size when it
//    has none.
template <typename T>
class accum_t {
public:
    T *elem;
    size_t vlen;

    accum_t(T *elem_, size_t vlen_) : elem(elem_), vlen(vlen_) {}

    operator T() const
    {
        kmr_sync();
        return *elem;
    }

    accum_t &operator=(kmr_word_t value)
    {
        kmr_sync();
        *elem = static_cast<T>(value);
        return *this;
    }

    accum_t &operator=(const accum_t &other) { return *this = static_cast<kmr_word_t>(static_cast<T>(other)); }

    template <typename lhs_t, typename rhs_t, vinstr_t instr, typename btype, int dim1, acc_choice acc>
    accum_t &operator=(const _internal::bin_op<lhs_t, rhs_t, instr, btype, dim1, acc> &rhs);

    template <typename U>
    accum_t &operator=(const Vector<U, 1> &rhs);
};

template <typename T, int dim>
class Vector {
    static_assert(dim >= 1 && dim <= 3, "vectors have 1, 2 or 3 dimensions");
    static_assert(is_element<T>::value, "vector elements must be 8-, 16- or 32-bit integers");

    // When true the destructor leaves the scratchpad stack alone.
    const bool dont_pop;

public:
    enum clone_or_alias {
        CLONE = 0,
        ALIAS = 1
    };

    size_t size;     // elements per row; the vector length of instructions
    vinstr_t cmv;    // conditional-move opcode associated with the vector
    T *data;         // scratchpad address of element 0
    size_t rows;     // rows (0 for a one-dimensional vector)
    int increment2;  // distance between rows in bytes
    size_t mats;     // matrices (0 unless three-dimensional)
    int increment3;  // distance between matrices in bytes

    // Allocates a vector on the scratchpad stack (see the header comment
    // for the size of the block). Strides are given in elements.
    explicit Vector(int sz, int rows = 0, int incr2 = 0, int mats = 0, int incr3 = 0);

    // An empty vector bound to no storage.
    Vector();

    // A view of existing scratchpad data; strides in elements. Owns nothing.
    Vector(T *data, int sz, size_t rows = 0, int incr2 = 0, size_t mats = 0, int incr3 = 0);

    // ALIAS: a view of the same elements. CLONE: a new vector on the
    // scratchpad stack with the same shape, dense rows and matrices, holding
    // a copy of the elements made by one VMOV instruction (never masked).
    Vector(const Vector &other, clone_or_alias how);

    // A clone (see above): copies behave as values.
    Vector(const Vector &other);

    ~Vector();

    // Element-wise copy (VMOV); the other vector may have another element
    // type (the copy then narrows or widens).
    Vector &operator=(const Vector &rhs);
    template <typename U>
    Vector &operator=(const Vector<U, dim> &rhs);

    // Every element becomes rhs (VMOV).
    Vector &operator=(kmr_word_t rhs);

    // Every element becomes its index within its row (VADD of 0 and the
    // enumeration).
    Vector &operator=(const enum_t &rhs);

    // One instruction for the expression (more for nested expressions). A
    // sum (KMR::sum, accumulating) runs over the length of its vectors, or
    // this vector's size when it has none, and writes element 0 of each row.
    template <typename lhs_t, typename rhs_t, vinstr_t instr, typename btype, int dim1, acc_choice acc>
    Vector &operator=(const _internal::bin_op<lhs_t, rhs_t, instr, btype, dim1, acc> &rhs);

    // y, then x moved in where the condition holds (see KMR::select).
    template <typename Cond, typename X, typename Y>
    Vector &operator=(const select_op<Cond, X, Y> &rhs);

    // Views. range_t selects the half-open range of elements [from, to) of
    // the first row; range2D_t selects columns and rows of the first matrix
    // (a one-dimensional vector is one row). Element i of the first row as
    // an accumulation target.
    Vector<T, 1> operator[](const range_t &r) const;
    Vector<T, 2> operator[](const range2D_t &r) const;
    accum_t<T> operator[](int i) const;

    // DMA through the simulator's transfer queue: n elements of every row,
    // the host side densely packed (row after row, matrix after matrix).
    // dma_read fills the vector from host memory at src; dma_write copies it
    // to host memory at dst. The transfers complete when an instruction
    // touches the range or at kmr_sync(); read dst only after kmr_sync().
    void dma_write(T *dst, int n);
    void dma_read(T *src, int n);
    void dma_read(const T *src, int n);  // the same from read-only host memory

    // Views of the flag memory beside the elements (one flag of the
    // element's width per element, 0 or 1): fs() and overflow() and carry()
    // carry the condition VCMV_NZ (flag set), fc() VCMV_Z (flag clear).
    // The flag memory is readable from the host only; it is not an operand
    // of instructions.
    Vector<T, 1> fs() const;
    Vector<T, 1> fc() const;
    Vector<T, 1> overflow() const;
    Vector<T, 1> carry() const;

    // Vector objects themselves may live on the heap; their elements stay
    // on the scratchpad stack, so delete them in reverse order of creation.
    static void *operator new(size_t bytes);
    static void operator delete(void *p);

    // Waits for outstanding work, then prints every element as "%8d,"
    // ("%8u," for unsigned 32-bit elements) and erases the last comma with
    // backspace, space, backspace before the newline. Two- and
    // three-dimensional vectors print one line per row.
    void printVec() const;

    // Views with another shape over the same data (strides in elements).
    // get_row(r) numbers the rows of all matrices one after the other.
    Vector<T, 1> to1D(int sz) const;
    Vector<T, 1> get_row(int r) const;
    Vector<T, 2> to2D(int sz, int rows, int incr2) const;
    Vector<T, 3> to3D(int sz, int rows, int incr2, int mats, int incr3) const;

private:
    // A view with the given fields; owns nothing.
    Vector(T *data_, size_t size_, size_t rows_, int inc2_bytes, size_t mats_, int inc3_bytes, vinstr_t cmv_,
           bool /*view tag*/);

    // Every assignment goes through the library's one funnel (assign.hpp);
    // then the vector's condition is VCMV_NZ again.
    template <typename Src>
    Vector &assign_from(const Src &src, size_t vlen);

    _internal::shape_t shape() const { return _internal::shape_t{rows, increment2, mats, increment3}; }

    // Number of rows and matrices that instructions and printing traverse.
    size_t row_count() const { return dim >= 2 ? rows : 1; }
    size_t mat_count() const { return dim == 3 ? mats : 1; }
    T *row_ptr(size_t m, size_t r) const
    {
        return _internal::byte_offset(data,
                                      static_cast<ptrdiff_t>(m) * increment3 + static_cast<ptrdiff_t>(r) * increment2);
    }
    Vector<T, 1> flag_view(vinstr_t condition) const;

    template <typename U, int d>
    friend class Vector;
};

}  // namespace KMR

#include "operators.hpp"
#include "kmrx.hpp"
#include "kmr_func.hpp"
#include "resolve.hpp"
#include "assign.hpp"
#include "vector_mask_obj.hpp"

namespace KMR {

// ---------------------------------------------------------------------------
// Construction and destruction.

template <typename T, int dim>
Vector<T, dim>::Vector(int sz, int rows_, int incr2, int mats_, int incr3)
    : dont_pop(false), size(static_cast<size_t>(sz)), cmv(VCMV_NZ), data(nullptr), rows(static_cast<size_t>(rows_)),
      increment2(incr2 * static_cast<int>(sizeof(T))), mats(static_cast<size_t>(mats_)),
      increment3(incr3 * static_cast<int>(sizeof(T)))
{
    KMR_VEC_ASSERT(sz >= 0 && rows_ >= 0 && incr2 >= 0 && mats_ >= 0 && incr3 >= 0);

    // Elements spanned by the block (see the header comment).
    size_t data_size = static_cast<size_t>(sz);
    if (dim >= 2) {
        const size_t r = static_cast<size_t>(rows_), pitch = static_cast<size_t>(incr2);
        if (r == 0 || sz == 0) {
            data_size = 0;
        } else if (pitch >= data_size) {
            data_size = r * pitch;
        } else {
            data_size = (r - 1) * pitch + data_size;
        }
    }
    if (dim == 3) {
        const size_t m = static_cast<size_t>(mats_), pitch = static_cast<size_t>(incr3);
        if (m == 0 || data_size == 0) {
            data_size = 0;
        } else if (pitch >= data_size) {
            data_size = m * pitch;
        } else {
            data_size = (m - 1) * pitch + data_size;
        }
    }

    // Save the allocation pointer first: the destructor's pop then releases
    // this block together with everything allocated after it, and a full
    // save stack stops the program before anything is allocated.
    kmr_sp_push();
    if (data_size == 0) {
        data = static_cast<T *>(kmr_sp_get());
    } else {
        data = static_cast<T *>(kmr_sp_malloc_nodebug(data_size * sizeof(T)));
        if (data == nullptr)
            _internal::report_failed_allocation(data_size * sizeof(T));
    }
    // clang-format off
    KMR_VEC_ASSERT(data!=NULL);  // the report names this expression as written
    // clang-format on
}

template <typename T, int dim>
Vector<T, dim>::Vector()
    : dont_pop(true), size(0), cmv(VCMV_NZ), data(nullptr), rows(0), increment2(0), mats(0), increment3(0)
{}

template <typename T, int dim>
Vector<T, dim>::Vector(T *data_, int sz, size_t rows_, int incr2, size_t mats_, int incr3)
    : dont_pop(true), size(static_cast<size_t>(sz)), cmv(VCMV_NZ), data(data_), rows(rows_),
      increment2(incr2 * static_cast<int>(sizeof(T))), mats(mats_), increment3(incr3 * static_cast<int>(sizeof(T)))
{
    KMR_VEC_ASSERT(sz >= 0);
}

template <typename T, int dim>
Vector<T, dim>::Vector(T *data_, size_t size_, size_t rows_, int inc2_bytes, size_t mats_, int inc3_bytes,
                       vinstr_t cmv_, bool)
    : dont_pop(true), size(size_), cmv(cmv_), data(data_), rows(rows_), increment2(inc2_bytes), mats(mats_),
      increment3(inc3_bytes)
{}

template <typename T, int dim>
Vector<T, dim>::Vector(const Vector &other, clone_or_alias how)
    : dont_pop(how == ALIAS), size(other.size), cmv(other.cmv), data(other.data), rows(other.rows),
      increment2(other.increment2), mats(other.mats), increment3(other.increment3)
{
    if (how == ALIAS) {
        return;
    }
    // Dense layout of the same shape.
    const size_t row_bytes = size * sizeof(T);
    if (dim >= 2) {
        increment2 = static_cast<int>(row_bytes);
    }
    if (dim == 3) {
        increment3 = static_cast<int>(rows * row_bytes);
    }
    const size_t bytes = row_bytes * row_count() * mat_count();

    kmr_sp_push();
    data = static_cast<T *>(bytes == 0 ? kmr_sp_get() : kmr_sp_malloc_nodebug(bytes));
    if (data == nullptr)
        _internal::report_failed_allocation(bytes);
    // clang-format off
    KMR_VEC_ASSERT(data!=NULL);  // the report names this expression as written
    // clang-format on

    // The copy is the clone's own business: it ignores any masked region.
    _internal::assignment<T, dim>::assign(data, shape(), other, size, _internal::IGNORE_REGION);
}

template <typename T, int dim>
Vector<T, dim>::Vector(const Vector &other) : Vector(other, CLONE)
{}

template <typename T, int dim>
Vector<T, dim>::~Vector()
{
    if (!dont_pop) {
        kmr_sp_pop();
    }
}

template <typename T, int dim>
void *Vector<T, dim>::operator new(size_t bytes)
{
    return ::operator new(bytes);
}

template <typename T, int dim>
void Vector<T, dim>::operator delete(void *p)
{
    ::operator delete(p);
}

// ---------------------------------------------------------------------------
// Assignment.

template <typename T, int dim>
template <typename Src>
Vector<T, dim> &Vector<T, dim>::assign_from(const Src &src, size_t vlen)
{
    _internal::assignment<T, dim>::assign(data, shape(), src, vlen);
    cmv = VCMV_NZ;
    return *this;
}

template <typename T, int dim>
Vector<T, dim> &Vector<T, dim>::operator=(const Vector &rhs)
{
    return this->operator=<T>(rhs);
}

template <typename T, int dim>
template <typename U>
Vector<T, dim> &Vector<T, dim>::operator=(const Vector<U, dim> &rhs)
{
    return assign_from(rhs, size);
}

template <typename T, int dim>
Vector<T, dim> &Vector<T, dim>::operator=(kmr_word_t rhs)
{
    return assign_from(rhs, size);
}

template <typename T, int dim>
Vector<T, dim> &Vector<T, dim>::operator=(const enum_t &rhs)
{
    return assign_from(rhs, size);
}

template <typename T, int dim>
template <typename lhs_t, typename rhs_t, vinstr_t instr, typename btype, int dim1, acc_choice acc>
Vector<T, dim> &Vector<T, dim>::operator=(const _internal::bin_op<lhs_t, rhs_t, instr, btype, dim1, acc> &rhs)
{
    const size_t n = acc == IS_ACC ? _internal::operand_length(rhs) : 0;
    return assign_from(rhs, n != 0 ? n : size);
}

template <typename T, int dim>
template <typename Cond, typename X, typename Y>
Vector<T, dim> &Vector<T, dim>::operator=(const select_op<Cond, X, Y> &rhs)
{
    return assign_from(rhs, size);
}

template <typename T>
template <typename lhs_t, typename rhs_t, vinstr_t instr, typename btype, int dim1, acc_choice acc>
accum_t<T> &accum_t<T>::operator=(const _internal::bin_op<lhs_t, rhs_t, instr, btype, dim1, acc> &rhs)
{
    static_assert(dim1 == 1 || dim1 == -1, "only one-dimensional expressions are summed into an element");
    const size_t n = _internal::operand_length(rhs);
    _internal::assignment<T, 1>::assign(elem, _internal::shape_t{0, 0, 0, 0}, _internal::accumulating(rhs),
                                        n != 0 ? n : vlen);
    return *this;
}

template <typename T>
template <typename U>
accum_t<T> &accum_t<T>::operator=(const Vector<U, 1> &rhs)
{
    _internal::assignment<T, 1>::assign(elem, _internal::shape_t{0, 0, 0, 0}, sum(rhs), rhs.size);
    return *this;
}

// ---------------------------------------------------------------------------
// Views.

template <typename T, int dim>
Vector<T, 1> Vector<T, dim>::operator[](const range_t &r) const
{
    KMR_VEC_ASSERT(0 <= r.from && r.from <= r.to && static_cast<size_t>(r.to) <= size);
    return Vector<T, 1>(data + r.from, static_cast<size_t>(r.to - r.from), 0, 0, 0, 0, VCMV_NZ, true);
}

template <typename T, int dim>
Vector<T, 2> Vector<T, dim>::operator[](const range2D_t &r) const
{
    const range_t &c = r.cols;
    const range_t &w = r.rows;
    KMR_VEC_ASSERT(0 <= c.from && c.from <= c.to && static_cast<size_t>(c.to) <= size);
    KMR_VEC_ASSERT(0 <= w.from && w.from <= w.to && static_cast<size_t>(w.to) <= row_count());
    return Vector<T, 2>(row_ptr(0, static_cast<size_t>(w.from)) + c.from, static_cast<size_t>(c.to - c.from),
                        static_cast<size_t>(w.to - w.from), increment2, 0, 0, VCMV_NZ, true);
}

template <typename T, int dim>
accum_t<T> Vector<T, dim>::operator[](int i) const
{
    KMR_VEC_ASSERT(0 <= i && static_cast<size_t>(i) < size);
    return accum_t<T>(data + i, size);
}

template <typename T, int dim>
Vector<T, 1> Vector<T, dim>::to1D(int sz) const
{
    KMR_VEC_ASSERT(sz >= 0);
    return Vector<T, 1>(data, static_cast<size_t>(sz), 0, 0, 0, 0, VCMV_NZ, true);
}

template <typename T, int dim>
Vector<T, 1> Vector<T, dim>::get_row(int r) const
{
    KMR_VEC_ASSERT(0 <= r && static_cast<size_t>(r) < row_count() * mat_count());
    const size_t per_mat = row_count();
    return Vector<T, 1>(row_ptr(static_cast<size_t>(r) / per_mat, static_cast<size_t>(r) % per_mat), size, 0, 0, 0, 0,
                        VCMV_NZ, true);
}

template <typename T, int dim>
Vector<T, 2> Vector<T, dim>::to2D(int sz, int rows_, int incr2) const
{
    KMR_VEC_ASSERT(sz >= 0 && rows_ >= 0);
    return Vector<T, 2>(data, static_cast<size_t>(sz), static_cast<size_t>(rows_), incr2 * static_cast<int>(sizeof(T)),
                        0, 0, VCMV_NZ, true);
}

template <typename T, int dim>
Vector<T, 3> Vector<T, dim>::to3D(int sz, int rows_, int incr2, int mats_, int incr3) const
{
    KMR_VEC_ASSERT(sz >= 0 && rows_ >= 0 && mats_ >= 0);
    return Vector<T, 3>(data, static_cast<size_t>(sz), static_cast<size_t>(rows_), incr2 * static_cast<int>(sizeof(T)),
                        static_cast<size_t>(mats_), incr3 * static_cast<int>(sizeof(T)), VCMV_NZ, true);
}

template <typename T, int dim>
Vector<T, 1> Vector<T, dim>::flag_view(vinstr_t condition) const
{
    T *flags = static_cast<T *>(get_flg_addr(data));
    return Vector<T, 1>(flags, size, rows, increment2, mats, increment3, condition, true);
}

template <typename T, int dim>
Vector<T, 1> Vector<T, dim>::fs() const
{
    return flag_view(VCMV_NZ);
}

template <typename T, int dim>
Vector<T, 1> Vector<T, dim>::fc() const
{
    return flag_view(VCMV_Z);
}

template <typename T, int dim>
Vector<T, 1> Vector<T, dim>::overflow() const
{
    return flag_view(VCMV_NZ);
}

template <typename T, int dim>
Vector<T, 1> Vector<T, dim>::carry() const
{
    return flag_view(VCMV_NZ);
}

// ---------------------------------------------------------------------------
// DMA and printing.

template <typename T, int dim>
void Vector<T, dim>::dma_read(T *src, int n)
{
    dma_read(static_cast<const T *>(src), n);
}

template <typename T, int dim>
void Vector<T, dim>::dma_read(const T *src, int n)
{
    KMR_VEC_ASSERT(0 <= n && static_cast<size_t>(n) <= size);
    const size_t bytes = static_cast<size_t>(n) * sizeof(T);
    if (bytes == 0) {
        return;
    }
    for (size_t m = 0; m < mat_count(); ++m) {
        for (size_t r = 0; r < row_count(); ++r) {
            sim_dma_to_vector(row_ptr(m, r), src, bytes);
            src += n;
        }
    }
}

template <typename T, int dim>
void Vector<T, dim>::dma_write(T *dst, int n)
{
    KMR_VEC_ASSERT(0 <= n && static_cast<size_t>(n) <= size);
    const size_t bytes = static_cast<size_t>(n) * sizeof(T);
    if (bytes == 0) {
        return;
    }
    for (size_t m = 0; m < mat_count(); ++m) {
        for (size_t r = 0; r < row_count(); ++r) {
            sim_dma_to_host(dst, row_ptr(m, r), bytes);
            dst += n;
        }
    }
}

template <typename T, int dim>
void Vector<T, dim>::printVec() const
{
    kmr_sync();
    for (size_t m = 0; m < mat_count(); ++m) {
        for (size_t r = 0; r < row_count(); ++r) {
            const T *row = row_ptr(m, r);
            for (size_t i = 0; i < size; ++i) {
                if (std::is_same<typename canonical<T>::type, uint32_t>::value) {
                    printf("%8u,", static_cast<unsigned>(row[i]));
                } else {
                    printf("%8d,", static_cast<int>(row[i]));
                }
            }
            puts("\b \b");
        }
    }
}

}  // namespace KMR
