// Whether a team of threads can be had before an OpenMP region asks for it:
// the OpenMP runtime ends the whole process, with a message on standard
// error, when it cannot start the threads of a team.
#pragma once

#include <cstdint>

// Starts team - 1 threads (the calling thread is the team's first) with the
// stack size the OpenMP runtime gives its threads (OMP_STACKSIZE or
// GOMP_STACKSIZE when set, else the system's default), lets them all exist
// at once, then ends them. False when the system refuses one: too many
// processes or threads for the user, or no address space for their stacks.
// Resources taken by others between this test and the region can still
// make the runtime fail.
bool threads_can_start(int32_t team);
