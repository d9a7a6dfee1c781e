#include "pack/vendor_text_input.h"

#include <cerrno>
#include <cstdio>
#include <optional>

#include "archive/text_characters.h"
#include "archive/vendor_texts.h"
#include "archive/vendor_texts_writer.h"
#include "pack/command_line.h"
#include "pack/failure.h"
#include "pack/messages.h"
#include "pack/text_escape.h"

namespace {

// Lines without their ends (a carriage return before a newline goes too),
// tabs expanded to stops of 8. A newline at the very end ends the last line.
// A form feed, the page break of plain-text licences, becomes the paragraph
// break of the page: one empty line. `origin` learns the line of `text`,
// from 1, that each line comes from.
std::vector<std::string> split_lines(const std::string& text, std::vector<size_t>* origin = nullptr) {
  std::vector<std::string> lines;
  size_t start = 0, number = 1;
  auto add = [&](std::string line) {
    lines.push_back(std::move(line));
    if (origin) origin->push_back(number);
  };
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line;
    bool paged = false;
    for (size_t i = start; i < end; i++)
      if (text[i] == '\t') {
        line.append(8 - line.size() % 8, ' ');
      } else if (text[i] == '\f') {
        if (!line.empty()) add(line);
        add("");
        line.clear();
        paged = true;
      } else if (text[i] != '\r' || i + 1 != end) {
        line += text[i];
      }
    if (!paged || !line.empty()) add(line);
    start = end + 1;
    number++;
  }
  return lines;
}

const char* control_name(uint32_t code) {
  switch (code) {
    case 0: return "NUL";
    case 7: return "bell";
    case 8: return "backspace";
    case 9: return "tab";
    case 10: return "line feed";
    case 11: return "vertical tab";
    case 12: return "form feed";
    case 13: return "carriage return";
    case 27: return "escape";
    case 127: return "delete";
    default: return code >= 0x80 ? "a C1 control" : "a C0 control";
  }
}

// The first character of `text` that a terminal would obey rather than show
// (text_characters.h), or a byte that is not UTF-8, which a vendor's text
// should not be. Lines end at newlines; `in_lines` texts also hold tabs, form
// feeds and carriage returns at line ends, which split_lines takes care of.
// Empty when there is none; else the problem, and `line` learns its line
// from 1.
std::string control_problem(const std::string& text, bool in_lines, size_t* line) {
  *line = 1;
  for (size_t i = 0; i < text.size();) {
    uint32_t code;
    size_t length = text_character_at(text.data(), text.size(), i, &code);
    if (code == '\n') {
      ++*line;
      i++;
      continue;
    }
    bool allowed = in_lines && (code == '\t' || code == '\f' || (code == '\r' && i + 1 < text.size() && text[i + 1] == '\n'));
    if (length > 0 && (allowed || !is_control_code(code))) {
      i += length;
      continue;
    }
    char number[32];
    if (length == 0)
      snprintf(number, sizeof number, "byte 0x%02X", unsigned(code));
    else
      snprintf(number, sizeof number, "U+%04X", unsigned(code));
    if (!is_control_code(code)) return std::string(number) + ", which is not part of UTF-8";
    return std::string("a control character, ") + number + " (" + control_name(code) + "), which a terminal would obey";
  }
  return "";
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); i++) text += (i ? "\n" : "") + lines[i];
  return text;
}

std::string read_text_file(const std::string& option, const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) throw Failure(system_failure(path, "cannot open the file of " + option, errno));
  std::string text;
  char buffer[65536];
  size_t n;
  // One byte past the limit is enough to refuse it.
  while (text.size() <= VENDOR_TEXTS_MAX_BODY && (n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  bool failed = ferror(f);
  int error_number = errno;
  fclose(f);
  if (failed) throw Failure(system_failure(path, "cannot read the file of " + option, error_number));
  return text;
}

[[noreturn]] void refuse(const std::string& text, const std::string& source, bool is_option, size_t line,
                          const std::string& problem) {
  if (is_option) throw UsageError("create", "option '" + source + "': '" + text + "': " + problem);
  throw Failure(source + ", line " + std::to_string(line) + ": " + problem);
}

// Where a text breaks the installer's rules, in the words of `source`.
void check(int which, const std::string& text, const std::string& source, bool is_option) {
  uint32_t line;
  const char* problem = vendor_text_problem(which, text.data(), text.size(), &line);
  if (problem) refuse(text, source, is_option, line, problem);
}

// Control characters are looked for in the text as given, so that the
// line named is the line of the file.
void check_controls(const std::string& text, const std::string& source, bool is_option, bool in_lines) {
  size_t line;
  std::string problem = control_problem(text, in_lines, &line);
  if (!problem.empty()) refuse(text, source, is_option, line, problem);
}

// Lines of any length, checked for what a terminal cannot show.
std::string plain_text(const std::string& text, const std::string& source, bool is_option) {
  check_controls(text, source, is_option, true);
  std::string joined = join(split_lines(text));
  check(VENDOR_NOTES, joined, source, is_option);
  return joined;
}

// A text of lines for the licence or the thanks: wrapped to the page.
std::string page_text(const std::string& text, const std::string& source, bool is_option) {
  size_t refused;
  plain_text(text, source, is_option);
  std::vector<size_t> origin;
  std::vector<std::string> lines = wrap_lines(split_lines(text, &origin), VENDOR_LINE_MAX, &refused);
  std::string where = is_option ? "option '" + source + "'" : source;
  if (refused)
    throw Failure(where + ", line " + std::to_string(origin[refused - 1]) + ": a word longer than the " +
                  std::to_string(VENDOR_LINE_MAX) + " characters of a line, which cannot be wrapped");
  return join(lines);
}

}  // namespace

