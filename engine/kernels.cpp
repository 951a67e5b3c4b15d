#include "kernels.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace coatedmie {

namespace {

VectorPath widestSupported() {
    if (vectorPathSupported(VectorPath::avx512)) return VectorPath::avx512;
    if (vectorPathSupported(VectorPath::avx2)) return VectorPath::avx2;
    return VectorPath::portable;
}

// COATEDMIE_VECTOR_PATH caps the path: one the processor does not run, or a
// name it does not know, leaves the widest it runs.
VectorPath initialPath() {
    VectorPath path = widestSupported();
    const char* name = std::getenv("COATEDMIE_VECTOR_PATH");
    VectorPath named;
    if (name != nullptr && vectorPathFromName(name, named) && vectorPathSupported(named)) path = named;
    return path;
}

std::atomic<const Kernels*>& current() {
    static std::atomic<const Kernels*> kernels{&kernelsFor(initialPath())};
    return kernels;
}

}  // namespace

const Kernels& kernelsFor(VectorPath path) {
    static const Kernels tables[kPathCount] = {
        {VectorPath::portable, 2, kFillTablesKernels[0], kSeriesOrdersKernels[0], kSumOrdersKernels[0],
         kAngularKernels[0], kLegendreMomentsKernels[0]},
        {VectorPath::avx2, 4, kFillTablesKernels[1], kSeriesOrdersKernels[1], kSumOrdersKernels[1],
         kAngularKernels[1], kLegendreMomentsKernels[1]},
        {VectorPath::avx512, 8, kFillTablesKernels[2], kSeriesOrdersKernels[2], kSumOrdersKernels[2],
         kAngularKernels[2], kLegendreMomentsKernels[2]},
    };
    return tables[static_cast<int>(path)];
}

const Kernels& kernels() { return *current().load(std::memory_order_relaxed); }

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

bool vectorPathFromName(const char* name, VectorPath& path) {
    for (VectorPath p : {VectorPath::portable, VectorPath::avx2, VectorPath::avx512}) {
        if (std::strcmp(name, vectorPathName(p)) == 0) {
            path = p;
            return true;
        }
    }
    return false;
}

bool vectorPathSupported(VectorPath path) {
    switch (path) {
        case VectorPath::portable:
            return true;
#ifdef COATEDMIE_X86_PATHS
        // These also check that the operating system saves the wide registers.
        case VectorPath::avx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
        case VectorPath::avx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f");
#endif
        default:
            return false;
    }
}

VectorPath vectorPath() { return kernels().path; }

bool setVectorPath(VectorPath path) {
    if (!vectorPathSupported(path)) return false;
    current().store(&kernelsFor(path), std::memory_order_relaxed);
    return true;
}

}  // namespace coatedmie
