#pragma once

/// Returns heap memory the process has freed to the system.
///
/// A step that builds and drops many small temporary blocks (the parsed
/// product ini, the list step's per-file strings) leaves them free inside the
/// heap but still resident: blocks that live on sit among them, so the heap
/// cannot shrink from its end, and the later steps' large buffers are mapped
/// apart from the heap and never reuse them. With glibc every wholly free
/// page of every arena is handed back; elsewhere this does nothing.
class HeapTrim {
public:
    HeapTrim() = delete;

    /// Safe from any thread; costs a walk over the free blocks, so it is
    /// meant for the end of a step, not for every file.
    static void releaseFreedMemory();
};
