#include "tests/codec/lzh_samples.h"

#include <algorithm>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

uint32_t get16(const std::string& a, size_t p) { return uint8_t(a[p]) | uint32_t(uint8_t(a[p + 1])) << 8; }
uint32_t get32(const std::string& a, size_t p) { return get16(a, p) | get16(a, p + 2) << 16; }

// Extended headers of levels 1 and 2: each is [type][data][size of the next],
// and its own size counts all three. `p` is where the first one starts, `next`
// its size. Returns where the chain ends, or 0 when it leaves the archive.
size_t skip_extensions(const std::string& a, size_t p, uint32_t next, std::string* name) {
  while (next != 0) {
    if (next < 3 || p + next > a.size()) return 0;
    if (a[p] == 0x01) *name = a.substr(p + 1, next - 3);
    size_t here = p;
    p += next;
    next = get16(a, here + next - 2);
  }
  return p;
}

// The members of an LHA archive of header levels 0, 1 and 2. Common to all
// three: method at 2..6, stored size at 7, original size at 11, level at 20.
// Level 0 and 1: byte 0 is the header size less 2, the name's length is at
// 21, the name at 22; level 1's stored size also counts its extended headers,
// whose chain begins with the size in the base header's last two bytes.
// Level 2: bytes 0..1 are the whole header's size, the first extended header
// size is at 24, and the name is in an extended header of type 1.
}  // namespace

std::vector<Member> parse_lzh(const std::string& a) {
  std::vector<Member> members;
  size_t p = 0;
  while (p < a.size() && a[p] != 0) {
    if (p + 26 > a.size()) break;
    Member m;
    m.method = a.substr(p + 2, 5);
    uint32_t stored = get32(a, p + 7);
    m.original = get32(a, p + 11);
    int level = a[p + 20];
    size_t data = 0;
    if (level == 0 || level == 1) {
      size_t base_end = p + uint8_t(a[p]) + 2;
      m.name = a.substr(p + 22, uint8_t(a[p + 21]));
      data = base_end;
      if (level == 1) {
        data = skip_extensions(a, base_end, get16(a, base_end - 2), &m.name);
        if (data == 0 || data - base_end > stored) break;
        stored -= uint32_t(data - base_end);
      }
    } else if (level == 2) {
      data = p + get16(a, p);
      if (skip_extensions(a, p + 26, get16(a, p + 24), &m.name) != data) break;
    } else {
      break;
    }
    if (data + stored > a.size()) break;
    m.data = a.substr(data, stored);
    members.push_back(m);
    p = data + stored;
  }
  return members;
}

std::vector<Member> jlha_members(int level, const std::vector<std::pair<std::string, std::string>>& files,
                                 std::string* error) {
  TempDir dir;
  ProcessOptions options;
  options.cwd = dir.path();
  options.args = {"a" + std::to_string(level) + "o5", "test.lzh"};
  for (const auto& [name, bytes] : files) {
    write_file(dir / name, bytes);
    options.args.push_back(name);
  }
  ProcessResult run = run_process(JLHA, options);
  if (run.exit_status != 0) {
    *error = "jlha failed: " + run.err;
    return {};
  }
  std::vector<Member> members = parse_lzh(read_file(dir / "test.lzh"));
  if (members.empty()) *error = "no members in the archive";
  return members;
}

std::string words(std::mt19937& rng, size_t size) {
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 4000; ++i) {
    std::string w;
    for (int n = 2 + int(rng() % 9); n > 0; --n) w.push_back(char(33 + rng() % 94));
    vocabulary.push_back(w);
  }
  std::string out;
  while (out.size() < size) {
    double u = std::uniform_real_distribution<double>(0, 1)(rng);
    out += vocabulary[size_t(u * u * u * double(vocabulary.size()))];
    out += (rng() % 12 == 0) ? '\n' : ' ';
  }
  return out;
}

std::string records(std::mt19937& rng, size_t size) {
  std::string out;
  for (uint32_t id = 0; out.size() < size; ++id) {
    uint32_t fields[4] = {id, id * 40503u, uint32_t(rng() % 1000), uint32_t(rng())};
    out.append(reinterpret_cast<const char*>(fields), sizeof fields);
  }
  return out;
}

std::string runs(std::mt19937& rng, size_t size) {
  std::string out;
  while (out.size() < size) {
    switch (rng() % 3) {
      case 0: out.append(1 + rng() % 2000, char(rng())); break;
      case 1: {  // a repeat from far back, near the window's reach
        size_t back = 8000 + rng() % 192;
        if (out.size() > back) out += out.substr(out.size() - back, 300 + rng() % 3000);
        break;
      }
      default:
        for (int n = int(rng() % 500); n > 0; --n) out.push_back(char(rng()));
    }
  }
  return out;
}

std::string noise(std::mt19937& rng, size_t size) {
  std::string out;
  std::geometric_distribution<int> skewed(0.02);
  while (out.size() < size) out.push_back(char(std::min(skewed(rng), 255)));
  return out;
}

