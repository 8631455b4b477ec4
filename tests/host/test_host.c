#include <stdio.h>
#include "varnel/varnel.h"
int main(void) { printf("%d\n", varnel_abi_version()); return 0; }
