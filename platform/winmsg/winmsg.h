// Window handles for posted messages. A host creates a handle with a handler; any thread
// may post to it; the messages of one handle reach its handler in posting order.
//
// Two delivery modes: with a `wake` callback, PostMessageW queues the message and calls
// wake (on the posting thread); the host then calls DispatchWindowMessages on its own thread
// (Qt: a queued invocation; a CLI: its loop). Without wake, the handler runs on the posting
// thread, serialised per handle.
#pragma once

#include <functional>

#include "../com/wintypes.h"

using HWND = uint32_t;  // 0 is "no window"
using WindowMessageHandler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;

constexpr UINT WM_USER = 0x0400;

HWND CreateMessageWindow(WindowMessageHandler handler, std::function<void()> wake = nullptr);
// After this returns no handler call for the handle is running or will start.
void DestroyMessageWindow(HWND window);
// FALSE for 0, unknown or destroyed handles.
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Delivers the queued messages of the handle; returns how many were delivered.
size_t DispatchWindowMessages(HWND window);
// Blocks up to timeoutMs for a queued message, then dispatches what is queued.
size_t WaitAndDispatchWindowMessages(HWND window, int timeoutMs);
