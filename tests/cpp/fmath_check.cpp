// Runs the correctly rounded maths over a file of float32 arguments.
//   fmath_check sincos|exp|log IN OUT
// IN holds n floats; OUT gets the scalar results (sin then cos for sincos,
// 2n floats). Exits 1 if a block form differs from the scalar form in any bit,
// with the block run whole, in place and in odd-sized pieces.
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/fmath.hpp"

namespace {

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

template <class Block>
bool pieces_match(const std::vector<float>& x, const std::vector<float>& want, Block block) {
  std::vector<float> got(x.size());
  for (std::size_t i = 0, step = 1; i < x.size(); i += step, step = step % 37 + 5)
    block(x.data() + i, got.data() + i, std::min(step, x.size() - i));
  return same_bits(got, want);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: fmath_check sincos|exp|log IN OUT\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[2], "rb");
  if (!in) return 2;
  std::vector<float> x;
  float buf[4096];
  for (std::size_t got; (got = std::fread(buf, sizeof(float), 4096, in)) > 0;) x.insert(x.end(), buf, buf + got);
  std::fclose(in);
  const std::size_t n = x.size();
  const std::string_view fn = argv[1];
  std::vector<float> out;
  bool ok = true;
  if (fn == "sincos") {
    std::vector<float> s(n), c(n), bs(n), bc(n);
    for (std::size_t i = 0; i < n; ++i) tarsk::cr_sincosf(x[i], s[i], c[i]);
    for (std::size_t i = 0; i < n; ++i) ok = ok && same_bits(s[i], tarsk::cr_sinf(x[i])) && same_bits(c[i], tarsk::cr_cosf(x[i]));
    tarsk::cr_sincosf_n(x.data(), bs.data(), bc.data(), n);
    ok = ok && same_bits(bs, s) && same_bits(bc, c);
    std::vector<float> inplace = x, other(n);
    tarsk::cr_sincosf_n(inplace.data(), inplace.data(), other.data(), n);
    ok = ok && same_bits(inplace, s) && same_bits(other, c);
    ok = ok && pieces_match(x, s, [](const float* a, float* b, std::size_t m) {
      std::vector<float> tmp(m);
      tarsk::cr_sincosf_n(a, b, tmp.data(), m);
    });
    out = s;
    out.insert(out.end(), c.begin(), c.end());
  } else if (fn == "exp" || fn == "log") {
    const bool is_exp = fn == "exp";
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = is_exp ? tarsk::cr_expf(x[i]) : tarsk::cr_logf(x[i]);
    auto block = [is_exp](const float* a, float* b, std::size_t m) {
      if (is_exp) tarsk::cr_expf_n(a, b, m);
      else tarsk::cr_logf_n(a, b, m);
    };
    std::vector<float> whole(n), inplace = x;
    block(x.data(), whole.data(), n);
    block(inplace.data(), inplace.data(), n);
    ok = same_bits(whole, out) && same_bits(inplace, out) && pieces_match(x, out, block);
  } else {
    return 2;
  }
  std::FILE* o = std::fopen(argv[3], "wb");
  if (!o || std::fwrite(out.data(), sizeof(float), out.size(), o) != out.size()) return 2;
  std::fclose(o);
  if (!ok) {
    std::fprintf(stderr, "block and scalar forms differ\n");
    return 1;
  }
  return 0;
}
