// A small stand-in for one of the two rendering libraries, with every export of its list, for
// the loader's tests: KV_STUB_PELIX builds the renderer, otherwise the canvas library. The build
// makes variants with one export hidden by a version script. Every export answers zero.
#include <type_traits>

#include "sdk/thirdLibrary.h"

namespace {

template <typename T>
T zero() {
    if constexpr (!std::is_void_v<T>) return T{};
}

}  // namespace

#define KV_STUB_EXPORT(name, result, params) \
    __attribute__((visibility("default"))) result name params { return zero<result>(); }

extern "C" {
#if defined(KV_STUB_PELIX)
KV_PELIX_EXPORTS(KV_STUB_EXPORT)
#else
KV_QX_EXPORTS(KV_STUB_EXPORT)
KV_QX_OPTIONAL_EXPORTS(KV_STUB_EXPORT)
#endif
}
