// The real installer walked from the welcome page to its end through a pipe:
// the pages, their prompts, -autonext, and the end of input at every place
// that reads it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer/directory_selection.h"
#include "tests/installer/dialogue_texts.h"

namespace {

using namespace dialogue;

const std::string kToDefault =
    kWelcome + kNextCancel + licence_display() + kLicenceQuestion + kHeading + kDefaultOffer;

TEST(Dialogue, WalksFromWelcomeToCompletion) {
  if (is_directory("/usr/local/qumba") == 1) GTEST_SKIP() << "/usr/local/qumba exists on this machine";
  EXPECT_EQ(run_dialogue("n\na\ny\nn\n"), kToDefault + kOutputFromInstall);
  // Upper-case keys, keys inside words, and stray characters before them.
  EXPECT_EQ(run_dialogue("  x Next\nACCEPT\nyes please\nNext\n"), kToDefault + kOutputFromInstall);
}

TEST(Dialogue, AutonextWaitsOnlyForTheLicence) {
  if (is_directory("/usr/local/qumba") == 1) GTEST_SKIP() << "/usr/local/qumba exists on this machine";
  EXPECT_EQ(run_dialogue("a\n", {"-autonext"}),
            kWelcome + licence_display() + kLicenceQuestion + kHeading +
                "\n\nDefault directory: /usr/local/qumba.\n" + kInstalling + kFilesInstalled + kComplete);
}

// The welcome line of an installer built with `header`, its name field
// filled to all 64 bytes when `full_name`.
std::string welcome_line(const TestHeader& header, bool full_name = false) {
  TempDir dir;
  std::string image = read_file(setup_binary());
  std::string bytes = build_installer(image, header, {});
  if (full_name) {
    uint8_t* h = reinterpret_cast<uint8_t*>(bytes.data()) + header_offset_for(image.size());
    memset(h + HEADER_PRODUCT_NAME, 'N', HEADER_TEXT_SIZE);
    put_u16(h + HEADER_CRC, 0);
    put_u16(h + HEADER_CRC, test_crc16(std::string(reinterpret_cast<char*>(h), HEADER_SIZE)));
  }
  write_file(dir / "setup", bytes, 0755);
  ProcessOptions options;
  options.input = "c\n";
  std::string err = run_process(dir / "setup", options).err;
  size_t start = err.find("Let's"), end = err.find('\n', start);
  return start == std::string::npos ? err : err.substr(start, end - start);
}

TEST(Dialogue, WelcomeLineFromTheHeader) {
  TestHeader header;
  header.build_time = 946684799;  // 1999-12-31 23:59:59 UTC
  EXPECT_EQ(welcome_line(header), "Let's install  QUMBA 7.1 Linux x86_64 software! (build 991231.235959) !");
  header.build_time = 946684800;
  header.product_name = "Q";
  header.product_version = "";
  EXPECT_EQ(welcome_line(header), "Let's install  Q  Linux x86_64 software! (build 000101.000000) !");
  // A text field without its NUL is shown up to its 63rd byte only.
  EXPECT_EQ(welcome_line(header, true),
            "Let's install  " + std::string(63, 'N') + "  Linux x86_64 software! (build 000101.000000) !");
}

TEST(Dialogue, CancelAndNulOnTheFirstPages) {
  EXPECT_EQ(run_dialogue("\nC\n"), kWelcome + kNextCancel + kNextCancel + kTerminated);
  EXPECT_EQ(run_dialogue(std::string("\0n\n", 3)), kWelcome + kNextCancel + kTerminated);
  EXPECT_EQ(run_dialogue(std::string("n\n\0a\n", 5)),
            kWelcome + kNextCancel + licence_display() + kLicenceQuestion + kTerminated);
}

TEST(Dialogue, LicenceDisplayAndSlowDisplay) {
  // Display shows the agreement again; slow display writes each line without
  // its newline and reads one line of input for it, empty lines included.
  std::string slow = "\n\n";
  std::string enters;
  for (const char* const* line = licence_lines; *line; line++) {
    slow += *line;
    enters += "\n";
  }
  EXPECT_EQ(run_dialogue("n\nd\ns\n" + enters + "c\n"),
            kWelcome + kNextCancel + licence_display() + kLicenceQuestion + licence_display() +
                kLicenceQuestion + slow + kLicenceQuestion + kTerminated);
  // A NUL byte ends a line of slow display as a newline does.
  std::string nuls(enters.size(), '\0');
  EXPECT_EQ(run_dialogue("n\ns\n" + nuls + "c\n"),
            kWelcome + kNextCancel + licence_display() + kLicenceQuestion + slow + kLicenceQuestion +
                kTerminated);
}

TEST(Dialogue, PrintWithoutAPrinterAsksAgain) {
  struct stat st;
  bool had_printer = stat("/dev/lp0", &st) == 0;
  if (had_printer) GTEST_SKIP() << "this machine has /dev/lp0";
  EXPECT_EQ(run_dialogue("n\np\nP\nc\n"), kWelcome + kNextCancel + licence_display() +
                                              kLicenceQuestion + kLicenceQuestion + kLicenceQuestion +
                                              kTerminated);
  // Printing must not create the device where there is none.
  EXPECT_NE(stat("/dev/lp0", &st), 0);
}

TEST(Dialogue, ExistingDirectoryWarning) {
  TempDir dir;
  const std::string base = output_to_entry() + kPlace;
  // Next installs into it.
  EXPECT_EQ(run_dialogue(kInputToEntry + dir.path() + "\nn\nn\nn\n"),
            base + existing_directory(dir.path()) + kOutputFromInstall);
  // Back returns to the directory page, which now offers the chosen directory.
  EXPECT_EQ(run_dialogue(kInputToEntry + dir.path() + "\nn\nb\nc\n"),
            base + existing_directory(dir.path()) + kHeading + "\n\nDefault directory: " + dir.path() +
                ".\n" + "\nUse the default directory? [No? Yes? Cancel?]: " + kTerminated);
  // A path that does not exist draws no warning.
  EXPECT_EQ(run_dialogue(kInputToEntry + dir.path() + "/new\nn\nn\n"), base + kOutputFromInstall);
}

TEST(Dialogue, BackOnTheFilesInstalledNoticeShowsItAgain) {
  TempDir dir;
  EXPECT_EQ(run_dialogue(kInputToEntry + dir.path() + "/new\nn\nb\nB\nn\n"),
            output_to_entry() + kPlace + kInstalling + kFilesInstalled + kBackNextCancel + kFilesInstalled +
                kBackNextCancel + kFilesInstalled + kBackNextCancel + kComplete);
}

// Every place that reads standard input, with the input ending right there:
// each ends as a Cancel would, with status 0, and none of them spins.
TEST(Dialogue, EndOfInputCancelsWherever) {
  TempDir dir;
  write_file(dir / "file", "x");
  const std::string to_entry = output_to_entry();
  struct Case {
    const char* where;
    std::string input;
    std::string output;
  } cases[] = {
      {"welcome prompt", "", kWelcome + kNextCancel},
      {"rest of a line after a key", "n", kWelcome + kNextCancel},
      {"licence prompt", "n\n", kWelcome + kNextCancel + licence_display() + kLicenceQuestion},
      {"slow display", "n\ns\n\n\n",
       kWelcome + kNextCancel + licence_display() + kLicenceQuestion + "\n\n" + licence_lines[0] +
           licence_lines[1] + licence_lines[2]},
      {"default offer", "n\na\n", kToDefault},
      {"path entry", kInputToEntry, to_entry},
      {"path entry, inside a line", kInputToEntry + "/usr/lo", to_entry},
      {"empty path", kInputToEntry + "\n", to_entry + kMustSelect},
      {"rejection", kInputToEntry + dir.path() + "/file\n", to_entry + kIsFile},
      {"warning", kInputToEntry + "/\n", to_entry + kRoot},
      {"existing directory", kInputToEntry + dir.path() + "\nn\n",
       to_entry + kPlace + existing_directory(dir.path())},
      {"files installed", kInputToEntry + dir.path() + "/new\nn\n", to_entry + kPlace + kInstalling + kFilesInstalled + kBackNextCancel},
  };
  for (const Case& c : cases) EXPECT_EQ(run_dialogue(c.input), c.output + kTerminated) << c.where;
}

}  // namespace
