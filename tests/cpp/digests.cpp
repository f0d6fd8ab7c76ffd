// Prints one line "name digest" per kernel: a 64-bit FNV-1a digest of the
// kernel's output bytes for fixed inputs. Outputs are defined to the bit, so
// every platform, compiler and CPU target (TARSK_ISA) must print the same
// lines. A new kernel is one line in kKernels.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "codec/varicode.hpp"
#include "core/cf32.hpp"
#include "demodulate/bpsk.hpp"
#include "demodulate/qam.hpp"
#include "demodulate/qpsk.hpp"
#include "message/message.hpp"
#include "modulate/bpsk.hpp"
#include "modulate/qam.hpp"
#include "modulate/qpsk.hpp"

namespace {

using namespace tarsk;

struct Digest {
  std::uint64_t h = 0xcbf29ce484222325u;

  void bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 0x100000001b3u;
  }
  void add(std::span<const std::uint8_t> v) { bytes(v.data(), v.size()); }
  void add(std::string_view s) { bytes(s.data(), s.size()), bytes("", 1); }
  // A NaN's sign and payload are not part of any result: all NaNs hash alike.
  void add(float f) {
    std::uint32_t u = 0x7FC00000u;
    if (!std::isnan(f)) std::memcpy(&u, &f, 4);
    bytes(&u, 4);
  }
  void add(std::span<const float> v) {
    for (float f : v) add(f);
  }
  void add(std::span<const Cf32> v) {
    for (const Cf32& c : v) add(c.re), add(c.im);
  }
  template <class T>
  void add(const std::vector<T>& v) {
    add(std::span<const T>(v));
  }
};

/// Deterministic inputs: a 64-bit LCG, floats built exactly from its bits.
struct Rng {
  std::uint64_t s;
  explicit Rng(std::uint64_t seed) : s(seed * 0x9E3779B97F4A7C15u + 1) {}
  std::uint32_t next() {
    s = s * 6364136223846793005u + 1442695040888963407u;
    return static_cast<std::uint32_t>(s >> 32);
  }
  /// Uniform in [-scale, scale), a multiple of scale / 2^23.
  float uniform(float scale) {
    return static_cast<float>(static_cast<std::int32_t>(next() >> 8) - (1 << 23)) * (scale / 8388608.0f);
  }
};

std::vector<std::uint8_t> bytes(std::size_t n, std::uint64_t seed) {
  Rng r(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(r.next() >> 24);  // higher bits set too: only the lowest counts
  return v;
}

[[maybe_unused]] std::vector<float> audio(std::size_t n, std::uint64_t seed) {
  Rng r(seed);
  std::vector<float> v(n);
  for (auto& x : v) x = r.uniform(1.0f);
  return v;
}

/// Samples with ties, signed zeros, infinities and NaNs sprinkled in.
std::vector<Cf32> iq(std::size_t n, std::uint64_t seed) {
  Rng r(seed);
  std::vector<Cf32> v(n);
  for (auto& c : v) c = {r.uniform(1.5f), r.uniform(1.5f)};
  const float specials[] = {0.0f, -0.0f, INFINITY, -INFINITY, NAN, -NAN, 0.6324555f, 0.153393f};
  for (std::size_t k = 0; k < n; k += 37) v[k].re = specials[(k / 37) % 8];
  for (std::size_t k = 5; k < n; k += 41) v[k].im = specials[(k / 41) % 8];
  return v;
}

/// The block's outputs for `in`, fed in two calls so that state carried
/// across a call boundary is covered; `unit` keeps the cut on a whole symbol.
template <class Out, class B, class In>
std::vector<Out> run(B block, const std::vector<In>& in, std::size_t unit = 1) {
  auto out_size = [&](std::size_t n) {
    if constexpr (requires { block.output_size(n); })
      return block.output_size(n);
    else
      return n;
  };
  const std::size_t cut = in.size() * 5 / 8 / unit * unit;
  const std::span<const In> a(in.data(), cut), b(in.data() + cut, in.size() - cut);
  std::vector<Out> out(out_size(a.size()) + out_size(b.size()));
  const std::size_t na = block.process(a, std::span<Out>(out).first(out_size(a.size())));
  const std::size_t nb = block.process(b, std::span<Out>(out).subspan(na));
  out.resize(na + nb);
  return out;
}

void varicode_round_trip(Digest& d) {
  VaricodeEncoder enc;
  enc.push_preamble(32);
  for (unsigned c = 0; c < 256; ++c) enc.push_byte(static_cast<std::uint8_t>(c));
  enc.push_postamble(32);
  const std::vector<std::uint8_t> bits = enc.drain();
  d.add(bits);
  VaricodeDecoder dec;
  dec.push_bits(std::span(bits).first(1000));
  dec.push_bits(std::span(bits).subspan(1000));
  d.add(dec.decoded());
}

std::string text_of(const Ft8Message& m) {
  auto hex = [](std::span<const std::uint8_t> v) {
    std::string s;
    for (std::uint8_t b : v) s += "0123456789abcdef"[b >> 4], s += "0123456789abcdef"[b & 15];
    return s;
  };
  return std::visit(
      [&](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Ft8Message::Standard>)
          return "S " + v.call_to + " " + v.call_de + " " + gridfield_to_str(v.extra);
        else if constexpr (std::is_same_v<T, Ft8Message::FreeText>)
          return "F " + v.text;
        else if constexpr (std::is_same_v<T, Ft8Message::NonStd>)
          return "N " + v.call_to + " " + v.call_de + " " + std::to_string(v.rpt);
        else if constexpr (std::is_same_v<T, Ft8Message::Telemetry>)
          return "T " + hex(v.data);
        else
          return "U " + hex(v.payload);
      },
      m.value);
}

