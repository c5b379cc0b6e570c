// libFuzzer target: one whole restore per input over the fake platform; any
// broken invariant aborts so the fuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#include "restore_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> violations = check_restore(data, size);
  if (violations.empty()) return 0;
  for (const std::string& v : violations) std::fprintf(stderr, "violation: %s\n", v.c_str());
  std::abort();
}
