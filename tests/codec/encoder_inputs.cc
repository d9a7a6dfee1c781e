#include "tests/codec/encoder_inputs.h"

#include <algorithm>
#include <random>

#include "tests/codec/encode_helpers.h"

std::string periodic_bytes(size_t size, size_t period, uint32_t seed) {
  std::string unit = random_bytes(period, seed), s;
  while (s.size() < size) s += unit;
  s.resize(size);
  return s;
}

std::string small_alphabet(size_t size, uint32_t letters, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string s(size, '\0');
  for (auto& ch : s) ch = char('a' + generator() % letters);
  return s;
}

std::string binary_like(size_t size, uint32_t seed) {
  static const char* const opcodes[] = {"\x48\x89\xe5", "\x48\x8b\x45", "\xe8", "\x0f\x1f\x44\x00\x00",
                                        "\x55", "\xc3", "\x48\x83\xec", "\x89\x7d", "\x74", "\xeb"};
  static const char* const names[] = {"memcpy", "strlen", "_ZNSt6vectorIiSaIiEE9push_backERKi",
                                      "__cxa_finalize", "codec_encode", "GLIBC_2.2.5"};
  std::mt19937 generator(seed);
  std::string s;
  uint32_t address = 0x401000 + (generator() & 0xFFF);
  while (s.size() < size) {
    const uint32_t kind = generator() % 16;
    if (kind < 10) {
      s += opcodes[generator() % 10];
      if (generator() % 2) s += char(generator() % 32 * 8);
    } else if (kind < 13) {
      address += generator() % 64;
      for (int i = 0; i < 4; i++) s += char(address >> (8 * i));
    } else if (kind < 14) {
      s.append(generator() % 40, '\0');
    } else {
      s += names[generator() % 6];
      s += '\0';
    }
  }
  s.resize(size);
  return s;
}

std::string byte_runs(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string s;
  while (s.size() < size) s.append(1 + generator() % 600, char(generator() % 4 == 0 ? 0 : generator()));
  s.resize(size);
  return s;
}

std::string mixed_bytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string s;
  while (s.size() < size) {
    const size_t piece = 1 + generator() % 5000;
    const uint32_t sub = generator();
    switch (generator() % 6) {
      case 0: s += wordy_text(piece, sub); break;
      case 1: s += random_bytes(piece, sub); break;
      case 2: s += byte_runs(piece, sub); break;
      case 3: s += binary_like(piece, sub); break;
      case 4: s += small_alphabet(piece, 2 + sub % 3, sub); break;
      default:
        // An earlier stretch again, reaching back up to twice the window.
        if (!s.empty()) {
          const size_t back = 1 + generator() % std::min<size_t>(s.size(), 2 * 8192 + 300);
          s += s.substr(s.size() - back, std::min(piece, back));
        }
    }
  }
  s.resize(size);
  for (uint32_t flips = generator() % 8; flips > 0 && size > 0; flips--) s[generator() % size] ^= char(1 + generator() % 255);
  return s;
}

std::string any_shape(size_t size, uint32_t seed) {
  switch (seed % 9) {
    case 0: return wordy_text(size, seed);
    case 1: return random_bytes(size, seed);
    case 2: return binary_like(size, seed);
    case 3: return byte_runs(size, seed);
    case 4: return small_alphabet(size, 1 + seed / 9 % 4, seed);
    case 5: return periodic_bytes(size, 1 + seed / 9 % 9000, seed);
    case 6: return std::string(size, char(seed / 9));
    case 7: return no_repeat_text(size);
    default: return mixed_bytes(size, seed);
  }
}
