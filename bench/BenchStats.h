#pragma once
// Small statistics the benchmarks print their ratios with.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quor::bench {

// The median (the mean of the two middle values for an even count); 0 for none.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace quor::bench
