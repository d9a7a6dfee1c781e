// A vendor's own installer, made with the real zolt-pack and run as a user
// would: the vendor's texts on every page byte for byte, the stub's texts
// where it gives none, a damaged texts block, and what create refuses.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/vendor_texts.h"
#include "archive/vendor_texts_writer.h"
#include "tests/installer/dialogue_texts.h"
#include "tests/pack/pack_support.h"
#include "tests/support/installer_builder.h"

namespace {

using namespace dialogue;

// The header of the dialogue texts, so that only the vendor's texts differ.
const std::vector<std::string> kHeader = {"create", "-q", "--product", "QUMBA", "--version", "7.1", "--platform",
                                          "Linux x86_64", "--build-time", "1683062507", "--space", "14194286"};

// The licence file: a line to be wrapped at its last blank within 74
// characters, a tab, a DOS line end, an empty line and a form feed, the page
// break of plain-text licences, which the page shows as an empty line.
const std::string kLicenceFile =
    "ACME LICENCE\r\n\nYou may use this product on as many machines as you like, for any purpose you see fit.\n"
    "\tNo warranty.\n\f\nEnd.\n";
// As the licence pages show it.
const std::string kLicence =
    "\n\nACME LICENCE\n\nYou may use this product on as many machines as you like, for any purpose\nyou see fit.\n"
    "        No warranty.\n\nEnd.\n";
const std::string kNotes = "See ACME.TXT.\n";

class VendorTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(temp / "licence.txt", kLicenceFile);
    write_file(temp / "notes.txt", kNotes);
    ASSERT_EQ(mkdir((temp / "tree").c_str(), 0755), 0);
  }
  // Packs the empty tree with `extra` options into `out`.
  ProcessResult create(const std::string& out, const std::vector<std::string>& extra) {
    std::vector<std::string> args = kHeader;
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-o", out, temp / "tree"});
    return run_pack(args);
  }
  ProcessResult run(const std::string& installer, const std::string& input, std::vector<std::string> args = {}) {
    ProcessOptions o;
    o.args = std::move(args);
    o.input = input;
    return run_process(installer, o);
  }
  TempDir temp;
  std::string target = temp / "target";
  std::string branded = temp / "acme.run";
};

TEST_F(VendorTexts, BrandedInstallerShowsThemOnEveryPage) {
  ProcessResult c = create(branded, {"--title", "ACME Setup", "--thanks", "Thanks for choosing ACME.", "--licence",
                                     temp / "licence.txt", "--default-dir", target, "--notes", temp / "notes.txt"});
  ASSERT_EQ(c.exit_status, 0) << c.err;
  // The directory lies outside /usr/ and /home/: create says what that means.
  EXPECT_NE(c.err.find("warns about a place outside '/usr/' and '/home/' and waits"), std::string::npos) << c.err;

  const std::string welcome =
      "\n\nACME Setup\n\nThanks for choosing ACME.\n\n"
      "Let's install  QUMBA 7.1 Linux x86_64 software! (build 230502.212147) !\n";
  std::string slow = kLicence;  // the slow display: the lines without their ends
  slow.erase(std::remove(slow.begin() + 2, slow.end(), '\n'), slow.end());
  const std::string offer = kHeading + "\n\nDefault directory: " + target + ".\n";
  const std::string ending = kInstalling + "\n\nFiles installed!\n" + kNotes;
  ProcessResult r = run(branded, "n\nd\ns\n\n\n\n\n\n\n\na\ny\nn\nn\n");
  EXPECT_EQ(r.err, welcome + kNextCancel + kLicence + kLicenceQuestion + kLicence + kLicenceQuestion + slow +
                       kLicenceQuestion + offer + "\nUse the default directory? [No? Yes? Cancel?]: " + kPlace +
                       ending + kBackNextCancel + kComplete);
  EXPECT_EQ(r.exit_status, 0);
  // With -autonext only the licence and the warning wait; the directory offered is taken.
  r = run(branded, "a\nn\n", {"-autonext"});
  EXPECT_EQ(r.err, welcome + kLicence + kLicenceQuestion + offer + kPlace + ending + kComplete);

  ProcessResult l = run_pack({"list", branded});
  EXPECT_NE(l.out.find("bytes (13.5 MiB)\nTitle:     ACME Setup\nThanks:    Thanks for choosing ACME. (1 line)\n"
                       "Directory: " + target + "\nLicence:   ACME LICENCE (7 lines)\nNotes:     See ACME.TXT. (1 line)\n\n"),
            std::string::npos)
      << l.out;
  EXPECT_EQ(run_pack({"verify", "-q", branded}).exit_status, 0);
}

