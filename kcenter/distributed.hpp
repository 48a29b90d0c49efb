// kcenter order on the processes of an MPI job (Open MPI's mpirun): each
// process holds a share of the rows, and the job prints exactly what one
// process prints.
#pragma once

#include "kcenter_io.hpp"

// Whether this process was started by Open MPI's launcher, and its rank in
// the job, as the launcher's environment says (MPI itself is not started).
bool kcenter_launched(int* rank);

// Runs `kcenter order` as one process of the job: starts MPI, reads this
// process's share of the rows, takes part in every step, and ends MPI.
// Rank 0 writes the output and, on a failure, the one line (or the process
// that alone knows of it does). Returns the exit status, the same on every
// process.
int kcenter_order_on_processes(const kcenter_args* a, const char* program);
