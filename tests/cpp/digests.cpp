// Prints one line "name digest" per kernel: a 64-bit FNV-1a digest of the
// kernel's output bytes for fixed inputs. Outputs are defined to the bit, so
// every platform, compiler and CPU target (TARSK_ISA) must print the same
// lines. A new kernel is one line in kKernels.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "codec/ft4.hpp"
#include "codec/ft8.hpp"
#include "codec/varicode.hpp"
#include "core/cf32.hpp"
#include "demodulate/am.hpp"
#include "demodulate/bpsk.hpp"
#include "demodulate/cw_envelope.hpp"
#include "demodulate/fm_pm.hpp"
#include "demodulate/ft4.hpp"
#include "demodulate/ft8.hpp"
#include "demodulate/psk31.hpp"
#include "demodulate/qam.hpp"
#include "demodulate/qpsk.hpp"
#include "demodulate/ssb.hpp"
#include "message/message.hpp"
#include "modulate/am.hpp"
#include "modulate/bpsk.hpp"
#include "modulate/cw.hpp"
#include "modulate/fm_pm.hpp"
#include "modulate/ft4.hpp"
#include "modulate/ft8.hpp"
#include "modulate/psk31.hpp"
#include "modulate/qam.hpp"
#include "modulate/qpsk.hpp"
#include "modulate/ssb.hpp"

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

std::vector<float> audio(std::size_t n, std::uint64_t seed) {
  Rng r(seed);
  std::vector<float> v(n);
  for (auto& x : v) x = r.uniform(1.0f);
  return v;
}

