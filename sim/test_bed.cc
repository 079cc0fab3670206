#include "test_bed.h"

#include <mutex>
#include <stdexcept>

#include "umockdev_host.h"

namespace fmxsim {

// Trace records arrive on umockdev's thread and are read on the test's.
struct TestBed::TraceLog {
    mutable std::mutex mutex;
    std::vector<TraceRecord> records;
};

TestBed::TestBed(Scenario scenario)
    : driver_(std::make_unique<Driver>(std::move(scenario))), trace_(std::make_shared<TraceLog>()) {
    driver_->set_trace_sink([log = trace_](const TraceRecord& record) {
        std::lock_guard lock(log->mutex);
        log->records.push_back(record);
    });
    std::string error;
    host_ = UmockdevHost::create(*driver_, error);
    if (!host_) throw std::runtime_error("fmxsim test bed: " + error);
}

TestBed::~TestBed() = default;

bool TestBed::available() { return UmockdevHost::preload_active(); }

std::vector<TraceRecord> TestBed::trace() const {
    std::lock_guard lock(trace_->mutex);
    return trace_->records;
}

void TestBed::clear_trace() {
    std::lock_guard lock(trace_->mutex);
    trace_->records.clear();
}

Scenario TestBed::state() const { return driver_->snapshot(); }

ControllerSpec TestBed::controller(size_t index) const {
    Scenario scenario = driver_->snapshot();
    if (index >= scenario.controllers.size()) throw std::out_of_range("fmxsim test bed: no controller " + std::to_string(index));
    return std::move(scenario.controllers[index]);
}

uint32_t TestBed::hard_resets(size_t index) const { return driver_->hard_resets(index); }

const std::string& TestBed::root_dir() const { return host_->root_dir(); }

}  // namespace fmxsim
