// Start-up, enumeration and the command loop of sasburn.
#pragma once

#include "commands.h"
#include "operations.h"

// Binds command codes to their handlers; ends with a row of code 0.
struct OperationRow {
    CommandCode code;
    OperationHandler handler;
};
extern const OperationRow operation_table[];
// The table process_commands dispatches through; reset_parse_state points it
// at operation_table.
extern const OperationRow* handler_table;

// Marks the file table free, clears the state table and starts the library;
// true when the library is usable.
bool start_library();
// Fills adapter_list from the library; true when at least one controller was found.
bool enumerate_adapters();
// Everything after enumeration: parse state, limited mode, the words, the run.
bool run_front_end(int count, char** words, bool library_usable, bool adapters_found);
// Takes the next command in the fixed order into current_command.
bool next_command();
// Runs every queued command and prints the end-of-run lines.
bool process_commands();
