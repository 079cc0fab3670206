// sasburn: flashes firmware and boot images to SAS-2 RAID/HBA controllers.
//
// Exit code 0 when the command line was parsed and every command succeeded,
// 1 otherwise.
#include "adapters.h"
#include "command_execution.h"
#include "command_line.h"

int main(int argc, char** argv) {
    print_banner();
    bool library_usable = start_library();
    // Enumeration runs even without a usable library; it then finds nothing.
    bool adapters_found = enumerate_adapters();
    clear_host_boot_attempts();
    return run_front_end(argc, argv, library_usable, adapters_found) ? 0 : 1;
}
