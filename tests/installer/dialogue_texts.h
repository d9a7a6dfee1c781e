// The dialogue's texts as the user sees them, and a runner for the real
// installer, shared by the dialogue tests. The texts are written out here
// byte for byte rather than taken from the installer's sources, so that a
// changed text shows up as a failure.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/licence_lines.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"
#include "tests/support/process.h"

namespace dialogue {

// The default TestHeader: QUMBA 7.1 for Linux x86_64, built 2 May 2023
// 21:21:47 UTC, requiring 14194286 bytes.
inline const std::string kWelcome =
    "\n\nZOLT(R) Software Installation\n\n"
    "Thanks for purchasing ZOLT(R) imaging products.\n\n"
    "Let's install  QUMBA 7.1 Linux x86_64 software! (build 230502.212147) !\n";
inline const std::string kNextCancel = "\n[Next? Cancel?]: ";
inline const std::string kLicenceQuestion =
    "\nHave you read, and do you accept, the terms of this Software License Agreement?\n"
    "\n[Display? Slowdisplay? Accept? Print? Cancel?]: ";
inline const std::string kHeading =
    "\n\nPlease select a directory for installation of\n"
    "    QUMBA  7.1\n"
    "requiring approximately 13.537 MiByte of space.\n";
inline const std::string kDefaultOffer =
    "\n\nDefault directory: /usr/local/qumba.\n"
    "\nUse the default directory? [No? Yes? Cancel?]: ";
inline const std::string kEnter = "\n\nEnter directory >";
inline const std::string kMustSelect = "\n\nA directory must be selected.\n\nSelect a directory? [Ok? Cancel?]: ";
inline const std::string kRejected = "\nSelect a different directory! [Ok? Cancel?]: ";
inline const std::string kWarned = "\nSelect a different directory? [No? Yes? Cancel?]: ";
inline const std::string kSpaces =
    "\n\nInstallation into a directory path containing spaces is not recommended.\n" + kRejected;
inline const std::string kTooLong = "\n\nDirectory path is too long.\n" + kRejected;
inline const std::string kRoot = "\n\nInstallation into the root directory is not recommended.\n" + kWarned;
inline const std::string kIsFile = "\n\nThe directory already exists as a file.\n" + kRejected;
inline const std::string kBin = "\n\nInstalling into a 'bin' directory is not recommended.\n" + kWarned;
inline const std::string kPlace =
    "\n\nInstalling anywhere other than under '/usr' or '/home' directories is not recommended.\n" +
    kWarned;
inline const std::string kBackNextCancel = "\n[Back? Next? Cancel?]: ";
inline std::string existing_directory(const std::string& path) {
  return "\n\nThe directory \n    " + path +
         "\nalready exists!\n\n"
         "Installing into a different directory is prudent -\n"
         "in the unlikely event of a media failure, the\n"
         "previous functioning version remains intact.\n"
         "After the new version has been installed\n"
         "into a different directory and sucessfully used,\n"
         "the old version's directory can be deleted with\n"
         "standard O.S. commands.\n\n"
         "Select 'Next' to proceed with the installation,\n"
         "or 'Back' to select a different directory.\n" +
         kBackNextCancel;
}
// What the installation writes for an attachment without entries.
inline const std::string kInstalling = "\n\n.... Installing files ....\n\n";
inline const std::string kFilesInstalled =
    "\n\nFiles installed!\n"
    "See \"Library Installation\" in the QUMBA 'C' Library Reference Manual\n"
    "for hardware and software configuration options.\n\n"
    "Also, see files:\n"
    "QUMBADST.TXT Describes the various files installed.\n"
    "QUMBARLS.TXT Up-to-the minute release notes.\n"
    "QUMBA.HTM    The full QUMBA Reference Manual.\n\n"
    "If the TORMA C/C++ Library was also installed:\n"
    "TORMADST.TXT Describes the various files installed.\n"
    "TORMARLS.TXT Up-to-the minute release notes.\n";
inline const std::string kComplete = "\n\nInstallation complete.\n\n";
inline const std::string kTerminated = "\n\nInstallation terminated.\n";

// The agreement as shown in normal mode.
inline std::string licence_display() {
  std::string text = "\n\n";
  for (const char* const* line = licence_lines; *line; line++) text += std::string(*line) + "\n";
  return text;
}

// Up to the entry of a path: welcome and licence passed, the default declined.
inline const std::string kInputToEntry = "n\na\nn\n";
inline std::string output_to_entry() {
  return kWelcome + kNextCancel + licence_display() + kLicenceQuestion + kHeading + kDefaultOffer + kEnter;
}
// After a path is accepted that is not an existing directory.
inline const std::string kOutputFromInstall = kInstalling + kFilesInstalled + kBackNextCancel + kComplete;

// One installer with no entries for every test of a program.
inline const std::string& installer_path() {
  static TempDir dir;
  static const std::string path = [] {
    std::string p = dir / "qumba-setup";
    write_installer(p, {});
    return p;
  }();
  return path;
}

// Runs the installer on `input`; what it writes to standard error. Standard
// output must stay empty, the exit status be 0 after completion (1 is left
// open after a termination: a key's cancel is 0, input that ended is 1), and
// it must not hang.
inline std::string run_dialogue(const std::string& input, const std::vector<std::string>& args = {},
                                const std::string& cwd = "") {
  ProcessOptions options;
  options.input = input;
  options.args = args;
  options.cwd = cwd;
  options.timeout_seconds = 20;
  ProcessResult r = run_process(installer_path(), options);
  EXPECT_FALSE(r.timed_out);
  const std::string ending = "\n\nInstallation terminated.\n";
  const bool terminated = r.err.size() >= ending.size() && r.err.compare(r.err.size() - ending.size(), ending.size(), ending) == 0;
  EXPECT_TRUE(r.exit_status == 0 || (terminated && r.exit_status == 1)) << r.exit_status;
  EXPECT_EQ(r.out, "");
  return r.err;
}

}  // namespace dialogue
