#include "vector_paths.h"

namespace coatedmie {

namespace {

VectorPath widestSupportedPath() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
#endif
    if (vectorPathSupported(VectorPath::avx512)) return VectorPath::avx512;
    if (vectorPathSupported(VectorPath::avx2)) return VectorPath::avx2;
    return VectorPath::portable;
}

}  // namespace

const char* vectorPathName(VectorPath path) {
    switch (path) {
        case VectorPath::avx2:
            return "avx2";
        case VectorPath::avx512:
            return "avx512";
        default:
            return "portable";
    }
}

bool vectorPathSupported(VectorPath path) {
    switch (path) {
        case VectorPath::portable:
            return true;
#if defined(__x86_64__) || defined(__i386__)
        // These also check that the operating system saves the wide registers.
        case VectorPath::avx2:
            return __builtin_cpu_supports("avx2");
        case VectorPath::avx512:
            return __builtin_cpu_supports("avx512f");
#endif
        default:
            return false;
    }
}

VectorPath selectedVectorPath() {
    static const VectorPath selected = widestSupportedPath();
    return selected;
}

}  // namespace coatedmie