/// A keying signal: runs of 0 and 1 with a few values in between.
std::vector<float> keying(std::size_t n, std::uint64_t seed) {
  Rng r(seed);
  std::vector<float> v(n);
  float level = 0.0f;
  for (std::size_t k = 0; k < n; ++k) {
    if (k % 150 == 0) level = (r.next() >> 31) ? 1.0f : 0.0f;
    v[k] = (k % 150 == 75) ? 0.5f : level;
  }
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
  auto out_size = [&](std::size_t n) -> std::size_t {
    if constexpr (requires { *block.output_size(n); })
      return *block.output_size(n);
    else if constexpr (requires { block.output_size(n); })
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

/// A PSK31 modulator's waveform for `bits`, in two calls.
template <class M>
std::vector<Cf32> psk31_wave(M mod, const std::vector<std::uint8_t>& bits) {
  std::vector<Cf32> out(*mod.output_size(bits.size()));
  const std::size_t cut = bits.size() / 3;
  const std::size_t first = *mod.output_size(cut);
  mod.modulate(std::span(bits).first(cut), std::span(out).first(first));
  mod.modulate(std::span(bits).subspan(cut), std::span(out).subspan(first));
  return out;
}

/// Soft values and, for QPSK31, the Viterbi decisions of a PSK31 signal
/// with a frequency offset and noise.
template <class D>
void psk31_receive(Digest& d, D demod, std::vector<Cf32> iq) {
  Rng r(13);
  for (Cf32& c : iq) c = {c.re + r.uniform(0.3f), c.im + r.uniform(0.3f)};
  d.add(run<float>(std::move(demod), iq));
}

void qpsk31_decode(Digest& d) {
  Qpsk31Demod demod = *Qpsk31Demod::make(8000.0f, 1000.0f, 1.0f);
  std::vector<Cf32> iq = psk31_wave(Qpsk31Mod::make(8000.0f, 1003.0f, 1.0f), bytes(120, 14));
  Rng r(15);
  for (Cf32& c : iq) c = {c.re + r.uniform(0.5f), c.im + r.uniform(0.5f)};
  std::vector<float> soft(demod.output_size(iq.size()));
  soft.resize(demod.process(iq, soft));
  d.add(soft);
  std::vector<std::uint8_t> bits(demod.buffered_symbols());
  bits.resize(demod.flush(bits));
  d.add(bits);
}

/// Payload -> tones -> frame -> noisy frame -> tones -> payload, and the
/// soft decoder on noisy LLRs of the codeword.
template <class Codec, class Mod, class Demod, std::size_t Samples>
void ft_chain(Digest& d) {
  FtPayload payload{};
  const std::vector<std::uint8_t> raw = bytes(10, 16);
  std::memcpy(payload.data(), raw.data(), 10);
  payload[9] &= 0xF8;
  const auto tones = Codec::encode(payload);
  d.add(std::span<const std::uint8_t>(tones));
  std::vector<Cf32> frame(Samples);
  Mod::make(12000.0f, 1500.0f, 3.5f, 0.5f).modulate(tones, std::span<Cf32, Samples>(frame));
  d.add(frame);
  Rng r(17);
  for (Cf32& c : frame) c = {c.re + r.uniform(0.6f), c.im + r.uniform(0.6f)};
  std::array<std::uint8_t, tones.size()> got{};
  Demod::make(12000.0f, 1500.0f).demodulate(std::span<const Cf32, Samples>(frame), got);
  d.add(std::span<const std::uint8_t>(got));
  const std::optional<FtPayload> hard = Codec::decode_hard(got);
  d.add(hard ? std::span<const std::uint8_t>(*hard) : std::span<const std::uint8_t>());
  const FtCodeword cw = ft_encode_codeword(payload);
  std::array<float, kLdpcN> llr{};
  for (std::size_t i = 0; i < kLdpcN; ++i) {
    const bool one = (cw[i / 8] >> (7 - i % 8)) & 1u;
    llr[i] = (one ? -1.0f : 1.0f) + r.uniform(1.05f);
  }
  const std::optional<FtPayload> soft = ft_decode_codeword(llr);
  d.add(soft ? std::span<const std::uint8_t>(*soft) : std::span<const std::uint8_t>());
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
    {"am_mod", [](Digest& d) { d.add(run<Cf32>(AmDsbMod::make(kFs, kRf, 0.8f, 0.7f), audio(3000, 20))); }},
    {"cw_mod", [](Digest& d) { d.add(run<Cf32>(CwKeyedMod::make(kFs, 700.0f, 5.0f, 4.0f), keying(3000, 21))); }},
    {"ssb_mod_usb", [](Digest& d) { d.add(run<Cf32>(SsbPhasingMod::make(kFs, 2700.0f, 1500.0f, kRf, true), audio(3000, 22))); }},
    {"ssb_mod_lsb", [](Digest& d) { d.add(run<Cf32>(SsbPhasingMod::make(kFs, 2700.0f, 1500.0f, kRf, false), audio(3000, 23))); }},
    {"fm_mod", [](Digest& d) { d.add(run<Cf32>(FmPhaseAccumMod::make(kFs, 5000.0f, kRf), audio(3000, 24))); }},
    {"pm_mod", [](Digest& d) { d.add(run<Cf32>(PmDirectPhaseMod::make(kFs, 2.5f, kRf), audio(3000, 25))); }},
    {"am_demod", [](Digest& d) { d.add(run<float>(AmEnvelopeDemod::make(kFs, 3000.0f, false), iq(3001, 26))); }},
    {"am_demod_approx", [](Digest& d) { d.add(run<float>(AmEnvelopeDemod::make(kFs, 3000.0f, true), iq(3001, 27))); }},
    {"cw_demod", [](Digest& d) { d.add(run<float>(CwEnvelopeDemod::make(kFs, 700.0f, 200.0f), iq(3001, 28))); }},
    {"ssb_demod", [](Digest& d) { d.add(run<float>(SsbProductDemod::make(kFs, 1500.0f, 2700.0f), iq(3001, 29))); }},
    {"fm_demod", [](Digest& d) { d.add(run<float>(FmQuadratureDemod::make(kFs, 5000.0f, 4000.0f), iq(3001, 30))); }},
    {"pm_demod", [](Digest& d) { d.add(run<float>(PmQuadratureDemod::make(kFs, 2.5f, 4000.0f), iq(3001, 31))); }},
    {"varicode", varicode_round_trip},
    {"bpsk31_mod", [](Digest& d) { d.add(psk31_wave(Bpsk31Mod::make(8000.0f, 1000.0f, 0.8f), bytes(60, 32))); }},
    {"qpsk31_mod", [](Digest& d) { d.add(psk31_wave(Qpsk31Mod::make(8000.0f, 1000.0f, 0.8f), bytes(60, 33))); }},
    {"bpsk31_demod", [](Digest& d) { psk31_receive(d, *Bpsk31Demod::make(8000.0f, 1000.0f, 1.0f), psk31_wave(Bpsk31Mod::make(8000.0f, 1002.0f, 1.0f), bytes(80, 34))); }},
    {"qpsk31_demod", qpsk31_decode},
    {"messages", messages},
    {"ft8_chain", ft_chain<Ft8Codec, Ft8Mod, Ft8Demod, kFt8FrameSamples>},
    {"ft4_chain", ft_chain<Ft4Codec, Ft4Mod, Ft4Demod, kFt4FrameSamples>},
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
