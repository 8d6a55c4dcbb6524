/* Writes kmr_entry_points.h: every instruction entry point of the simulator
 * and every typed call of kmr_cproto.h as a full C prototype, one per line,
 * so that a name such as kmrsim_acc_2D_VVHWS can be found with grep or an
 * IDE. The headers generate those functions from the operand-mode list with
 * macros; this program expands the same lists, so the listing follows them.
 *
 * With a second file name it also writes the same names as a Markdown page
 * for the documentation.
 *
 * Usage: gen_entry_points HEADER [MARKDOWN] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kmr_cproto.h"
#include "kmr_sim.h"

#define STR_(...) #__VA_ARGS__
#define STR(...) STR_(__VA_ARGS__)

/* ------------------------------------------------------------------------
 * Everything this program takes from the headers' generating macros is in
 * this section; when the headers rename or extend them, only this section
 * changes.
 *
 * kmr_sim.h: KMRSIM_MODE_LIST(X) calls X(form, source width, destination
 * width, sign) once per operand mode; KMRSIM_ENTRY_LIST(X) calls X(name,
 * dimensions, acc, masked, form, sw, dw, sg) once per entry point;
 * KMRSIM_ARG_A_<form> and KMRSIM_ARG_B_<form> are the operand types and
 * KMRSIM_ELEM_<width><sign> the element types.
 *
 * kmr_cproto.h: KMR_CPROTO_FAMILY_LIST(X) calls X(family prefix, entry
 * prefix) once per typed-call family; KMR_CPROTO_PARAMS_<form>(element
 * type) are the A and B parameters of a typed call.
 * ---------------------------------------------------------------------- */

struct entry_point {
    const char *name;
    int dim;
    int acc;
    int masked;
    const char *a_type;
    const char *b_type;
};

