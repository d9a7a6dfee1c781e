// The licence agreement: the shape of the sample text, the table built from
// the configured text, the build script's refusals, and printing.
#include "installer/licence_lines.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "installer/licence_page.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> table() {
  std::vector<std::string> lines;
  for (const char* const* line = licence_lines; *line; line++) lines.push_back(*line);
  return lines;
}

TEST(Licence, SampleAgreementHasItsShape) {
  std::vector<std::string> lines = lines_of(read_file(ZOLT_SAMPLE_LICENCE));
  ASSERT_EQ(lines.size(), 114u);
  int empty = 0;
  for (size_t i = 0; i < lines.size(); i++) {
    EXPECT_LE(lines[i].size(), size_t(LICENCE_LINE_MAX)) << "line " << i + 1;
    EXPECT_EQ(lines[i].find_first_of("\r\t"), std::string::npos) << "line " << i + 1;
    if (lines[i].empty()) {
      empty++;
      // Empty lines separate paragraphs: never first, last or twice in a row.
      EXPECT_TRUE(i > 0 && i + 1 < lines.size() && !lines[i - 1].empty()) << "line " << i + 1;
    }
  }
  EXPECT_EQ(empty, 13);
}

TEST(Licence, TableHoldsTheConfiguredText) {
  EXPECT_EQ(table(), lines_of(read_file(ZOLT_CONFIGURED_LICENCE)));
}

struct Script {
  int status;
  std::string messages;
  std::string source;
};

Script run_script(const std::string& text) {
  TempDir dir;
  write_file(dir / "agreement.txt", text);
  ProcessOptions options;
  options.args = {"-DLICENCE_FILE=" + (dir / "agreement.txt"), "-DOUTPUT=" + (dir / "lines.cc"), "-P",
                  ZOLT_LICENCE_SCRIPT};
  ProcessResult r = run_process(ZOLT_CMAKE_COMMAND, options);
  // CMake wraps its messages; put them back on one line.
  std::string messages;
  for (char c : r.err + r.out)
    if (!isspace(static_cast<unsigned char>(c)))
      messages += c;
    else if (!messages.empty() && messages.back() != ' ')
      messages += ' ';
  Script s{r.exit_status, messages, ""};
  if (path_exists(dir / "lines.cc")) s.source = read_file(dir / "lines.cc");
  return s;
}

TEST(Licence, ScriptRefusesLongLinesAndControlCharacters) {
  const std::string ok(74, 'k');
  Script s = run_script("first\n\n" + ok + "\n");
  EXPECT_EQ(s.status, 0) << s.messages;
  EXPECT_NE(s.source.find("    \"" + ok + "\",\n    nullptr,\n"), std::string::npos) << s.source;

  s = run_script("first\n\n" + ok + "x\nlast\n");
  EXPECT_NE(s.status, 0);
  EXPECT_NE(s.messages.find("agreement.txt, line 3: 75 characters"), std::string::npos) << s.messages;
  EXPECT_EQ(s.source, "");

  s = run_script("one\ttab\n");
  EXPECT_NE(s.status, 0);
  EXPECT_NE(s.messages.find("agreement.txt, line 1: a control character"), std::string::npos) << s.messages;
}

TEST(Licence, ScriptEscapesAndSplitsLines) {
  // Backslashes and quotes are escaped, semicolons and brackets kept, DOS
  // line ends dropped, and a last line without its newline still counts.
  Script s = run_script("a \\ b \"q\"; [c]\r\n\r\n${x} @y@\nlast");
  ASSERT_EQ(s.status, 0) << s.messages;
  EXPECT_NE(s.source.find("{\n"
                          "    \"a \\\\ b \\\"q\\\"; [c]\",\n"
                          "    \"\",\n"
                          "    \"${x} @y@\",\n"
                          "    \"last\",\n"
                          "    nullptr,\n"
                          "};\n"),
            std::string::npos)
      << s.source;
  // A line of 74 characters counts its bytes, the carriage return not among them.
  EXPECT_EQ(run_script(std::string(74, 'c') + "\r\n").status, 0);
}

TEST(Licence, PrintsEveryLineWithCarriageReturnsAndAFormFeed) {
  TempDir dir;
  write_file(dir / "printer", "old contents, longer than nothing");
  ASSERT_EQ(print_licence((dir / "printer").c_str()), 1);
  std::string expected;
  for (const std::string& line : table()) expected += line + "\r\n";
  EXPECT_EQ(read_file(dir / "printer"), expected + "\f");
  // A device that is not there is not created.
  EXPECT_EQ(print_licence((dir / "lp0").c_str()), 0);
  EXPECT_FALSE(path_exists(dir / "lp0"));
}

}  // namespace
