// The umockdev host of the emulated driver: a test bed holding the scenario's
// control nodes, with an ioctl handler that hands every request to the Driver.
//
// Programs reach the nodes when umockdev's preload library is loaded into them
// and UMOCKDEV_DIR names the test bed (creating the host sets it in this
// process's environment, so children inherit it). Requests are served on
// umockdev's own thread, so the process that owns the host may itself open the
// nodes and issue ioctls, or wait for a child that does.
//
// Nodes the scenario does not name do not exist (open fails with ENOENT). A node
// marked "open_fails" exists, but as a socket file instead of a device, so that
// open() fails with ENXIO as it does for a device node whose driver has no
// device behind it. (Where a socket cannot be made, a directory stands in for
// it; open() for writing then fails with EISDIR.)
#pragma once

#include <memory>
#include <string>

#include "driver.h"

namespace fmxsim {

class UmockdevHost {
public:
    // Returns null and sets `error` when the test bed cannot be built.
    static std::unique_ptr<UmockdevHost> create(Driver& driver, std::string& error);
    ~UmockdevHost();
    UmockdevHost(const UmockdevHost&) = delete;
    UmockdevHost& operator=(const UmockdevHost&) = delete;

    // The test bed's directory (the value of UMOCKDEV_DIR).
    const std::string& root_dir() const;

    // Whether this process runs with umockdev's preload library.
    static bool preload_active();

    struct Impl;

private:
    explicit UmockdevHost(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace fmxsim
