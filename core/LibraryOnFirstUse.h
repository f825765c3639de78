#pragma once
// Libraries opened by the first call of one of their functions rather than when the program
// starts (libcrypto in core/CryptoOnFirstUse.cpp; pcsc-lite, hidapi and libudev in
// device/DeviceLibrariesOnFirstUse.cpp). Such a file defines each function the program calls
// under the library's own name and hands the call on; the compiler checks every definition
// against the library's declaration, and a function without one fails to link.
#include <dlfcn.h>

namespace tokvane {

// `file` is a soname or an absolute path. RTLD_LOCAL: the library's calls among its own functions
// stay inside it. If another part of the process loaded the library already, dlopen hands back
// that one. Null when it cannot be opened (dlerror says why).
inline void* OpenLibrary(const char* file) { return ::dlopen(file, RTLD_NOW | RTLD_LOCAL); }

template <typename Function>
Function FindInLibrary(void* library, const char* name) {
  return library != nullptr ? reinterpret_cast<Function>(::dlsym(library, name)) : nullptr;
}

}  // namespace tokvane

// Defines `name` to call the library's function of that name, found once; without the library
// (or the function) the call returns `fail`, the library's own way of reporting failure.
// `library` is an expression giving the library's handle, opened once.
#define TOKVANE_CALL_ON_FIRST_USE(library, type, name, fail, parameters, arguments)       \
  type name parameters {                                                                 \
    static const auto real = ::tokvane::FindInLibrary<decltype(&name)>((library), #name); \
    return real != nullptr ? real arguments : (fail);                                    \
  }
