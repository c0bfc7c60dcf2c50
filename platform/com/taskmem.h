// Task memory: buffers handed across interfaces and freed by the receiver.
#pragma once

#include <cstddef>

void* CoTaskMemAlloc(size_t size);
void* CoTaskMemRealloc(void* block, size_t size);
void CoTaskMemFree(void* block);
