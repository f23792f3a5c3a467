// lowpass_vector_rate: how many independent float32 vector multiplies and
// adds this processor carries out per nanosecond, 256 and 512 bits wide:
// the ceiling of the wide passes, which take one multiply and one add per
// tap and sample and may not fuse them. Sixteen accumulators, half of them
// multiplied and half added to on every step, so that no result waits for
// another; the median of many runs, each about 0.1 s. Prints one line per
// width, and the processor.
//   build/bench/bench/lowpass_vector_rate
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// 16 vector operations per step, `steps` steps. Written as instructions so
// that the compiler keeps every accumulator in a register of its own.
void MulAdd256(long steps) {
    __asm__ __volatile__(
        "vxorps %%xmm0, %%xmm0, %%xmm0\n"
        "1:\n"
        "vmulps %%ymm0, %%ymm1, %%ymm1\n vaddps %%ymm0, %%ymm2, %%ymm2\n"
        "vmulps %%ymm0, %%ymm3, %%ymm3\n vaddps %%ymm0, %%ymm4, %%ymm4\n"
        "vmulps %%ymm0, %%ymm5, %%ymm5\n vaddps %%ymm0, %%ymm6, %%ymm6\n"
        "vmulps %%ymm0, %%ymm7, %%ymm7\n vaddps %%ymm0, %%ymm8, %%ymm8\n"
        "vmulps %%ymm0, %%ymm9, %%ymm9\n vaddps %%ymm0, %%ymm10, %%ymm10\n"
        "vmulps %%ymm0, %%ymm11, %%ymm11\n vaddps %%ymm0, %%ymm12, %%ymm12\n"
        "vmulps %%ymm0, %%ymm13, %%ymm13\n vaddps %%ymm0, %%ymm14, %%ymm14\n"
        "vmulps %%ymm0, %%ymm15, %%ymm15\n vaddps %%ymm0, %%ymm1, %%ymm1\n"
        "dec %0\n jnz 1b\n"
        "vzeroupper\n"
        : "+r"(steps)
        :
        : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12",
          "xmm13", "xmm14", "xmm15", "cc");
}

void MulAdd512(long steps) {
    __asm__ __volatile__(
        "vxorps %%xmm0, %%xmm0, %%xmm0\n"
        "1:\n"
        "vmulps %%zmm0, %%zmm1, %%zmm1\n vaddps %%zmm0, %%zmm2, %%zmm2\n"
        "vmulps %%zmm0, %%zmm3, %%zmm3\n vaddps %%zmm0, %%zmm4, %%zmm4\n"
        "vmulps %%zmm0, %%zmm5, %%zmm5\n vaddps %%zmm0, %%zmm6, %%zmm6\n"
        "vmulps %%zmm0, %%zmm7, %%zmm7\n vaddps %%zmm0, %%zmm8, %%zmm8\n"
        "vmulps %%zmm0, %%zmm9, %%zmm9\n vaddps %%zmm0, %%zmm10, %%zmm10\n"
        "vmulps %%zmm0, %%zmm11, %%zmm11\n vaddps %%zmm0, %%zmm12, %%zmm12\n"
        "vmulps %%zmm0, %%zmm13, %%zmm13\n vaddps %%zmm0, %%zmm14, %%zmm14\n"
        "vmulps %%zmm0, %%zmm15, %%zmm15\n vaddps %%zmm0, %%zmm16, %%zmm16\n"
        "dec %0\n jnz 1b\n"
        "vzeroupper\n"
        : "+r"(steps)
        :
        : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12",
          "xmm13", "xmm14", "xmm15", "xmm16", "cc");
}

// Median vector operations per nanosecond over `runs` runs.
double Rate(void (*body)(long), int runs) {
    constexpr long kSteps = 20000000;  // 320 million operations, about 0.1 s
    body(kSteps / 10);                 // the processor at its working clock first
    std::vector<double> rates;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        body(kSteps);
        const auto end = std::chrono::steady_clock::now();
        rates.push_back(16.0 * kSteps / std::chrono::duration<double, std::nano>(end - start).count());
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

std::string Processor() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

}  // namespace

int main() {
    std::printf("processor: %s\n", Processor().c_str());
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) {
        std::printf("no AVX2: nothing to measure\n");
        return 0;
    }
    const double ymm = Rate(MulAdd256, 15);
    std::printf("256-bit vmulps and vaddps, independent: %.2f per ns (%.1f float32 operations per ns)\n", ymm, ymm * 8);
    if (!__builtin_cpu_supports("avx512f")) {
        std::printf("no AVX-512: 512-bit rate not measured\n");
        return 0;
    }
    const double zmm = Rate(MulAdd512, 15);
    std::printf("512-bit vmulps and vaddps, independent: %.2f per ns (%.1f float32 operations per ns)\n", zmm,
                zmm * 16);
    return 0;
}