TEST_F(VendorTexts, WithoutThemEveryPageIsTheStubs) {
  std::string bare = temp / "bare.run";
  ProcessResult c = create(bare, {});
  ASSERT_EQ(c.exit_status, 0);
  EXPECT_EQ(c.err, "");  // the stub's texts are QUMBA's own
  // Another product gets the sample's licence, notes and directory only when
  // it asks for them, and hears in one note which welcome lines are ZOLT's.
  const std::vector<std::string> own = {"--licence", temp / "licence.txt", "--notes", temp / "notes.txt"};
  const std::string refused = "zolt-pack: create: the installer would show Acme's users the licence, notes and "
                              "directory of QUMBA, the stub's sample product: give ";
  const std::string note = "zolt-pack: note: the installer shows the stub's own welcome texts, those of ZOLT, where Acme "
                           "gives none: --title (\"ZOLT(R) Software Installation\") and --thanks (\"Thanks for ";
  struct Case {
    std::vector<std::string> texts;
    int status;
    std::string err_begins;
  } cases[] = {
      {{"--title", "A"}, 2, refused + "--licence FILE, --default-dir DIR and --notes FILE, or --stub-texts"},
      {own, 2, refused + "--default-dir DIR, or --stub-texts to ship the stub's own\n"},
      {{"--stub-texts"}, 0, ""},
      {{own[0], own[1], "--default-dir=/usr/local/acme", own[2], own[3]}, 0, note},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = {"create", "-q", "--product", "Acme", "--version", "1", "-o", temp / "a.run"};
    args.insert(args.end(), k.texts.begin(), k.texts.end());
    args.push_back(temp / "tree");
    c = run_pack_exactly(args);
    EXPECT_EQ(c.exit_status, k.status) << k.texts[0];
    EXPECT_EQ(c.err.substr(0, k.err_begins.size()), k.err_begins) << c.err;
    EXPECT_EQ(path_exists(temp / "a.run"), k.status == 0) << k.texts[0];
    std::filesystem::remove(temp / "a.run");
  }
  // No block: byte for byte the stub (the -lh5- one, whose installer of
  // nothing is the smaller), zero filler and the header block.
  EXPECT_TRUE(read_file(bare) == build_installer(read_file(setup_binary()), TestHeader(), {}));
  ProcessResult r = run(bare, kInputToEntry + target + "\nn\nn\n");
  EXPECT_EQ(r.err, output_to_entry() + kPlace + kOutputFromInstall);
  ProcessResult l = run_pack({"list", bare});
  EXPECT_NE(l.out.find("Title:     (the stub's own)\nThanks:    (the stub's own)\nDirectory: (the stub's own)\n"
                       "Licence:   (the stub's own)\nNotes:     (the stub's own)\n"),
            std::string::npos)
      << l.out;
}

