// The licence agreement page and its printing.
#pragma once

// The printer that the licence page prints to.
constexpr const char LICENCE_PRINTER[] = "/dev/lp0";

// Writes every line of the agreement (the vendor's, else the built-in one) to
// `device` ended by "\r\n", then a form feed. The device must exist: it is
// never created, so that a missing printer leaves no stray file behind. 0 when
// it cannot be opened, else 1; write errors are not reported.
int print_licence(const char* device);
