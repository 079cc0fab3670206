// One emulated controller: it answers request frames the way the controller
// firmware does, and keeps its configuration pages and flash regions.
//
// Every reply carries the request's function code in byte 3, the IOC status at
// 14 and the log info at 16. A function the controller does not know answers
// IOC status 0x0001. Firmware transfers must use the frame form of the
// controller's generation (short for device IDs 144-151, long otherwise); the
// other form answers 0x0004.
#pragma once

#include <cstdint>
#include <map>
#include <span>

#include "flash_regions.h"
#include "request_frames.h"
#include "scenario.h"

namespace fmxsim {

class Controller {
public:
    explicit Controller(ControllerSpec spec);

    // Carries out one request frame.
    Response handle(std::span<const uint8_t> frame, std::span<const uint8_t> data_out);

    // Counts one request of `function` and returns the scenario fault that hits
    // it, if any. The driver calls this before carrying a request out.
    const RequestFault* count_request(uint8_t function);

    // The hard reset: uncommitted download segments are dropped and the current
    // page values are loaded from the non-volatile copies.
    void hard_reset();
    uint32_t hard_resets() const { return hard_resets_; }

    // The controller's state: identity, pages, flash regions as stored, faults.
    const ControllerSpec& state() const { return spec_; }

private:
    Response ioc_facts() const;
    Response firmware_transfer(uint8_t function, std::span<const uint8_t> frame,
                               std::span<const uint8_t> data_out);
    Response toolbox(std::span<const uint8_t> frame);

    ControllerSpec spec_;
    FlashRegions flash_;
    std::map<uint8_t, uint32_t> request_counts_;
    uint32_t hard_resets_ = 0;
};

}  // namespace fmxsim
