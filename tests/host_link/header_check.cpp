// The same checks as header_check.c, through a C++ compiler.
#include "header_check.c"
