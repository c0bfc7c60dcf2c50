// Allocator negotiation shared by the filters' output pins.
#pragma once

#include "dshow/strmif.h"

// Asks for at least `count` buffers of at least `size` bytes, keeping what the peer asked
// beyond that.
HRESULT RequestBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, LONG count, LONG size);
