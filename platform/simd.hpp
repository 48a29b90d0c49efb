// Which vector instructions the kernels run on: the widest the processor
// has, found once at run time. Nothing else in the suite asks the processor.
#pragma once

enum class simd_level : int { plain = 0, avx2 = 1, avx512 = 2 };

// The widest level this processor (and its operating system) runs.
simd_level simd_best();
// Whether this processor runs `level`; plain always runs.
bool simd_runs(simd_level level);
// "plain", "avx2" or "avx512".
const char* simd_name(simd_level level);
