// Parity-check count of the LDPC (174,91) code.
#include "codec/ldpc.hpp"

namespace tarsk {

unsigned ldpc_count_errors(std::span<const std::uint8_t, kLdpcN> bits) noexcept {
  unsigned errors = 0;
  for (std::size_t m = 0; m < kLdpcM; ++m) {
    unsigned x = 0;
    for (std::size_t k = 0; k < kLdpcCheckWeights[m]; ++k) x ^= bits[kLdpcCheckToVars[m][k] - 1u];
    errors += x & 1u;
  }
  return errors;
}

}  // namespace tarsk
