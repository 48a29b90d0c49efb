// The kernels compiled for plain: one position per step.
#include "bodies.hpp"

const kernel_table kernels_plain = table_of<lanes_plain>();
