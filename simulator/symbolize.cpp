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

#if __has_include(<elfutils/libdwfl.h>)
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
