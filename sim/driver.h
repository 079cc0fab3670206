// The emulated controller driver behind the control nodes.
//
// It answers the three requests on every node the scenario names:
//   IOC information (0xC05C4C11)      the scenario's values for the controller
//   pass-through (0xC0384C14 32-bit,  one request frame to the controller; its
//                 0xC0484C14 64-bit)  reply and data-in copied back, never more
//                                     than each buffer's stated size
//   hard reset (0xC00C4C18)           recorded; succeeds
// The pass-through form is chosen by the request code alone; its addresses are
// resolved by the ClientMemory the host gives.
//
// Like a driver it is strict: an unknown request code fails with ENOTTY; a
// record whose header size or frame length does not fit with EINVAL; an IOC
// number that the node does not carry with ENODEV; a buffer that cannot be
// reached with EFAULT. Each fails the ioctl with -1.
//
// Requests may arrive on another thread than the one that owns the Driver;
// every public member takes the Driver's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <vector>

#include "client_memory.h"
#include "controller.h"
#include "scenario.h"
#include "trace.h"

namespace fmxsim {

struct DriverResult {
    long value = 0;  // the ioctl's result: 0, or -1 with `error`
    int error = 0;
};

class Driver {
public:
    using TraceSink = std::function<void(const TraceRecord&)>;

    explicit Driver(Scenario scenario);

    // Called for every request, under the Driver's lock, once it is answered.
    void set_trace_sink(TraceSink sink);

    DriverResult ioctl(std::string_view node, unsigned long request, ClientMemory& memory);

    // The nodes the scenario names (their faults included).
    const std::vector<NodeSpec>& nodes() const { return layout_.nodes; }
    size_t controller_count() const { return controllers_.size(); }
    uint32_t hard_resets(size_t controller) const;

    // The whole state as a scenario a later run can start from: the same nodes
    // and faults, the controllers' current pages and flash contents.
    Scenario snapshot() const;

private:
    DriverResult ioc_information(const NodeSpec& node, ClientMemory& memory, TraceRecord& trace);
    DriverResult hard_reset(const NodeSpec& node, ClientMemory& memory, TraceRecord& trace);
    template <typename Command>
    DriverResult pass_through(const NodeSpec& node, ClientMemory& memory, TraceRecord& trace);
    Controller* controller_on(const NodeSpec& node, uint32_t ioc);

    mutable std::mutex mutex_;
    Scenario layout_;  // description and nodes; the controllers live in controllers_
    std::vector<Controller> controllers_;
    TraceSink trace_sink_;
};

}  // namespace fmxsim
