#include "installer/prompts.h"

#include <cstdio>
#include <iterator>

#include "installer/answers.h"
#include "installer/console_input.h"
#include "installer/installer_state.h"

namespace {

// No locale is set; letters fold as plain ASCII whatever the environment says.
int ascii_lower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

}  // namespace

int choice_prompt(const char* question, const int* keys, const char* choices, const int* results,
                  int key_count, int default_answer) {
  if (autonext && default_answer != 0) return default_answer;
  for (;;) {
    fputc('\n', stderr);
    if (question) fprintf(stderr, "%s ", question);
    fprintf(stderr, "[%s]: ", choices);
    for (;;) {
      int c = getchar();
      // A NUL ends the question at once, leaving the rest of its line unread.
      if (c == EOF || c == 0) return ANSWER_CANCEL;
      c = ascii_lower(c);
      if (c == '\n') break;
      for (int i = 0; i < key_count; i++)
        if (keys[i] == c) return drop_line() ? results[i] : ANSWER_CANCEL;
    }
  }
}

int ask_no_yes_cancel(const char* question, int default_answer) {
  // The text names No first; the key table begins with y.
  static const int keys[] = {'y', 'n', 'c'};
  static const int results[] = {ANSWER_YES, ANSWER_NO, ANSWER_CANCEL};
  static_assert(std::size(keys) == std::size(results));
  return choice_prompt(question, keys, "No? Yes? Cancel?", results, int(std::size(keys)), default_answer);
}

int ask_back_next_cancel() {
  static const int keys[] = {'c', 'n', 'b'};
  static const int results[] = {ANSWER_CANCEL, ANSWER_NEXT, ANSWER_BACK};
  static_assert(std::size(keys) == std::size(results));
  return choice_prompt(nullptr, keys, "Back? Next? Cancel?", results, int(std::size(keys)), ANSWER_NEXT);
}

int ask_ok_cancel(const char* question) {
  static const int keys[] = {'c', 'o'};
  static const int results[] = {ANSWER_CANCEL, ANSWER_OK};
  static_assert(std::size(keys) == std::size(results));
  return choice_prompt(question, keys, "Ok? Cancel?", results, int(std::size(keys)), 0);
}
