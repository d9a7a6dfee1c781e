// Single-key questions on one text line: the prompt lists its choices in
// brackets, and the first character of the typed line that is one of the
// prompt's keys selects the answer (installer/answers.h).
#pragma once

// Writes "\n", then "QUESTION " when `question` is not null, then
// "[CHOICES]: ", and reads. `keys` holds `key_count` lower-case characters
// (upper-case input matches them too); `results[i]` is the answer for
// `keys[i]`. The first key of a line wins and the rest of that line is
// dropped; a newline before any key writes the prompt again; other characters
// are skipped. A NUL byte, and the end of input anywhere, give ANSWER_CANCEL.
// With autonext set, a `default_answer` other than 0 is returned at once,
// without writing or reading anything. Enter alone never picks the default.
int choice_prompt(const char* question, const int* keys, const char* choices, const int* results,
                  int key_count, int default_answer);

// "QUESTION [No? Yes? Cancel?]: ", keys y n c; `default_answer` may be 0.
int ask_no_yes_cancel(const char* question, int default_answer);

// "[Back? Next? Cancel?]: ", keys c n b, default ANSWER_NEXT.
int ask_back_next_cancel();

// "QUESTION [Ok? Cancel?]: ", keys c o, no default.
int ask_ok_cancel(const char* question);
