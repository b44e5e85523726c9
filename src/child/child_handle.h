// The child process handle shared by the main thread and the console event
// handler. Each user takes a reference; whoever drops the last one closes
// the handle, so it is closed exactly once and never used after its close.
#pragma once

#include "platform/platform.h"

// Main thread: makes a started child visible to the handler (one reference).
void child_handle_publish(kay_process process);
// Takes a reference to the current child; an invalid handle when there is none.
kay_process child_handle_acquire(void);
// Drops a reference taken by publish or acquire; the last one closes.
void child_handle_release(kay_process process);