TEST_F(VendorTexts, DamagedBlockEndsBeforeTheFirstPage) {
  ASSERT_EQ(create(branded, {"--licence", temp / "licence.txt"}).exit_status, 0);
  const std::string good = read_file(branded);
  const size_t trailer = good.rfind(VENDOR_TEXTS_MAGIC);
  ASSERT_NE(trailer, std::string::npos);
  // The same licence with a control character, in a block with a good CRC:
  // the installer would print it raw, C1 (CSI here) as well as C0.
  const size_t body = get_u32(reinterpret_cast<const uint8_t*>(good.data()) + trailer + VENDOR_TRAILER_BODY_SIZE);
  auto with_control = [&](const std::string& control) {
    std::optional<std::string> texts[VENDOR_TEXT_COUNT];
    texts[VENDOR_LICENCE] = good.substr(trailer - body, body - 1);
    texts[VENDOR_LICENCE]->replace(3, control.size(), control);
    return build_vendor_texts(texts);
  };
  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"a byte of the licence", trailer - 20, "X", "Installer texts corrupted (2)."},
      {"a size that is not the body's", trailer + VENDOR_TRAILER_BODY_SIZE, std::string("\x01", 1),
       "Installer texts corrupted (2)."},
      {"a control character", trailer - body, with_control("\x1b"), "Installer texts corrupted (3)."},
      {"a C1 control in UTF-8", trailer - body, with_control("\xc2\x9b"), "Installer texts corrupted (3)."},
      {"a C1 control as a byte", trailer - body, with_control("\x9b"), "Installer texts corrupted (3)."},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    bytes.replace(c.at, c.bytes.size(), c.bytes);
    write_file(branded, bytes, 0755);
    ProcessResult r = run(branded, "n\na\n");
    EXPECT_EQ(r.err, std::string(c.message) + "\n" + kTerminated) << c.what;
    EXPECT_EQ(r.exit_status, 1) << c.what;  // as for every other failure
    for (const char* command : {"list", "verify"}) {
      ProcessResult p = run_pack({command, branded});
      EXPECT_EQ(p.exit_status, 1) << c.what;
      EXPECT_NE(p.err.find(branded + ": vendor texts damaged"), std::string::npos) << p.err;
      EXPECT_NE(p.err.find(c.message), std::string::npos) << p.err;
    }
  }
}

// A stub's filler whose end only begins like a block is no block: the
// magic alone, with a body larger than what lies in front or a format of
// another kind, is the filler that nothing reads.
TEST_F(VendorTexts, FillerThatOnlyBeginsLikeABlockIsNone) {
  std::string image = read_file(setup_binary());
  image.resize((image.size() / HEADER_ALIGN + 2) * HEADER_ALIGN - VENDOR_TRAILER_SIZE);
  for (const std::string& trailer : {std::string(VENDOR_TEXTS_MAGIC) + std::string("\xff\xff\xff\xff\0\x01\0\0", 8),
                                     std::string(VENDOR_TEXTS_MAGIC) + std::string("\x10\0\0\0\0\x07\0\0", 8)}) {
    write_file(branded, build_installer(image + trailer, TestHeader(), {}), 0755);
    ProcessResult r = run(branded, kInputToEntry + target + "\nn\nn\n");
    EXPECT_EQ(r.err, output_to_entry() + kPlace + kOutputFromInstall);
    EXPECT_NE(run_pack({"list", branded}).out.find("Title:     (the stub's own)\n"), std::string::npos);
  }
}

TEST_F(VendorTexts, CreateRefusesWhatThePagesCannotShow) {
  write_file(temp / "long-word.txt", "fine\nfine\n" + std::string(75, 'w') + "\n");
  write_file(temp / "control.txt", "fine\nbell\a\n");
  write_file(temp / "paged.txt", "\f\nfine\f\n" + std::string(75, 'w') + "\n");
  write_file(temp / "c1.txt", "fine\nCSI \xc2\x9b\n");
  struct Case {
    std::vector<std::string> options;
    int status;
    std::string message;
  } cases[] = {
      {{"--default-dir", "usr/local/acme"}, 2, "'--default-dir': 'usr/local/acme': not an absolute path"},
      {{"--default-dir", "/usr/local/my acme"}, 2, "a blank, which the directory page refuses"},
      {{"--default-dir", "/" + std::string(4094, 'd')}, 2, "longer than the 4094 characters"},
      {{"--title", std::string(75, 't')}, 2, "'--title': '" + std::string(75, 't') + "': a line longer than 74"},
      {{"--licence", temp / "long-word.txt"}, 1, "long-word.txt, line 3: a word longer than the 74 characters"},
      {{"--notes", temp / "control.txt"}, 1, "control.txt, line 2: a control character, U+0007 (bell)"},
      {{"--licence", temp / "paged.txt"}, 1, "paged.txt, line 3: a word longer than the 74 characters"},
      {{"--licence", temp / "c1.txt"}, 1, "c1.txt, line 2: a control character, U+009B (a C1 control)"},
      {{"--title", "CSI \x9b"}, 2, "a control character, byte 0x9B (a C1 control)"},
      {{"--license", temp / "missing.txt"}, 1, "missing.txt: cannot open the file of --licence"},
  };
  for (const Case& c : cases) {
    ProcessResult r = create(branded, c.options);
    EXPECT_EQ(r.exit_status, c.status) << c.options[0];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(path_exists(branded));
  }
}

}  // namespace
