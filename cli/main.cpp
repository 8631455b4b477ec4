#include <cstdio>
#include "varnel/varnel.h"
int main() { std::printf("%d\n", varnel_abi_version()); }
