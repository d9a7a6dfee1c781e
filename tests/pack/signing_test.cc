// Signed installers end to end: keys and signatures that Debian's minisign
// reads both ways, the installer's and zolt-pack's checks of every kind of
// damage before anything is written, and the signer an installation keeps.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#if __has_include(<sodium.h>)
#include <sodium.h>
#endif

#include "engine/failure.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"

namespace {

bool have_minisign() { return std::system("command -v minisign >/dev/null 2>&1") == 0; }

ProcessResult run_with(const std::string& program, std::vector<std::string> args, const std::string& input = "") {
  ProcessOptions o;
  o.args = std::move(args);
  o.input = input;
  return run_process(program, o);
}

// A key pair of zolt-pack's, or skips where it was built without libsodium.
std::string make_key(const std::string& dir, const std::string& name) {
  ProcessResult k = run_pack({"keygen", "-W", "-p", dir + "/" + name + ".pub", "-s", dir + "/" + name + ".key"});
  return k.exit_status == 0 ? dir + "/" + name : "";
}

#define REQUIRE_KEY(key) \
  if ((key).empty()) GTEST_SKIP() << "zolt-pack built without libsodium (libsodium-dev)"

// The sample product packed as VERSION, signed with `key` (none when empty).
std::string pack_signed(const TempDir& temp, const std::string& version, const std::string& key) {
  if (!std::filesystem::exists(temp / "tree")) make_sample_tree(temp / "tree");
  std::string out = temp / ("q-" + version + (key.empty() ? "" : "-" + std::filesystem::path(key).filename().string()) + ".run");
  std::vector<std::string> args = {"create", "-q", "-o", out, "--product", "QUMBA", "--version", version};
  if (!key.empty()) args.insert(args.end(), {"--sign", key + ".key"});
  args.push_back(temp / "tree");
  ProcessResult p = run_pack(args, {"SOURCE_DATE_EPOCH=1700000000"});
  EXPECT_EQ(p.exit_status, 0) << p.err;
  return out;
}

ProcessResult install(const std::string& installer, const std::string& target, std::vector<std::string> extra = {}) {
  ProcessOptions o;
  o.args = {"--target", target, "--accept-licence", "--quiet"};
  o.args.insert(o.args.end(), extra.begin(), extra.end());
  return run_process(installer, o);
}

TEST(Signing, MinisignReadsOurSignaturesAndItsKeysSignForUs) {
  if (!have_minisign()) GTEST_SKIP() << "minisign is not installed";
  TempDir temp;
  std::string ours = make_key(temp.path(), "ours");
  REQUIRE_KEY(ours);
  std::string installer = pack_signed(temp, "7.1", ours);
  ProcessResult v = run_with("/usr/bin/env", {"minisign", "-Vm", installer, "-p", ours + ".pub"});
  EXPECT_EQ(v.exit_status, 0) << v.err << v.out;

  std::string theirs = temp / "theirs";
  ProcessResult g = run_with("/usr/bin/env", {"minisign", "-G", "-W", "-p", theirs + ".pub", "-s", theirs + ".key"});
  ASSERT_EQ(g.exit_status, 0) << g.err;
  installer = pack_signed(temp, "7.2", theirs);
  v = run_with("/usr/bin/env", {"minisign", "-Vm", installer, "-p", theirs + ".pub"});
  EXPECT_EQ(v.exit_status, 0) << v.err << v.out;
  // The key as minisign prints it, and its file.
  std::string line = read_file(theirs + ".pub");
  line = line.substr(line.find('\n') + 1, 56);
  for (const std::string& key : {line, theirs + ".pub"}) {
    ProcessResult r = install(installer, temp / "installed", {"--verify-signature", key});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(run_pack({"verify", "--key", key, installer}).exit_status, 0);
  }
  std::string id = read_file(theirs + ".pub").substr(39, 16);  // "untrusted comment: minisign public key ID"
  EXPECT_NE(run_with(installer, {"--version"}).out.find("Signed with key ID " + id), std::string::npos);
  EXPECT_NE(run_pack({"list", installer}).out.find("Signed:    key ID " + id), std::string::npos);
}

TEST(Signing, EveryDamageIsRefusedBeforeAnythingIsWritten) {
  TempDir temp;
  std::string key = make_key(temp.path(), "a"), other = make_key(temp.path(), "b");
  REQUIRE_KEY(key);
  std::string good = read_file(pack_signed(temp, "7.1", key));
  std::string by_other = read_file(pack_signed(temp, "7.1", other));
  std::string unsigned_bytes = read_file(pack_signed(temp, "7.1", ""));
  // Signing adds a block and changes nothing before it.
  ASSERT_GT(good.size(), unsigned_bytes.size());
  ASSERT_EQ(good.substr(0, unsigned_bytes.size()), unsigned_bytes);
  const size_t signed_length = unsigned_bytes.size();
  auto flip = [](size_t at) { return [at](std::string& b) { b[at] = char(b[at] ^ 0x20); }; };
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    int message;
  } cases[] = {
      {"the stub's ELF header", flip(0x3c), FAILURE_SIGNATURE_WRONG},
      {"the entries' data", flip(signed_length - 3000), FAILURE_SIGNATURE_WRONG},
      {"the last signed byte", flip(signed_length - 1), FAILURE_SIGNATURE_WRONG},
      {"the trusted comment", flip(good.find("timestamp:", signed_length) + 10), FAILURE_SIGNATURE_WRONG},
      {"another key's signature", [&](std::string& b) { b = by_other; }, FAILURE_SIGNATURE_OTHER_KEY},
      {"a stripped signature", [&](std::string& b) { b.resize(signed_length); }, FAILURE_SIGNATURE_MISSING},
      {"a truncated signature", [&](std::string& b) { b.resize(b.size() - 5); }, FAILURE_SIGNATURE_MISSING},
      {"a damaged length", [&](std::string& b) { b[b.size() - 12] = char(0xff); }, FAILURE_SIGNATURE_MALFORMED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good, installer = temp / "damaged.run", target = temp / "target";
    c.damage(bytes);
    write_file(installer, bytes, 0755);
    ProcessResult r = install(installer, target, {"--verify-signature", key + ".pub"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind(failure_message(c.message), 0), 0u) << r.err;
    ProcessResult v = run_pack({"verify", "--key", key + ".pub", installer});
    EXPECT_EQ(v.exit_status, 1);
    EXPECT_NE(v.err.find(failure_message(c.message)), std::string::npos) << v.err;
    EXPECT_EQ(run_pack({"extract", "--key", key + ".pub", installer, "-C", target}).exit_status, 1);
    EXPECT_FALSE(std::filesystem::exists(target));
  }
}

TEST(Signing, AnInstallationKeepsItsSignerUnlessTheUserAccepts) {
  TempDir temp;
  std::string a = make_key(temp.path(), "a"), b = make_key(temp.path(), "b");
  REQUIRE_KEY(a);
  std::string target = temp / "target";
  ASSERT_EQ(install(pack_signed(temp, "7.1", a), target).exit_status, 0);
  std::string id_a = read_file(a + ".pub").substr(39, 16), id_b = read_file(b + ".pub").substr(39, 16);
  const struct {
    const char* what;
    std::string key;
    bool accept, by_extract;
    bool installs;
  } cases[] = {
      {"another signer", b, false, false, false},
      {"another signer, through extract", b, false, true, false},
      {"no signature", "", false, false, false},
      {"the same signer", a, false, false, true},
      {"another signer, accepted", b, true, false, true},
      {"the first signer after the new one took over", a, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string installer = pack_signed(temp, "7.2", c.key);
    std::string before = read_file(target + "/.zolt-setup/QUMBA.list");
    std::vector<std::string> extra;
    if (c.accept) extra.push_back("--accept-new-signer");
    ProcessResult r = c.by_extract ? run_pack({"extract", installer, "-C", target})
                                   : install(installer, target, extra);
    EXPECT_EQ(r.exit_status, c.installs ? 0 : 1) << r.err;
    if (c.installs) continue;
    EXPECT_NE(r.err.find(failure_message(FAILURE_SIGNER_CHANGED)), std::string::npos) << r.err;
    bool now_b = std::string(c.what).find("first signer") != std::string::npos;
    EXPECT_NE(r.err.find("installed version signed by key ID " + (now_b ? id_b : id_a)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.key.empty() ? "this installer unsigned" : "this installer by key ID " + (now_b ? id_a : id_b)),
              std::string::npos);
    EXPECT_EQ(read_file(target + "/.zolt-setup/QUMBA.list"), before);
  }
  // Removing needs no signature.
  ProcessOptions o;
  o.args = {"--uninstall", "--unattended", "--target", target};
  EXPECT_EQ(run_process(pack_signed(temp, "7.3", ""), o).exit_status, 0);
  EXPECT_FALSE(std::filesystem::exists(target + "/.zolt-setup/QUMBA.list"));
}

#if __has_include(<sodium.h>)
// A secret key sealed as minisign seals one, at scrypt's lowest cost (the
// file names its limits; keygen's, minisign's own, take a minute here).
void write_sealed_key(const std::string& dir, const std::string& passphrase) {
  ASSERT_GE(sodium_init(), 0);
  uint8_t pk[32], sk[64], id[8], bytes[158] = {'E', 'd', 'S', 'c', 'B', '2'};
  crypto_sign_ed25519_keypair(pk, sk);
  randombytes_buf(id, sizeof id);
  uint8_t* salt = bytes + 6;
  randombytes_buf(salt, 32);
  const uint64_t ops = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_MIN, mem = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_MIN;
  for (int i = 0; i < 8; i++) salt[32 + i] = uint8_t(ops >> (8 * i)), salt[40 + i] = uint8_t(mem >> (8 * i));
  uint8_t* sealed = bytes + 54;
  uint8_t checked[2 + 8 + 64] = {'E', 'd'};
  memcpy(checked + 2, id, 8);
  memcpy(checked + 10, sk, 64);
  memcpy(sealed, checked + 2, 72);
  crypto_generichash(sealed + 72, 32, checked, sizeof checked, nullptr, 0);
  uint8_t stream[104];
  ASSERT_EQ(crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, passphrase.data(), passphrase.size(), salt, ops, mem), 0);
  for (size_t i = 0; i < sizeof stream; i++) sealed[i] ^= stream[i];
  char text[256], public_text[64];
  sodium_bin2base64(text, sizeof text, bytes, sizeof bytes, sodium_base64_VARIANT_ORIGINAL);
  write_file(dir + "/sealed.key", "untrusted comment: sealed\n" + std::string(text) + "\n");
  uint8_t public_bytes[42] = {'E', 'd'};
  memcpy(public_bytes + 2, id, 8);
  memcpy(public_bytes + 10, pk, 32);
  sodium_bin2base64(public_text, sizeof public_text, public_bytes, sizeof public_bytes, sodium_base64_VARIANT_ORIGINAL);
  write_file(dir + "/sealed.pub", "untrusted comment: sealed\n" + std::string(public_text) + "\n");
}

TEST(Signing, APassphraseOpensASealedSecretKey) {
  TempDir temp;
  REQUIRE_KEY(make_key(temp.path(), "probe"));
  write_sealed_key(temp.path(), "right horse");
  make_sample_tree(temp / "tree");
  for (const char* passphrase : {"wrong\n", "right horse\n"}) {
    ProcessResult r = run_with(zolt_pack_binary(), {"create", "-q", "-o", temp / "q.run", "--product", "QUMBA",
                                                   "--version", "1", "--sign", temp / "sealed.key", temp / "tree"},
                               passphrase);
    bool right = passphrase[0] == 'r';
    EXPECT_EQ(r.exit_status, right ? 0 : 1) << r.err;
    EXPECT_EQ(std::filesystem::exists(temp / "q.run"), right);
    if (!right) {
      EXPECT_NE(r.err.find("wrong passphrase"), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(run_pack({"verify", "-q", "--key", temp / "sealed.pub", temp / "q.run"}).exit_status, 0);
}
#endif

TEST(Signing, ASignedInstallerShowsTheUnsignedDialogue) {
  TempDir temp;
  std::string key = make_key(temp.path(), "a");
  REQUIRE_KEY(key);
  std::string outputs[2];
  for (int i = 0; i < 2; i++) {
    ProcessOptions o;
    o.input = "n\na\nn\n" + std::string(temp / ("dir" + std::to_string(i))) + "\nn\nn\n";
    ProcessResult r = run_process(pack_signed(temp, "7.1", i ? key : ""), o);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    outputs[i] = r.err;
    size_t at;
    while ((at = outputs[i].find("dir" + std::to_string(i))) != std::string::npos) outputs[i].replace(at, 4, "DIR");
  }
  EXPECT_EQ(outputs[0], outputs[1]);
  // The record differs: the signed one keeps its signer.
  for (const char* dir : {"dir0", "dir1"}) std::filesystem::remove_all(temp / dir + "/.zolt-setup");
  EXPECT_EQ(snapshot_tree(temp / "dir0"), snapshot_tree(temp / "dir1"));
}

}  // namespace