std::vector<std::string> wrap_lines(const std::vector<std::string>& lines, size_t width, size_t* refused) {
  *refused = 0;
  std::vector<std::string> out;
  for (size_t number = 1; number <= lines.size(); number++) {
    std::string rest = lines[number - 1];
    while (rest.size() > width) {
      size_t blank = rest.rfind(' ', width);
      size_t end = blank == std::string::npos ? 0 : rest.find_last_not_of(' ', blank);
      if (blank == std::string::npos || end == std::string::npos) {
        *refused = number;
        return {};
      }
      out.push_back(rest.substr(0, end + 1));
      size_t next = rest.find_first_not_of(' ', blank);
      rest = next == std::string::npos ? "" : rest.substr(next);
    }
    out.push_back(rest);
  }
  return out;
}

std::string vendor_texts_block(const CreateOptions& o) {
  std::optional<std::string> texts[VENDOR_TEXT_COUNT];
  if (o.title) {
    check_controls(*o.title, "--title", true, false);
    check(VENDOR_TITLE, *o.title, "--title", true);
    texts[VENDOR_TITLE] = *o.title;
  }
  if (o.thanks) texts[VENDOR_THANKS] = page_text(*o.thanks, "--thanks", true);
  if (o.default_dir) {
    const std::string& dir = *o.default_dir;
    check_controls(dir, "--default-dir", true, false);
    check(VENDOR_DIRECTORY, dir, "--default-dir", true);
    const char* warning = nullptr;
    if (dir == "/" || dir == "/." || dir == "/..")
      warning = "the root directory";
    else if (dir.find("/bin/") != std::string::npos)
      warning = "a 'bin' directory";
    else if (dir.rfind("/usr/", 0) != 0 && dir.rfind("/home/", 0) != 0)
      warning = "a place outside '/usr/' and '/home/'";
    if (warning)
      print_note("--default-dir " + dir + ": the directory page warns about " + warning +
                 " and waits for an answer, with -autonext too");
    texts[VENDOR_DIRECTORY] = dir;
  }
  if (o.licence_file) {
    std::string text = read_text_file("--licence", *o.licence_file);
    if (split_lines(text).empty()) throw Failure(*o.licence_file + ": the licence agreement is empty");
    texts[VENDOR_LICENCE] = page_text(text, *o.licence_file, false);
  }
  if (o.notes_file) {
    std::string text = plain_text(read_text_file("--notes", *o.notes_file), *o.notes_file, false);
    texts[VENDOR_NOTES] = text.empty() ? text : text + "\n";
  }

  size_t body = 0;
  for (const auto& text : texts) body += text ? text->size() + 1 : 0;
  if (body > VENDOR_TEXTS_MAX_BODY)
    throw Failure("the texts take " + std::to_string(body) + " bytes; an installer carries at most " +
                  std::to_string(VENDOR_TEXTS_MAX_BODY));
  std::string block = build_vendor_texts(texts);
  // What the installer will read, checked by the installer's own reader (on a
  // copy: it turns the licence's line ends into NULs).
  if (!block.empty()) {
    std::string copy = block;
    VendorTexts parsed;
    int result = parse_vendor_texts(reinterpret_cast<uint8_t*>(copy.data()), uint32_t(copy.size()), &parsed);
    release_vendor_texts(&parsed);
    if (result != VENDOR_TEXTS_OK)
      throw Failure(std::string("the texts do not read back: ") + vendor_texts_message(result));
  }
  return block;
}
