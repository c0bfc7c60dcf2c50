#include "taskmem.h"

#include <cstdlib>

void* CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }
void* CoTaskMemRealloc(void* block, size_t size) { return std::realloc(block, size ? size : 1); }
void CoTaskMemFree(void* block) { std::free(block); }
