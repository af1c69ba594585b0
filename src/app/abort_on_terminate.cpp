// Linked into the release executable only (cmake/KeldrixRelease.cmake). libstdc++'s default
// terminate handler names the uncaught exception's type on standard error before it aborts,
// and to name it links the whole C++ demangler, a fifth of the executable. The helper has
// no standard error anyone reads, so it aborts the same way without the message.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
