#include "driver/this_cpu.hpp"

#include <cstdint>
#include <cstdio>
#include <vector>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define ZEL_X86 1
#if defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#elif defined(__linux__)
#include <sys/auxv.h>
#endif

namespace zel {
namespace {

std::string hex_words(const char *kind, const std::vector<uint64_t> &words) {
    std::string text = kind;
    char word[24];
    for (uint64_t value : words) {
        std::snprintf(word, sizeof word, ":%llx", static_cast<unsigned long long>(value));
        text += word;
    }
    return text;
}

#ifdef ZEL_X86
struct Registers {
    uint32_t a = 0, b = 0, c = 0, d = 0;
};

Registers cpuid(uint32_t leaf, uint32_t subleaf = 0) {
    Registers r;
#if defined(_MSC_VER)
    int out[4];
    __cpuidex(out, static_cast<int>(leaf), static_cast<int>(subleaf));
    r = {static_cast<uint32_t>(out[0]), static_cast<uint32_t>(out[1]),
         static_cast<uint32_t>(out[2]), static_cast<uint32_t>(out[3])};
#else
    __cpuid_count(leaf, subleaf, r.a, r.b, r.c, r.d);
#endif
    return r;
}

// The register states the operating system saves (AVX, AVX-512): without them the
// processor's AVX instructions fault.
uint64_t enabled_states(const Registers &leaf1) {
    const uint32_t osxsave = 1u << 27;
    if (!(leaf1.c & osxsave))
        return 0;
#if defined(_MSC_VER)
    return _xgetbv(0);
#else
    uint32_t low, high;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<uint64_t>(high) << 32) | low;
#endif
}
#endif

} // namespace

std::string this_cpu() {
#ifdef ZEL_X86
    Registers vendor = cpuid(0);
    char name[13] = {};
    for (int i = 0; i < 4; ++i) {
        name[i] = static_cast<char>(vendor.b >> (8 * i));
        name[4 + i] = static_cast<char>(vendor.d >> (8 * i));
        name[8 + i] = static_cast<char>(vendor.c >> (8 * i));
    }
    Registers leaf1 = cpuid(1);
    std::vector<uint64_t> words = {leaf1.a, leaf1.c, leaf1.d, enabled_states(leaf1)};
    if (vendor.a >= 7) {
        Registers leaf7 = cpuid(7);
        Registers leaf7_1 = cpuid(7, 1);
        words.insert(words.end(), {leaf7.b, leaf7.c, leaf7.d, leaf7_1.a});
    }
    if (cpuid(0x80000000).a >= 0x80000001) {
        Registers extended = cpuid(0x80000001);
        words.insert(words.end(), {extended.c, extended.d});
    }
    return hex_words(name, words);
#elif defined(__linux__)
    std::vector<uint64_t> words = {getauxval(AT_HWCAP)};
#ifdef AT_HWCAP2
    words.push_back(getauxval(AT_HWCAP2));
#endif
    return hex_words("hwcap", words);
#else
    return "unknown";
#endif
}

} // namespace zel
