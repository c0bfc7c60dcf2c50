#include "buffers.h"

#include <algorithm>

HRESULT RequestBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, LONG count, LONG size)
{
    request->cBuffers = std::max(request->cBuffers, count);
    request->cbBuffer = std::max(request->cbBuffer, size);
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
}
