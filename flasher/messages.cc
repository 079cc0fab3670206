// The single message buffer and the output classes (see messages.h).
#include "messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

char pending_message[kPendingMessageSize];

namespace {

bool class_is_written(int output_class) {
    return output_class == OUTPUT_PROMPT || output_class == OUTPUT_ERROR ||
           output_class == OUTPUT_NORMAL;
}

}  // namespace

void emit(int output_class) {
    // strnlen keeps the walk inside the buffer even if a writer forgot the NUL.
    size_t length = strnlen(pending_message, kPendingMessageSize);
    if (class_is_written(output_class) && length > 0) {
        fwrite(pending_message, 1, length, stdout);
        // A prompt must be on the screen before the program waits for the answer.
        if (output_class == OUTPUT_PROMPT) fflush(stdout);
    }
    pending_message[0] = '\0';
}

void emitf(int output_class, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    // vsnprintf cuts a longer message at the buffer and always terminates it.
    vsnprintf(pending_message, kPendingMessageSize, format, arguments);
    va_end(arguments);
    emit(output_class);
}
