// Firmware upload (0x12) and download (0x09) against a controller's three
// flash regions.
//
// Upload: the reply's actual image size is the size of the region as it reads
// back; the segment [offset, offset + length) is returned as data-in, or IOC
// status 0x0004 and no data when it reaches past the region.
// Download: segments are collected from offset 0 on, each one where the last
// ended; the segment with the last-segment flag commits them, replacing the
// region. Committing the firmware region also writes the backup region, as the
// controller keeps a copy of the image it runs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "request_frames.h"
#include "scenario.h"

namespace fmxsim {

class FlashRegions {
public:
    Response upload(const ControllerSpec& controller, const TransferRequest& request) const;
    Response download(ControllerSpec& controller, const TransferRequest& request,
                      std::span<const uint8_t> data_out);

    // A reset drops segments that were never committed.
    void discard_pending();
    bool written(RegionKind kind) const { return written_[index(kind)]; }

private:
    static size_t index(RegionKind kind);
    // The region as an upload sees it, after the controller's read-back faults.
    struct ReadbackView {
        size_t size = 0;
        std::optional<uint32_t> changed_byte;
    };
    ReadbackView readback_view(const ControllerSpec& controller, RegionKind kind) const;
    void commit(ControllerSpec& controller, RegionKind kind);

    std::optional<RegionKind> pending_kind_;
    std::vector<uint8_t> pending_;
    std::array<bool, 3> written_{};
};

}  // namespace fmxsim
