// kcenter order on the processes of an MPI job (Open MPI's mpirun): each
// process holds a share of the rows, and the job prints exactly what one
// process prints.
#pragma once

#include "kcenter_io.hpp"

// Whether this process was started by Open MPI's launcher, and its rank in
// the job, as the launcher's environment says (MPI itself is not started).
bool kcenter_launched(int* rank);

// Runs kcenter as one process of the job: starts MPI, and first agrees
// with the others on the command line (refused: this process's parse
// error, or null). `kcenter order` is then shared out: each process reads its
// share of the rows and takes part in every step; rank 0 writes the output
// and, on a failure, the one line (or the process that alone knows of it
// does). Any other command is rank 0's alone (`alone`), the others waiting
// for it. Ends MPI and returns the exit status.
int kcenter_on_processes(const kcenter_args* a, const kcenter_error* refused, const char* program,
                         int (*alone)(const kcenter_args*, const char*));
