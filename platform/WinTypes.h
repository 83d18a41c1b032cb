#pragma once
// The few Win32 names the program's logic is written with.
#include <cstdint>

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
typedef intptr_t INT_PTR;
