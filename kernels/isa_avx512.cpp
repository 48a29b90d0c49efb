// The kernels compiled for avx512.
#include "bodies.hpp"

const kernel_table kernels_avx512 = table_of<lanes_avx512>();
