// The kernels compiled for avx2.
#include "bodies.hpp"

const kernel_table kernels_avx2 = table_of<lanes_avx2>();
