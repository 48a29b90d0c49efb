#include "threads.hpp"

#include <pthread.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

void* idle(void*) { return nullptr; }

// OMP_STACKSIZE's form: a number of kibibytes, or a number with the suffix
// B, K, M or G; 0 when it is unset or not of that form.
size_t stack_size_asked() {
  const char* text = std::getenv("OMP_STACKSIZE");
  if (text == nullptr) text = std::getenv("GOMP_STACKSIZE");
  if (text == nullptr) return 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (end == text) return 0;
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  const int unit = std::toupper(static_cast<unsigned char>(*end));
  const int shift = unit == 'B' ? 0 : unit == 'M' ? 20 : unit == 'G' ? 30 : 10;
  if (v > (~0ull >> shift)) return 0;
  return static_cast<size_t>(v << shift);
}

}  // namespace

bool threads_can_start(int32_t team) {
  if (team <= 1) return true;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  if (const size_t size = stack_size_asked(); size > 0) pthread_attr_setstacksize(&attr, size);
  std::vector<pthread_t> started;
  started.reserve(static_cast<size_t>(team - 1));
  bool ok = true;
  for (int32_t t = 1; t < team && ok; ++t) {
    pthread_t thread;
    ok = pthread_create(&thread, &attr, idle, nullptr) == 0;
    if (ok) started.push_back(thread);
  }
  for (pthread_t thread : started) pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  return ok;
}
