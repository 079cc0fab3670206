// Configuration page requests (function 0x04) against a controller's pages.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "request_frames.h"
#include "scenario.h"

namespace fmxsim {

// Answers one configuration request: the header action returns the page header
// (and the extended length of an extended page); the read actions return the
// chosen copy as data-in; the write actions store data-out into the chosen copy.
Response handle_config_request(std::vector<PageSpec>& pages, std::span<const uint8_t> frame,
                               std::span<const uint8_t> data_out);

// The toolbox clean of the persistent pages: every non-volatile copy becomes
// its default again.
void reset_nonvolatile_pages(std::vector<PageSpec>& pages);

// After a reset the controller runs with the values it keeps in non-volatile
// storage.
void load_current_from_nonvolatile(std::vector<PageSpec>& pages);

}  // namespace fmxsim
