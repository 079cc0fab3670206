// The in-process TestBed: this test process opens the emulated nodes and
// issues the ioctls itself, as a library test does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver_records.h"
#include "message_frames.h"
#include "test_bed.h"

namespace {

class TestBedTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fmxsim::TestBed::available()) GTEST_SKIP() << "umockdev's preload library is not loaded";
    }
};

struct Node {
    explicit Node(const char* path) : fd(::open(path, O_RDWR)), error(errno) {}
    ~Node() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
    int error;
};

std::vector<uint32_t> answering_iocs(const Node& node) {
    std::vector<uint32_t> found;
    for (uint32_t ioc = 0; ioc < 255; ++ioc) {
        fmx::DriverIocInfo info{};
        info.header.ioc_number = ioc;
        info.header.size = sizeof(info);
        if (::ioctl(node.fd, fmx::kIocInfoRequest, &info) == 0) found.push_back(info.pci_device_id.get());
    }
    return found;
}

int download(const Node& node, uint32_t ioc, uint8_t type, const std::vector<uint8_t>& image, uint16_t& status) {
    using Address = decltype(fmx::DriverCommand{}.reply_addr.get());
    fmx::FirmwareTransferLongRequest frame{};
    frame.image_type = type;
    frame.function = fmx::kFunctionFirmwareDownload;
    frame.msg_flags = fmx::kMsgFlagLastSegment;
    frame.total_image_size = static_cast<uint32_t>(image.size());
    frame.details_length = fmx::kTransactionDetailsLength;
    frame.image_size = static_cast<uint32_t>(image.size());
    fmx::ReplyHeader reply{};
    fmx::DriverCommand command{};
    command.header.ioc_number = ioc;
    command.header.size = fmx::kDriverCommandHeaderSize<fmx::DriverCommand>;
    command.timeout = 60;
    command.reply_addr = static_cast<Address>(reinterpret_cast<uintptr_t>(&reply));
    command.reply_size = sizeof(reply);
    command.data_out_addr = static_cast<Address>(reinterpret_cast<uintptr_t>(image.data()));
    command.data_out_size = static_cast<uint32_t>(image.size());
    command.frame_words = sizeof(frame) / 4;
    std::vector<uint8_t> record(sizeof(command) + sizeof(frame));
    fmx::write_record(record.data(), command);
    std::memcpy(record.data() + sizeof(command), &frame, sizeof(frame));
    const int result = ::ioctl(node.fd, fmx::DriverCommand::kRequestCode, record.data());
    status = reply.ioc_status.get();
    return result;
}

TEST_F(TestBedTest, DiscoveryOverTheDefaultNodes) {
    fmxsim::TestBed bed;
    const Node node("/dev/fmx2ctl");
    ASSERT_GE(node.fd, 0) << std::strerror(node.error);
    EXPECT_EQ(answering_iocs(node), (std::vector<uint32_t>{69, 71}));
    const auto trace = bed.trace();
    ASSERT_EQ(trace.size(), 255u);
    EXPECT_EQ(trace[0].result, 0);
    EXPECT_EQ(trace[2].error, ENODEV);
    EXPECT_EQ(trace[254].ioc, 254u);
    bed.clear_trace();
    EXPECT_TRUE(bed.trace().empty());
    EXPECT_EQ(Node("/dev/fmx3ctl").error, ENOENT);
}

TEST_F(TestBedTest, DownloadChangesTheStateTheTestSees) {
    fmxsim::TestBed bed;
    const Node node("/dev/fmx2ctl");
    ASSERT_GE(node.fd, 0);
    const std::vector<uint8_t> boot(4096, 0xB0);
    uint16_t status = 0xFFFF;
    ASSERT_EQ(download(node, 0, fmx::kImageTypeBootRegion, boot, status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(bed.controller(0).boot, boot);
    EXPECT_EQ(bed.controller(1).boot, fmxsim::default_scenario().controllers[1].boot);

    fmx::DriverResetRequest reset{};
    reset.header.ioc_number = 1;
    EXPECT_EQ(::ioctl(node.fd, fmx::kHardResetRequest, &reset), 0);
    EXPECT_EQ(bed.hard_resets(1), 1u);
}

// Each test bed replaces the nodes of the one before.
TEST_F(TestBedTest, ASecondTestBedBringsItsOwnNodes) {
    { fmxsim::TestBed first; }
    fmxsim::Scenario scenario = fmxsim::default_scenario();
    scenario.nodes[0].path = "/dev/qxvsactl";
    scenario.nodes[0].iocs.pop_back();
    fmxsim::TestBed second(scenario);
    EXPECT_EQ(Node("/dev/fmx2ctl").error, ENOENT);
    const Node node("/dev/qxvsactl");
    ASSERT_GE(node.fd, 0);
    EXPECT_EQ(answering_iocs(node), (std::vector<uint32_t>{69}));
}

}  // namespace
