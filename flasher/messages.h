// The single message buffer through which every line sasburn prints passes.
//
// A message is formatted into pending_message (replacing what was there) and
// handed to emit with an output class. Classes 0, 1 and 2 are written to
// standard output exactly as they stand; classes 3 (chip status) and 4
// (diagnostic detail) are discarded. A message longer than the buffer is cut at
// the buffer, never overrun.
#pragma once

#include <cstddef>

inline constexpr size_t kPendingMessageSize = 512;
extern char pending_message[kPendingMessageSize];

enum OutputClass : int {
    OUTPUT_PROMPT = 0,   // a question to the operator
    OUTPUT_ERROR = 1,    // parse and start-up errors
    OUTPUT_NORMAL = 2,   // everything operations print
    OUTPUT_CHIP_STATUS = 3,
    OUTPUT_DETAIL = 4,
};

void emit(int output_class);

// Formats into pending_message, then emits it.
void emitf(int output_class, const char* format, ...) __attribute__((format(printf, 2, 3)));