#define GEN_ENTRY_(name, dim, acc, masked, f, sw, dw, sg) \
    {#name, dim, acc, masked, STR(KMRSIM_ARG_A_##f), STR(KMRSIM_ARG_B_##f)},

/* Every entry point, in the order of the list. A new entry-point family
 * added to the list appears here (and in the listing, under a heading of
 * its own) without a change to this program. */
static const struct entry_point entry_points[] = {KMRSIM_ENTRY_LIST(GEN_ENTRY_)};

struct mode {
    const char *name;                     /* the mode letters: SEBBS, VVWWU, ... */
    const char *dest_type;                /* destination element type of a typed call */
    const char *params;                   /* A and B parameters of a typed call */
    int form, src_width, dst_width, sign; /* the mode's codes */
};

#define GEN_MODE_(f, sw, dw, sg)                                                                      \
    {STR(f##sw##dw##sg), STR(KMRSIM_ELEM_##dw##sg), STR(KMR_CPROTO_PARAMS_##f(KMRSIM_ELEM_##sw##sg)), \
     KMRSIM_FORM_##f,    KMRSIM_WIDTH_##sw,         KMRSIM_WIDTH_##dw,                                \
     KMRSIM_SIGN_##sg},

static const struct mode modes[] = {KMRSIM_MODE_LIST(GEN_MODE_)};

/* Typed-call families of kmr_cproto.h, in its order: each defines one
 * static inline call per operand mode, named family prefix + mode letters,
 * taking (opcode, destination, A, B) with the mode's element types, and
 * issuing the entry point named entry prefix + mode letters. A family that
 * kmr_cproto.h adds to its list is listed without a change here; one it
 * defines outside the list needs one line after the list's expansion:
 * {"kmr_prefix_", "kmrsim_prefix_"}. The listing test reports a typed call
 * that kmr_cproto.h defines and the listing lacks. */
struct typed_family {
    const char *prefix;
    const char *entry_prefix;
};

#define GEN_TYPED_FAMILY_(fp, ep) {#fp, #ep},

static const struct typed_family typed_families[] = {KMR_CPROTO_FAMILY_LIST(GEN_TYPED_FAMILY_)};

/* ---------------------------------------------------------------------- */

#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

/* The family an entry point belongs to: its name without the mode letters
 * (kmrsim_acc_2D_VVHWS -> kmrsim_acc_2D_). Returns the prefix length. */
static size_t family_prefix_length(const char *name)
{
    const char *last = strrchr(name, '_');
    return last ? (size_t)(last - name) + 1 : 0;
}

static int has_prefix(const char *name, const char *prefix, size_t prefix_len)
{
    return family_prefix_length(name) == prefix_len && strncmp(name, prefix, prefix_len) == 0;
}

/* What the entry points of e's family do: "two-dimensional (REG_ROWS
 * rows), accumulating". */
static void describe_family(FILE *out, const struct entry_point *e)
{
    static const char *const dims[] = {"", "one-dimensional", "two-dimensional (REG_ROWS rows)",
                                       "three-dimensional (REG_MATS matrices of REG_ROWS rows)"};
    const char *dim = e->dim >= 1 && e->dim <= 3 ? dims[e->dim] : "other";
    fprintf(out, "%s%s%s", dim, e->masked ? ", masked" : "", e->acc ? ", accumulating" : "");
}

/* "void *" and "srcA" -> "void *srcA"; "int32_t" and "srcA" -> "int32_t srcA". */
static void write_parameter(FILE *out, const char *type, const char *name)
{
    size_t len = strlen(type);
    fprintf(out, "%s%s%s", type, len > 0 && type[len - 1] == '*' ? "" : " ", name);
}

static void write_entry_points(FILE *out)
{
    /* Families in order of first appearance, each family's entry points in
     * mode order. */
    unsigned char *done = calloc(COUNT(entry_points), 1);
    if (done == NULL) {
        fprintf(stderr, "Error: out of memory\n");
        exit(1);
    }
    fprintf(out, "\n/* ---- Instruction entry points (%u) ----\n", (unsigned)COUNT(entry_points));
    fprintf(out, " * Each takes (mode, opcode, destination, A, B); the mode argument is not\n"
                 " * read. A vector operand is a scratchpad address, a scalar and the\n"
                 " * enumeration operand are 32-bit integers (pass 0 for the enumeration). */\n");
    for (size_t i = 0; i < COUNT(entry_points); ++i) {
        if (done[i])
            continue;
        const char *prefix = entry_points[i].name;
        size_t len = family_prefix_length(prefix);
        unsigned count = 0;
        for (size_t j = i; j < COUNT(entry_points); ++j)
            count += has_prefix(entry_points[j].name, prefix, len) != 0;
        fprintf(out, "\n/* %.*s<mode> (%u): ", (int)len, prefix, count);
        describe_family(out, &entry_points[i]);
        fputs(" */\n", out);
        for (size_t j = i; j < COUNT(entry_points); ++j) {
            const struct entry_point *e = &entry_points[j];
            if (!has_prefix(e->name, prefix, len))
                continue;
            fprintf(out, "void %s(kmrsim_vmode_t mode, vinstr_t instr, void *dest, ", e->name);
            write_parameter(out, e->a_type, "srcA");
            fputs(", ", out);
            write_parameter(out, e->b_type, "srcB");
            fputs(");\n", out);
            done[j] = 1;
        }
    }
    free(done);
}

static void write_typed_calls(FILE *out)
{
    fprintf(out, "\n/* ---- Typed calls (%u) ----\n", (unsigned)(COUNT(typed_families) * COUNT(modes)));
    fprintf(out, " * Inline functions of kmr_cproto.h, one per entry point, with the mode's\n"
                 " * element types: kmr_VVWWS(VADD, c, a, b) adds word vectors a and b into c\n"
                 " * through kmrsim_1D_VVWWS. */\n");
    for (size_t f = 0; f < COUNT(typed_families); ++f) {
        const struct typed_family *t = &typed_families[f];
        fprintf(out, "\n/* %s<mode> (%u): each issues %s<mode>", t->prefix, (unsigned)COUNT(modes), t->entry_prefix);
        for (size_t i = 0; i < COUNT(entry_points); ++i) {
            if (has_prefix(entry_points[i].name, t->entry_prefix, strlen(t->entry_prefix))) {
                fputs("; ", out);
                describe_family(out, &entry_points[i]);
                break;
            }
        }
        fputs(" */\n", out);
        for (size_t m = 0; m < COUNT(modes); ++m)
            fprintf(out, "static inline void %s%s(vinstr_t v_op, %s *v_out, %s);\n", t->prefix, modes[m].name,
                    modes[m].dest_type, modes[m].params);
    }
}

static void write_header(FILE *out)
{
    fprintf(out, "/* kmr_entry_points.h: generated by gen_entry_points when kmrsim is built,\n"
                 " * from the operand-mode list of kmr_sim.h and the typed calls of\n"
                 " * kmr_cproto.h; do not edit.\n"
                 " *\n"
                 " * Every instruction entry point of the simulator library and every typed\n"
                 " * call, written out in full, one per line. kmr_api.h already declares them\n"
                 " * all (through macros); this header is there to be read and searched, and\n"
                 " * including it after kmr_api.h changes nothing.\n"
                 " *\n"
                 " * Mode letters: form, source width, destination width, sign. Forms: SE\n"
                 " * (scalar A, enumeration B), SV (scalar A, vector B), VE (vector A,\n"
                 " * enumeration B), VV (vector A, vector B); widths: B 8-bit, H 16-bit,\n"
                 " * W 32-bit; sign: S signed, U unsigned. The mode value V_<mode> is a\n"
                 " * kmrsim_vmode_t. */\n"
                 "#ifndef KMR_ENTRY_POINTS_H\n"
                 "#define KMR_ENTRY_POINTS_H\n"
                 "\n"
                 "#include \"kmr_api.h\"\n"
                 "\n"
                 "#ifdef __cplusplus\n"
                 "extern \"C\" {\n"
                 "#endif\n");
    write_entry_points(out);
    write_typed_calls(out);
    fprintf(out, "\n"
                 "#ifdef __cplusplus\n"
                 "}\n"
                 "#endif\n"
                 "\n"
                 "#endif /* KMR_ENTRY_POINTS_H */\n");
}

/* A mode as table cells: operands, source bits, result bits, signedness. */
static void describe_mode(FILE *out, const struct mode *m)
{
    static const char *const forms[] = {
        [KMRSIM_FORM_SE] = "scalar A, enumeration B",
        [KMRSIM_FORM_SV] = "scalar A, vector B",
        [KMRSIM_FORM_VE] = "vector A, enumeration B",
        [KMRSIM_FORM_VV] = "vector A, vector B",
    };
    fprintf(out, "%s | %d | %d | %s", forms[m->form], 8 << m->src_width, 8 << m->dst_width,
            m->sign == KMRSIM_SIGN_S ? "signed" : "unsigned");
}

/* entry_points.md: the same names as a Markdown page, one table per
 * typed-call family, each row a mode with its typed call and entry point. */
static void write_markdown(FILE *out)
{
    fprintf(out,
            "# Entry points and typed calls\n\n"
            "Generated by `gen_entry_points` when kmrsim is built, from the operand-mode list\n"
            "of `kmr_sim.h` and the typed-call families of `kmr_cproto.h` (the lists the code\n"
            "is generated from): %u entry points and %u typed calls. `kmr_entry_points.h`\n"
            "holds the same names as C prototypes; `api.md` explains the naming.\n",
            (unsigned)COUNT(entry_points), (unsigned)(COUNT(typed_families) * COUNT(modes)));
    for (size_t f = 0; f < COUNT(typed_families); ++f) {
        const struct typed_family *t = &typed_families[f];
        fprintf(out, "\n## `%s<mode>`\n\n", t->prefix);
        for (size_t i = 0; i < COUNT(entry_points); ++i) {
            if (has_prefix(entry_points[i].name, t->entry_prefix, strlen(t->entry_prefix))) {
                fputs("Entry points ", out);
                fprintf(out, "`%s<mode>`: ", t->entry_prefix);
                describe_family(out, &entry_points[i]);
                fputs(".\n\n", out);
                break;
            }
        }
        fputs("| Typed call | Entry point | Operands | Source bits | Result bits | Elements |\n"
              "|---|---|---|---|---|---|\n",
              out);
        for (size_t m = 0; m < COUNT(modes); ++m) {
            fprintf(out, "| `%s%s` | `%s%s` | ", t->prefix, modes[m].name, t->entry_prefix, modes[m].name);
            describe_mode(out, &modes[m]);
            fputs(" |\n", out);
        }
    }
}

/* Writes one output through `write` to a temporary file beside it and
 * renames it into place, so that a failed run never leaves a partial file
 * behind. Returns 0 on success. */
static int write_file(const char *path, void (*write)(FILE *))
{
    size_t len = strlen(path);
    char *tmp = malloc(len + 5);
    if (tmp == NULL) {
        fprintf(stderr, "Error: out of memory\n");
        return 1;
    }
    memcpy(tmp, path, len);
    memcpy(tmp + len, ".tmp", 5);

    FILE *out = fopen(tmp, "w");
    if (out == NULL) {
        fprintf(stderr, "Error: cannot write %s\n", tmp);
        free(tmp);
        return 1;
    }
    write(out);
    int failed = ferror(out);
    if (fclose(out) != 0)
        failed = 1;
    if (failed || rename(tmp, path) != 0) {
        fprintf(stderr, "Error: cannot write %s\n", path);
        remove(tmp);
        free(tmp);
        return 1;
    }
    free(tmp);
    return 0;
}

/* Usage: gen_entry_points HEADER [MARKDOWN] */
int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: %s HEADER [MARKDOWN]\n", argv[0]);
        return 2;
    }
    if (write_file(argv[1], write_header) != 0)
        return 1;
    if (argc == 3 && write_file(argv[2], write_markdown) != 0)
        return 1;
    return 0;
}
