// --uninstall: removes what this product's installations put below a
// directory and nobody changed since.
#pragma once

// The exit status; failures end the process with their message.
int uninstall_product_below(const char* directory);
