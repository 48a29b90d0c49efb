// The farthest-first order of a small matrix, then each row's centre among
// the first two steps, through the installed kcenter library.
#include <kcenter/kcenter.hpp>

#include <cstdio>

int main() {
  const float points[] = {0, 0, 3, 4, 1, 1, 2, 2};  // 4 rows of 2, float32, C order
  const kcenter::view x = kcenter::c_order(points, 4, 2);
  kcenter::order_options options;
  options.threads = 2;
  kcenter::order_result order;
  kcenter::error err;
  if (!kcenter::order(x, options, &order, &err)) {
    std::printf("%s\n", err.line.c_str());
    return 1;
  }
  std::printf("step,row,dist_sq\n");
  for (size_t s = 0; s < order.rows.size(); ++s)
    std::printf("%zu,%lld,%.17g\n", s, static_cast<long long>(order.rows[s]), order.dist_sq[s]);
  kcenter::assign_result clusters;
  if (!kcenter::assign(x, {order.rows[0], order.rows[1]}, 1, &clusters, &err)) return 1;
  for (size_t i = 0; i < clusters.label.size(); ++i)
    std::printf("row %zu: centre %lld at %.17g\n", i, static_cast<long long>(clusters.label[i]), clusters.dist_sq[i]);
  return 0;
}
