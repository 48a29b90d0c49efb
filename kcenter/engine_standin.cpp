// STAND-IN ENGINES for kcenter until the shared choice library and the
// farthest-pair search library are merged: the plain loops, one vec_dist_sq
// per row and centre, and one per pair. Delete this file when they land.
#include <cstdlib>
#include <new>

#include "choice.hpp"
#include "farthest_pair.hpp"

struct choice {
  mat A;          // the caller's rows (not copied here)
  double* near;   // nearest distance of each row
};

choice* choice_start(const mat* A, const choice_options*) {
  choice* s = new (std::nothrow) choice{*A, nullptr};
  if (s == nullptr) return nullptr;
  s->near = static_cast<double*>(std::malloc(sizeof(double) * static_cast<size_t>(A->rows > 0 ? A->rows : 1)));
  if (s->near == nullptr) {
    delete s;
    return nullptr;
  }
  for (int32_t i = 0; i < A->rows; ++i) s->near[i] = no_distance;
  return s;
}

choice_farthest choice_fold(choice* s, const double* c) {
  vec centre{const_cast<double*>(c), s->A.cols}, row;
  choice_farthest best{0.0, -1};
  for (int32_t i = 0; i < s->A.rows; ++i) {
    mat_get_row(&s->A, &row, i);
    const double d = vec_dist_sq(&row, &centre);
    if (s->near[i] > d) s->near[i] = d;
    if (s->near[i] > best.dist_sq) best = {s->near[i], i};
  }
  return best;
}

void choice_end(choice* s) {
  if (s == nullptr) return;
  std::free(s->near);
  delete s;
}

farthest farthest_pair_search(const mat* A, int32_t) {
  farthest best = no_pair;
  vec a, b;
  for (int32_t i = 0; i < A->rows; ++i) {
    mat_get_row(A, &a, i);
    for (int32_t j = i + 1; j < A->rows; ++j) {
      mat_get_row(A, &b, j);
      const double d = vec_dist_sq(&a, &b);
      ++best.compared;
      if (d > best.dist_sq) best = {d, i, j, best.compared};
    }
  }
  return best;
}
