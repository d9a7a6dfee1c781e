// The licence page shows the agreement once on entry, then asks until the
// user accepts or cancels. Slow display waits for Enter after each line; the
// terminal's echo of that Enter is what ends the line on the screen.
#include "installer/licence_page.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>

#include "installer/answers.h"
#include "installer/console_input.h"
#include "installer/installer_state.h"
#include "installer/licence_lines.h"
#include "installer/pages.h"
#include "installer/prompts.h"

static_assert(VENDOR_LINE_MAX == LICENCE_LINE_MAX, "a vendor's agreement keeps to the page width");

namespace {

// The vendor's agreement, else the one built into the installer.
const char* const* agreement() {
  return vendor_texts.licence_lines ? vendor_texts.licence_lines : licence_lines;
}

// 0 when input ended during a slow display.
int show_licence(bool slow) {
  fputs("\n\n", stderr);
  for (const char* const* line = agreement(); *line; line++) {
    fputs(*line, stderr);
    if (!slow)
      fputc('\n', stderr);
    else if (!drop_line())
      return 0;
  }
  return 1;
}

}  // namespace

int print_licence(const char* device) {
  // As fopen's "w", but without O_CREAT: where no printer exists, a
  // privileged installer would otherwise leave a regular file in its place.
  int fd = open(device, O_WRONLY | O_TRUNC | O_NOCTTY);
  if (fd < 0) return 0;
  FILE* printer = fdopen(fd, "w");
  if (!printer) {
    close(fd);
    return 0;
  }
  for (const char* const* line = agreement(); *line; line++) fprintf(printer, "%s\r\n", *line);
  fputc('\f', printer);
  fclose(printer);
  return 1;
}

int licence_page() {
  static const int keys[] = {'d', 's', 'a', 'p', 'c'};
  static const int results[] = {ANSWER_DISPLAY, ANSWER_SLOWDISPLAY, ANSWER_ACCEPT, ANSWER_PRINT,
                                ANSWER_CANCEL};
  static_assert(std::size(keys) == std::size(results));

  if (licence_accepted) {
    if (!quiet) fputs("\n\nThe licence agreement is accepted (--accept-licence).\n", stderr);
    return ANSWER_NEXT;
  }
  if (!show_licence(false)) return ANSWER_CANCEL;
  for (;;) {
    fputs("\nHave you read, and do you accept, the terms of this Software License Agreement?\n",
          stderr);
    // No default: the agreement is never accepted on the user's behalf, not
    // even with -autonext.
    switch (choice_prompt(nullptr, keys, "Display? Slowdisplay? Accept? Print? Cancel?", results,
                          int(std::size(keys)), 0)) {
      case ANSWER_ACCEPT:
        return ANSWER_NEXT;
      case ANSWER_CANCEL:
        return ANSWER_CANCEL;
      case ANSWER_DISPLAY:
        if (!show_licence(false)) return ANSWER_CANCEL;
        break;
      case ANSWER_SLOWDISPLAY:
        if (!show_licence(true)) return ANSWER_CANCEL;
        break;
      case ANSWER_PRINT:
        // A missing printer is not reported; the question is asked again.
        print_licence(LICENCE_PRINTER);
        break;
    }
  }
}