void messages(Digest& d) {
  auto standard = [](const char* to, const char* de, const char* extra) {
    return Ft8Message{Ft8Message::Standard{to, de, classify_extra(extra)}};
  };
  const Ft8Message msgs[] = {
      standard("CQ", "K1ABC", "FN42"),     standard("K1ABC", "W9XYZ", "-11"),
      standard("W9XYZ", "K1ABC", "R+05"),  standard("K1ABC/P", "W9XYZ", "RR73"),
      standard("CQ DX", "G4ABC", "IO91"),  standard("CQ", "W9XYZ", ""),
      Ft8Message{Ft8Message::FreeText{"TNX BOB 73 GL"}},
      Ft8Message{Ft8Message::NonStd{"<W9XYZ>", "PJ4/K1ABC", kNonStdRr73}},
      Ft8Message{Ft8Message::Telemetry{{0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0, 0x01}}},
  };
  for (const Ft8Message& m : msgs) {
    CallsignHashTable table;
    const auto payload = pack77(m, table);
    if (!payload) {
      d.add("unpackable");
      continue;
    }
    d.add(std::span<const std::uint8_t>(*payload));
    d.add(text_of(unpack77(*payload, table)));
  }
  // Every payload reads as something: the unpacker over arbitrary bytes.
  const std::vector<std::uint8_t> raw = bytes(400, 9);
  for (std::size_t k = 0; k + 10 <= raw.size(); k += 10) {
    MessagePayload p{};
    std::memcpy(p.data(), raw.data() + k, 10);
    p[9] &= 0xF8;
    d.add(text_of(unpack77(p, CallsignHashTable{})));
  }
}

struct Kernel {
  const char* name;
  void (*run)(Digest&);
};

// Carrier settings shared by the modulators: 3000 samples cross two
// renormalisations; the carrier is not a simple fraction of the rate.
constexpr float kFs = 48000.0f, kRf = 1234.5f, kGain = 0.75f;

const Kernel kKernels[] = {
    {"bpsk_mod", [](Digest& d) { d.add(run<Cf32>(BpskMod::make(kFs, kRf, kGain), bytes(3000, 1))); }},
    {"qpsk_mod", [](Digest& d) { d.add(run<Cf32>(QpskMod::make(kFs, -kRf, kGain), bytes(6000, 2), 2)); }},
    {"qam16_mod", [](Digest& d) { d.add(run<Cf32>(*QamMod::make(16, kFs, kRf, kGain), bytes(12000, 3), 4)); }},
    {"qam64_mod", [](Digest& d) { d.add(run<Cf32>(*QamMod::make(64, kFs, kRf, kGain), bytes(18000, 4), 6)); }},
    {"qam256_mod", [](Digest& d) { d.add(run<Cf32>(*QamMod::make(256, kFs, kRf, kGain), bytes(24000, 5), 8)); }},
    {"bpsk_demod", [](Digest& d) { d.add(run<std::uint8_t>(BpskDemod::make(-1.25f), iq(3001, 6))); }},
    {"qpsk_demod", [](Digest& d) { d.add(run<std::uint8_t>(QpskDemod::make(0.5f), iq(3001, 7))); }},
    {"qam16_demod", [](Digest& d) { d.add(run<std::uint8_t>(*QamDemod::make(16, 1.0f), iq(3001, 8))); }},
    {"qam64_demod", [](Digest& d) { d.add(run<std::uint8_t>(*QamDemod::make(64, 0.9f), iq(3001, 9))); }},
    {"qam256_demod", [](Digest& d) { d.add(run<std::uint8_t>(*QamDemod::make(256, 1.1f), iq(3001, 10))); }},
    {"varicode", varicode_round_trip},
    {"messages", messages},
};

}  // namespace

int main() {
  for (const Kernel& k : kKernels) {
    Digest d;
    k.run(d);
    std::printf("%-16s %016llx\n", k.name, static_cast<unsigned long long>(d.h));
  }
  return 0;
}
