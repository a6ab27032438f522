// A request to stop, shared by everything that may run long: the batch
// command's Ctrl-C or SIGTERM handler sets it, and loops that read rows,
// write files or wait on an engine look at it and end with vov::Abort,
// leaving nothing half-done behind.
#ifndef VOVARIZE_DATA_INTERRUPT_H
#define VOVARIZE_DATA_INTERRUPT_H

namespace vov {

// Safe to call from a signal handler.
void requestInterrupt();
bool interruptRequested();
void clearInterrupt();

// Raises vov::Abort when a stop has been requested.
void checkInterrupt();

}  // namespace vov

#endif
