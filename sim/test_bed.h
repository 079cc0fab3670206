// The emulated driver hosted inside a test process, for library tests:
//
//   fmxsim::TestBed bed;                       // the default scenario
//   ... open("/dev/fmx2ctl"), ioctl(...) ...   // or call the library under test
//   EXPECT_EQ(bed.trace().size(), 255u);
//   EXPECT_EQ(bed.controller(0).firmware, image);
//
// The test process must run with umockdev's preload library loaded from its
// start (LD_PRELOAD=libumockdev-preload.so.0; in CMake, give the test the
// properties FMX_UMOCKDEV_TEST_PROPERTIES). Without it the nodes are not
// reachable: check TestBed::available() and skip. Create one TestBed at a time
// per process (each one sets UMOCKDEV_DIR); a test can make a fresh one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver.h"
#include "scenario.h"
#include "trace.h"

namespace fmxsim {

class UmockdevHost;

class TestBed {
public:
    // Throws std::runtime_error when the test bed cannot be built.
    explicit TestBed(Scenario scenario = default_scenario());
    ~TestBed();
    TestBed(const TestBed&) = delete;
    TestBed& operator=(const TestBed&) = delete;

    // Whether this process runs with the preload library, so that TestBed
    // nodes can be reached.
    static bool available();

    // Every driver request so far, in order.
    std::vector<TraceRecord> trace() const;
    void clear_trace();

    // The state now: a copy, as a scenario (see Driver::snapshot).
    Scenario state() const;
    ControllerSpec controller(size_t index) const;
    uint32_t hard_resets(size_t index) const;

    const std::string& root_dir() const;
    Driver& driver() { return *driver_; }

private:
    struct TraceLog;
    std::unique_ptr<Driver> driver_;
    std::shared_ptr<TraceLog> trace_;
    std::unique_ptr<UmockdevHost> host_;
};

}  // namespace fmxsim
