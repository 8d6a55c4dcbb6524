// Address symbolisation with elfutils' libdwfl, loaded at run time: the
// simulator library then has no link-time dependency, and a program on a
// machine without libdw still runs (its reports show symbol names from the
// dynamic symbol table, or bare addresses).
#include "symbolize.hpp"

#include <cxxabi.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>

#if __has_include(<elfutils/libdwfl.h>)
#include <dwarf.h>
#include <elfutils/libdwfl.h>
#define KMRSIM_HAVE_LIBDWFL 1
#else
#define KMRSIM_HAVE_LIBDWFL 0
#endif

namespace {

std::string demangle(const char *name)
{
    int status = 0;
    char *d = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (d == nullptr)
        return name;
    std::string s(d);
    std::free(d);
    return s;
}

#if KMRSIM_HAVE_LIBDWFL

// The libdwfl calls used here, resolved from libdw.so.1.
struct dwfl_api {
    decltype(&::dwfl_begin) begin;
    decltype(&::dwfl_end) end;
    decltype(&::dwfl_linux_proc_report) proc_report;
    decltype(&::dwfl_report_begin) report_begin;
    decltype(&::dwfl_report_end) report_end;
    decltype(&::dwfl_addrmodule) addrmodule;
    decltype(&::dwfl_module_addrname) addrname;
    decltype(&::dwfl_module_getsrc) getsrc;
    decltype(&::dwfl_lineinfo) lineinfo;
    decltype(&::dwfl_module_info) module_info;
    // For the chain of inlined functions (optional: without them the
    // chain stays empty).
    decltype(&::dwfl_module_addrdie) addrdie;
    decltype(&::dwarf_getscopes) getscopes;
    decltype(&::dwarf_getscopes_die) getscopes_die;
    decltype(&::dwarf_tag) tag;
    decltype(&::dwarf_attr_integrate) attr_integrate;
    decltype(&::dwarf_formstring) formstring;
    decltype(&::dwarf_formudata) formudata;
    decltype(&::dwarf_getsrcfiles) getsrcfiles;
    decltype(&::dwarf_filesrc) filesrc;
    bool have_scopes = false;
    Dwfl_Callbacks callbacks;
    Dwfl *session = nullptr;
    bool loaded = false;
};

template <typename F>
bool resolve(void *lib, const char *name, F &out)
{
    out = reinterpret_cast<F>(dlsym(lib, name));
    return out != nullptr;
}

dwfl_api *load_dwfl()
{
    static dwfl_api api;
    static bool tried = false;
    if (tried)
        return api.loaded ? &api : nullptr;
    tried = true;
    void *lib = dlopen("libdw.so.1", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr)
        return nullptr;
    using find_elf_fn = decltype(api.callbacks.find_elf);
    using find_debuginfo_fn = decltype(api.callbacks.find_debuginfo);
    find_elf_fn find_elf = nullptr;
    find_debuginfo_fn find_debuginfo = nullptr;
    const bool ok = resolve(lib, "dwfl_begin", api.begin) && resolve(lib, "dwfl_end", api.end) &&
                    resolve(lib, "dwfl_linux_proc_report", api.proc_report) &&
                    resolve(lib, "dwfl_report_begin", api.report_begin) &&
                    resolve(lib, "dwfl_report_end", api.report_end) &&
                    resolve(lib, "dwfl_addrmodule", api.addrmodule) &&
                    resolve(lib, "dwfl_module_addrname", api.addrname) &&
                    resolve(lib, "dwfl_module_getsrc", api.getsrc) &&
                    resolve(lib, "dwfl_lineinfo", api.lineinfo) &&
                    resolve(lib, "dwfl_module_info", api.module_info) &&
                    resolve(lib, "dwfl_linux_proc_find_elf", find_elf) &&
                    resolve(lib, "dwfl_standard_find_debuginfo", find_debuginfo);
    if (!ok)
        return nullptr;
    api.have_scopes =
        resolve(lib, "dwfl_module_addrdie", api.addrdie) && resolve(lib, "dwarf_getscopes", api.getscopes) &&
        resolve(lib, "dwarf_getscopes_die", api.getscopes_die) && resolve(lib, "dwarf_tag", api.tag) &&
        resolve(lib, "dwarf_attr_integrate", api.attr_integrate) && resolve(lib, "dwarf_formstring", api.formstring) &&
        resolve(lib, "dwarf_formudata", api.formudata) &&
        resolve(lib, "dwarf_getsrcfiles", api.getsrcfiles) && resolve(lib, "dwarf_filesrc", api.filesrc);
    api.callbacks = {};
    api.callbacks.find_elf = find_elf;
    api.callbacks.find_debuginfo = find_debuginfo;
    api.loaded = true;
    return &api;
}

// The session over the process's current mappings; made again when an
// address falls outside every module it knows (a library loaded since).
Dwfl *session(dwfl_api &api, bool refresh)
{
    if (api.session != nullptr && !refresh)
        return api.session;
    if (api.session != nullptr)
        api.end(api.session);
    api.session = api.begin(&api.callbacks);
    if (api.session == nullptr)
        return nullptr;
    api.report_begin(api.session);
    if (api.proc_report(api.session, getpid()) != 0 || api.report_end(api.session, nullptr, nullptr) != 0) {
        api.end(api.session);
        api.session = nullptr;
    }
    return api.session;
}

// The name of a function scope (an out-of-line or an inlined instance):
// the demangled linkage name when there is one, else the plain name.
std::string scope_function(dwfl_api &api, Dwarf_Die *die)
{
    Dwarf_Attribute attr;
    if (Dwarf_Attribute *a = api.attr_integrate(die, DW_AT_linkage_name, &attr))
        if (const char *s = api.formstring(a))
            return demangle(s);
    if (Dwarf_Attribute *a = api.attr_integrate(die, DW_AT_name, &attr))
        if (const char *s = api.formstring(a))
            return s;
    return {};
}

// Fills out.frames from the scopes around pc: each inlined instance's call
// line is the line being executed in the function around it.
void inline_chain(dwfl_api &api, Dwfl_Module *mod, uintptr_t pc, kmrsim::source_location &out)
{
    Dwarf_Addr bias = 0;
    Dwarf_Die *cu = api.addrdie(mod, pc, &bias);
    if (cu == nullptr)
        return;
    // The scopes around pc go from an inlined instance on to the scopes of
    // its abstract definition; the scopes that hold the instance itself,
    // up to the function it was inlined into, come from the instance's DIE.
    Dwarf_Die *around = nullptr;
    const int n_around = api.getscopes(cu, pc - bias, &around);
    if (n_around <= 0)
        return;
    int first = 0;
    while (first < n_around && api.tag(&around[first]) != DW_TAG_inlined_subroutine &&
           api.tag(&around[first]) != DW_TAG_subprogram)
        ++first;
    Dwarf_Die *scopes = nullptr;
    const int n = first < n_around ? api.getscopes_die(&around[first], &scopes) : -1;
    std::free(around);
    if (n <= 0)
        return;
    Dwarf_Files *files = nullptr;
    size_t nfiles = 0;
    if (api.getsrcfiles(cu, &files, &nfiles) != 0)
        files = nullptr;
    std::string file = out.file;
    int line = out.line;
    for (int i = 0; i < n; ++i) {
        const int tag = api.tag(&scopes[i]);
        if (tag != DW_TAG_inlined_subroutine && tag != DW_TAG_subprogram)
            continue;
        out.frames.push_back({scope_function(api, &scopes[i]), file, line});
        if (tag == DW_TAG_subprogram)
            break;
        // The call of this inlined instance, in the function around it.
        Dwarf_Attribute attr;
        Dwarf_Word call_file = 0, call_line = 0;
        Dwarf_Attribute *f = api.attr_integrate(&scopes[i], DW_AT_call_file, &attr);
        const bool has_file = f != nullptr && api.formudata(f, &call_file) == 0;
        Dwarf_Attribute *l = api.attr_integrate(&scopes[i], DW_AT_call_line, &attr);
        const bool has_line = l != nullptr && api.formudata(l, &call_line) == 0;
        const char *name = has_file && files != nullptr && call_file < nfiles
                               ? api.filesrc(files, call_file, nullptr, nullptr)
                               : nullptr;
        file = name != nullptr ? name : "";
        line = has_line ? static_cast<int>(call_line) : 0;
    }
    std::free(scopes);
}

bool symbolize_dwfl(uintptr_t pc, kmrsim::source_location &out)
{
    dwfl_api *api = load_dwfl();
    if (api == nullptr)
        return false;
    Dwfl *d = session(*api, false);
    Dwfl_Module *mod = d != nullptr ? api->addrmodule(d, pc) : nullptr;
    if (mod == nullptr) {
        d = session(*api, true);
        mod = d != nullptr ? api->addrmodule(d, pc) : nullptr;
    }
    if (mod == nullptr)
        return false;
    const char *object = api->module_info(mod, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (object != nullptr)
        out.object = object;
    if (const char *name = api->addrname(mod, pc))
        out.function = demangle(name);
    if (Dwfl_Line *line = api->getsrc(mod, pc)) {
        int lineno = 0;
        if (const char *file = api->lineinfo(line, nullptr, &lineno, nullptr, nullptr, nullptr)) {
            out.file = file;
            out.line = lineno;
        }
    }
    if (api->have_scopes)
        inline_chain(*api, mod, pc, out);
    return true;
}

#endif

bool symbolize_dladdr(uintptr_t pc, kmrsim::source_location &out)
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(pc), &info) == 0)
        return false;
    if (info.dli_fname != nullptr)
        out.object = info.dli_fname;
    if (info.dli_sname != nullptr)
        out.function = demangle(info.dli_sname);
    return true;
}

}  // namespace

const kmrsim::inline_frame *kmrsim::program_frame(const source_location &loc)
{
    static std::map<std::string, bool> api_dirs;  // directory -> holds kmr_api.h
    for (const inline_frame &f : loc.frames) {
        if (f.file.empty())
            continue;
        const size_t slash = f.file.rfind('/');
        const std::string dir = slash == std::string::npos ? std::string(".") : f.file.substr(0, slash);
        auto it = api_dirs.find(dir);
        if (it == api_dirs.end())
            it = api_dirs.emplace(dir, access((dir + "/kmr_api.h").c_str(), F_OK) == 0).first;
        if (!it->second)
            return &f;
    }
    return nullptr;
}

bool kmrsim::symbolize(const void *return_address, source_location &out)
{
    out = source_location{};
    if (return_address == nullptr)
        return false;
    // The byte before the return address belongs to the call instruction,
    // whose line is the one the program wrote.
    const uintptr_t pc = reinterpret_cast<uintptr_t>(return_address) - 1;
#if KMRSIM_HAVE_LIBDWFL
    if (symbolize_dwfl(pc, out))
        return true;
#endif
    return symbolize_dladdr(pc, out);
}
