// Native-library calls over dlopen, the library name map and the desktop
// window.
#include <dlfcn.h>
#include <odbcinst.h>

#include <cstring>
#include <map>
#include <mutex>

#include "internal.h"
#include "kivwin/win.h"
#include "xpp/error.h"
#include "xpp/native.h"

extern "C" __attribute__((visibility("default"))) void* GetDesktopWindow(void) {
    static ODBCINSTWND desktop{};
    return &desktop;
}

extern "C" __attribute__((visibility("default"))) void* GetModuleHandleA(const char* name) {
    return reinterpret_cast<void*>(static_cast<intptr_t>(xpp::ModuleHandle(name ? name : "")));
}

namespace xpp {

namespace {

struct Prepared {
    int64_t library;
    int mode;
    void* address;
};

struct NativeState {
    std::mutex lock;
    std::map<std::string, std::string> names;  // upper-case name -> file
    struct Library {
        void* dl;
        int loads;
    };
    std::map<int64_t, Library> libraries;  // handle -> dlopen handle, DllLoad count
    std::map<int64_t, void*> modules;      // handles GetModuleHandleA gave out (held for good)
    std::map<int64_t, Prepared> calls;
    int64_t nextCall = 1;
};

std::string OwnFolder() {
    std::string self = kivwin::ModuleFileName(reinterpret_cast<const void*>(&GetDesktopWindow));
    size_t slash = self.find_last_of('/');
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

NativeState& Native() {
    static auto* st = [] {
        auto* s = new NativeState;
        s->names["ODBC32.DLL"] = "libodbc.so.2";
        s->names["QEL32.DLL"] = OwnFolder() + "/libqel32.so";
        s->names["USER32.DLL"] = kivwin::ModuleFileName(reinterpret_cast<const void*>(&GetDesktopWindow));
        s->names["KERNEL32.DLL"] = s->names["USER32.DLL"];
        return s;
    }();
    return *st;
}

}  // namespace

void MapLibrary(std::string_view name, std::string file) {
    auto& st = Native();
    std::lock_guard<std::mutex> g(st.lock);
    st.names[detail::UpperAscii(name)] = std::move(file);
}

std::string MappedLibrary(std::string_view name) {
    auto& st = Native();
    std::lock_guard<std::mutex> g(st.lock);
    auto it = st.names.find(detail::UpperAscii(name));
    return it == st.names.end() ? std::string(name) : it->second;
}

int64_t DllLoad(std::string_view name) {
    std::string file = MappedLibrary(name);
    // RTLD_NODELETE: after DllUnload the code stays mapped, so an address a
    // caller copied out of a prepared call, or a handler the library left
    // with the C runtime, never points into unmapped memory
    void* h = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!h) return 0;
    auto& st = Native();
    std::lock_guard<std::mutex> g(st.lock);
    auto id = static_cast<int64_t>(reinterpret_cast<intptr_t>(h));
    auto& lib = st.libraries[id];
    lib.dl = h;
    ++lib.loads;
    return id;
}

bool DllUnload(int64_t handle) {
    void* h = nullptr;
    {
        auto& st = Native();
        std::lock_guard<std::mutex> g(st.lock);
        auto it = st.libraries.find(handle);
        if (it == st.libraries.end()) return false;
        h = it->second.dl;
        // dlopen counts loads: the handle and its prepared calls stay valid
        // while another DllLoad of the same library holds it
        if (--it->second.loads == 0) {
            for (auto c = st.calls.begin(); c != st.calls.end();)
                c = c->second.library == handle ? st.calls.erase(c) : std::next(c);
            st.libraries.erase(it);
        }
    }
    return dlclose(h) == 0;
}

int64_t ModuleHandle(std::string_view name) {
    void* h = nullptr;
    if (name.empty()) {
        h = dlopen(nullptr, RTLD_NOW);  // the program itself
    } else {
        // RTLD_NOLOAD: only a library the process holds already; nothing is loaded
        std::string file = MappedLibrary(name);
        h = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    }
    if (!h) return 0;
    auto id = static_cast<int64_t>(reinterpret_cast<intptr_t>(h));
    auto& st = Native();
    std::lock_guard<std::mutex> g(st.lock);
    // one reference per handle is kept for the life of the process, as a
    // module handle needs no release
    if (!st.modules.emplace(id, h).second) dlclose(h);
    return id;
}

int64_t DllPrepareCall(int64_t handle, int mode, std::string_view function) {
    auto& st = Native();
    std::lock_guard<std::mutex> g(st.lock);
    void* dl = nullptr;
    if (auto it = st.libraries.find(handle); it != st.libraries.end()) dl = it->second.dl;
    else if (auto m = st.modules.find(handle); m != st.modules.end()) dl = m->second;
    if (!dl) return 0;
    void* address = dlsym(dl, std::string(function).c_str());
    if (!address) return 0;
    int64_t id = st.nextCall++;
    st.calls[id] = Prepared{handle, mode, address};
    return id;
}

void* DllCallAddress(int64_t prepared) {
    auto& st = Native();
    std::lock_guard<std::mutex> g(st.lock);
    auto it = st.calls.find(prepared);
    return it == st.calls.end() ? nullptr : it->second.address;
}

Value DllExecuteCall(int64_t prepared, Args args) {
    void* address = DllCallAddress(prepared);
    if (!address) return RuntimeError(EG_ARG, 1001, "DLLEXECUTECALL", Array{prepared});
    constexpr size_t kMax = 16;
    if (args.PCount() > kMax) return RuntimeError(EG_ARG, 1001, "DLLEXECUTECALL", Array{prepared});

    uint64_t regs[kMax] = {};
    std::vector<std::string> texts(args.PCount());  // texts passed by value: copies the callee may touch
    std::vector<int64_t> cells(args.PCount());      // numbers passed by reference
    for (size_t i = 1; i <= args.PCount(); ++i) {
        Value v = args.Get(i);
        size_t k = i - 1;
        switch (v.Type()) {
            case 'U': regs[k] = 0; break;
            case 'L': regs[k] = v.Log() ? 1 : 0; break;
            case 'N':
                if (args.IsRef(i)) {
                    cells[k] = v.Int();
                    regs[k] = reinterpret_cast<uintptr_t>(&cells[k]);
                } else {
                    regs[k] = static_cast<uint64_t>(v.Int());
                }
                break;
            case 'C':
                if (args.IsRef(i)) {
                    // the caller's own variable: the callee fills it in place
                    std::string* own = args.Items()[k].GetRef().Cell()->MutableStr();
                    regs[k] = reinterpret_cast<uintptr_t>(own->data());
                } else {
                    texts[k] = v.Str();
                    regs[k] = reinterpret_cast<uintptr_t>(texts[k].data());
                }
                break;
            default: return RuntimeError(EG_ARG, 1001, "DLLEXECUTECALL", Array{v});
        }
    }
    using Fn = uint64_t (*)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                            uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t);
    auto fn = reinterpret_cast<Fn>(address);
    uint64_t r = fn(regs[0], regs[1], regs[2], regs[3], regs[4], regs[5], regs[6], regs[7], regs[8], regs[9],
                    regs[10], regs[11], regs[12], regs[13], regs[14], regs[15]);
    for (size_t i = 1; i <= args.PCount(); ++i) {
        if (!args.IsRef(i)) continue;
        if (args.Get(i).IsNum()) args.Put(i, cells[i - 1]);
    }
    return static_cast<int64_t>(r);
}

Value DllCall(const Value& library, int mode, std::string_view function, Args args) {
    int64_t handle = 0;
    bool loaded = false;
    if (library.IsChar()) {
        handle = DllLoad(library.Str());
        loaded = handle != 0;
    } else if (library.IsNum()) {
        handle = library.Int();
    }
    if (!handle) return Value();
    Value result;
    int64_t call = DllPrepareCall(handle, mode, function);
    if (call) result = DllExecuteCall(call, std::move(args));
    if (loaded) DllUnload(handle);
    else if (call) {
        auto& st = Native();
        std::lock_guard<std::mutex> g(st.lock);
        st.calls.erase(call);
    }
    return result;
}

}  // namespace xpp
