// The library against the emulated driver and controllers, hosted in this test
// process. Each test builds its own test bed from a scenario, runs discovery
// and then checks what the library returned together with the requests the
// driver saw (the trace) and the controllers' state afterwards.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "byte_order.h"
#include "driver_records.h"
#include "library_context.h"
#include "message_frames.h"
#include "scenario.h"
#include "test_bed.h"
#include "trace.h"

namespace {

using fmxsim::TraceRecord;

constexpr uint32_t kFrontEndFlags = 0x9000000F;
constexpr uint32_t kEveryController = 0x0000000F;
constexpr uint32_t kTakeThirdGeneration = 0x9400000F;

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// A controller with manufacturing pages 0 and 2, an extended SAS IO unit page
// and three flash regions.
fmxsim::ControllerSpec controller(uint16_t device_id, const std::string& board = "Q520") {
    fmxsim::ControllerSpec c;
    c.device_id = device_id;
    c.pages.push_back(fmxsim::make_manufacturing_page0({"FMX2108", "B2", board, "QA-1", "TR-1"}));
    c.pages.push_back(fmxsim::make_page(fmx::kPageTypeManufacturing, 2, 0, 0, 36, pattern(32, 0x10)));
    c.pages.push_back(fmxsim::make_page(fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit, 0, 40,
                                        pattern(32, 0x50)));
    c.firmware = pattern(0x18000, 1);
    c.backup = c.firmware;
    c.boot = pattern(0x1000, 2);
    return c;
}

fmxsim::Attachment at(uint32_t ioc, size_t controller_index, bool ioc_info_fails = false) {
    return fmxsim::Attachment{ioc, controller_index, ioc_info_fails};
}

// Controllers attached to /dev/fmx2ctl under IOC numbers 0, 1, 2, ...
fmxsim::Scenario one_node(std::vector<fmxsim::ControllerSpec> controllers) {
    fmxsim::Scenario s;
    fmxsim::NodeSpec node{"/dev/fmx2ctl", false, {}};
    for (size_t i = 0; i < controllers.size(); ++i) node.iocs.push_back(at(static_cast<uint32_t>(i), i));
    s.controllers = std::move(controllers);
    s.nodes.push_back(std::move(node));
    return s;
}

// The emulated nodes are reachable only when umockdev's preload library was
// loaded at process start. (TestBed::available() gives the right answer only
// once a test bed exists, so ask the dynamic loader instead.)
bool emulated_nodes_reachable() {
    return dlopen("libumockdev-preload.so.0", RTLD_NOW | RTLD_NOLOAD) != nullptr;
}

class Emulated : public ::testing::Test {
protected:
    void SetUp() override {
        if (!emulated_nodes_reachable()) {
            GTEST_SKIP() << "umockdev's preload library is not loaded; the emulated nodes cannot be reached";
        }
        ASSERT_EQ(fmx_lib_init(), FMX_OK);
        ctx = fmx_context();
    }

    void start(fmxsim::Scenario scenario = fmxsim::default_scenario()) {
        try {
            bed = std::make_unique<fmxsim::TestBed>(std::move(scenario));
        } catch (const std::exception& e) {
            FAIL() << "test bed: " << e.what();
        }
    }

    // Starts the scenario, discovers with `flags` and forgets discovery's requests.
    void start_discovered(fmxsim::Scenario scenario = fmxsim::default_scenario(),
                          uint32_t flags = kFrontEndFlags) {
        ASSERT_NO_FATAL_FAILURE(start(std::move(scenario)));
        uint32_t count = 0;
        ASSERT_EQ(fmx_discover_adapters(&count, flags), FMX_OK);
        ASSERT_GT(count, 0u);
        bed->clear_trace();
    }

    FmxAdapter& adapter(uint32_t index) {
        FmxAdapter* a = ctx->first_adapter;
        for (uint32_t i = 0; i < index && a != nullptr; ++i) a = a->next;
        EXPECT_NE(a, nullptr) << "no adapter " << index;
        return *a;
    }
    const FmxHandle& handle(uint32_t index) { return adapter(index).handle; }

    std::vector<TraceRecord> requests() { return bed->trace(); }

    std::vector<TraceRecord> requests_of(uint8_t function) {
        std::vector<TraceRecord> found;
        for (const TraceRecord& r : bed->trace()) {
            if (r.function == function) found.push_back(r);
        }
        return found;
    }

    static FmxStatusBlock last_status() {
        FmxStatusBlock block{0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(fmx_get_last_status(&block), FMX_OK);
        return block;
    }

    static void expect_all_zero(const FmxStatusBlock& block) {
        const FmxStatusBlock zero{};
        EXPECT_EQ(std::memcmp(&block, &zero, sizeof(block)), 0)
            << "size " << block.size << " valid " << block.valid_bits << " status "
            << block.ioc_status << " log " << block.ioc_log_info;
    }

    FmxLibContext* ctx = nullptr;
    std::unique_ptr<fmxsim::TestBed> bed;
};

// ---- Discovery ----

using Discovery = Emulated;

TEST_F(Discovery, NoNodeGivesStatusOneAndNoAdapter) {
    ASSERT_NO_FATAL_FAILURE(start(fmxsim::Scenario{}));
    uint32_t count = 99;
    EXPECT_EQ(fmx_discover_adapters(&count, kFrontEndFlags), FMX_FAILURE);
    EXPECT_EQ(count, 0u);
    FmxAdapterInfo info{};
    EXPECT_EQ(fmx_get_adapter_info(0, nullptr, &info), FMX_NO_SUCH_ADAPTER);
    EXPECT_TRUE(requests().empty());
    // Having found nothing, discovery runs again when asked.
    EXPECT_EQ(fmx_discover_adapters(&count, kFrontEndFlags), FMX_FAILURE);
}

TEST_F(Discovery, DefaultScenarioRegistersBothControllersOnce) {
    ASSERT_NO_FATAL_FAILURE(start());
    uint32_t count = 0;
    ASSERT_EQ(fmx_discover_adapters(&count, kFrontEndFlags), FMX_OK);
    ASSERT_EQ(count, 2u);

    const auto trace = requests();
    std::vector<uint32_t> info_iocs;
    for (const TraceRecord& r : trace) {
        EXPECT_EQ(r.node, "/dev/fmx2ctl");
        if (r.request == fmx::kIocInfoRequest) info_iocs.push_back(r.ioc.value_or(999));
    }
    ASSERT_EQ(info_iocs.size(), 255u);
    for (uint32_t i = 0; i < 255; ++i) EXPECT_EQ(info_iocs[i], i);
    const auto facts = requests_of(fmx::kFunctionIocFacts);
    ASSERT_EQ(facts.size(), 2u);
    EXPECT_EQ(facts[0].ioc, 0u);
    EXPECT_EQ(facts[1].ioc, 1u);
    EXPECT_EQ(facts[0].request, fmx::DriverCommand::kRequestCode);
    EXPECT_EQ(facts[0].timeout, 10u);
    EXPECT_EQ(facts[0].ioc_status, 0u);

    const FmxAdapter& first = adapter(0);
    EXPECT_EQ(first.handle.handle, 0x01000001u);
    EXPECT_EQ(first.handle.driver_adapter_number, 0u);
    EXPECT_STREQ(first.node_path, "/dev/fmx2ctl");
    EXPECT_STREQ(first.host_name, "SAS Host 0");
    EXPECT_EQ(first.info_complete, 1u);
    EXPECT_EQ(first.third_generation, 0u);
    EXPECT_EQ(fmx::load_le16(first.ioc_facts), 0x0200);  // message version
    EXPECT_EQ(first.ioc_facts[3], fmx::kFunctionIocFacts);
    EXPECT_EQ(adapter(1).handle.handle, 0x01000002u);
    EXPECT_EQ(adapter(1).handle.driver_adapter_number, 1u);

    FmxAdapterInfo info{};
    ASSERT_EQ(fmx_get_adapter_info(0, nullptr, &info), FMX_OK);
    EXPECT_EQ(info.handle, 0x01000001u);
    EXPECT_EQ(info.adapter_type, 2u);
    EXPECT_EQ(info.pci_device_id, 69u);
    EXPECT_EQ(info.hardware_revision, 1u);
    EXPECT_EQ(info.subsystem_device_id, 0x3520u);
    EXPECT_EQ(info.subsystem_vendor_id, 0x1F0Au);
    EXPECT_EQ(info.firmware_version, 0x0D000100u);
    EXPECT_STREQ(info.driver_version, "4.28.00.00");
    EXPECT_EQ(info.pci_location, 1u << 8);  // bus 1
    ASSERT_EQ(fmx_get_adapter_info(1, nullptr, &info), FMX_OK);
    EXPECT_EQ(info.pci_device_id, 71u);
    EXPECT_EQ(info.hardware_revision, 0u);
    EXPECT_EQ(info.scsi_id, 1u);
    EXPECT_EQ(fmx_get_adapter_info(2, nullptr, &info), FMX_NO_SUCH_ADAPTER);

    // Discovery runs once per process: nothing is asked a second time.
    bed->clear_trace();
    ASSERT_EQ(fmx_discover_adapters(&count, kFrontEndFlags), FMX_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(requests().empty());
}

TEST_F(Discovery, InitAgainForgetsAdaptersAndDiscoveryStartsOver) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    ASSERT_EQ(fmx_lib_init(), FMX_OK);
    ctx = fmx_context();
    EXPECT_EQ(ctx->adapter_count, 0u);
    uint32_t count = 0;
    ASSERT_EQ(fmx_discover_adapters(&count, kFrontEndFlags), FMX_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(adapter(0).handle.handle, 0x01000001u);
    EXPECT_EQ(adapter(1).handle.handle, 0x01000002u);
    EXPECT_EQ(requests_of(fmx::kFunctionIocFacts).size(), 2u);
}

TEST_F(Discovery, ControllerOnTwoNodesIsListedOncePerNodeInNodeOrder) {
    fmxsim::Scenario s;
    s.controllers = {controller(69)};
    // Listed out of discovery's order on purpose; the unopenable node is skipped.
    s.nodes.push_back({"/dev/fmx3ctl", false, {at(0, 0)}});
    s.nodes.push_back({"/dev/fmx2ctl", true, {at(0, 0)}});
    s.nodes.push_back({"/dev/fmx2ctl_wd", false, {at(3, 0)}});
    ASSERT_NO_FATAL_FAILURE(start(std::move(s)));
    uint32_t count = 0;
    ASSERT_EQ(fmx_discover_adapters(&count, kFrontEndFlags), FMX_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(adapter(0).node_path, "/dev/fmx2ctl_wd");
    EXPECT_EQ(adapter(0).handle.driver_adapter_number, 3u);
    EXPECT_STREQ(adapter(1).node_path, "/dev/fmx3ctl");
    EXPECT_EQ(adapter(1).handle.driver_adapter_number, 0u);
    for (const TraceRecord& r : requests()) EXPECT_NE(r.node, "/dev/fmx2ctl");

    // Each adapter's requests go to the node it was found through.
    bed->clear_trace();
    uint32_t length = 64;
    uint8_t facts[64];
    ASSERT_EQ(fmx_get_ioc_facts(&handle(1), facts, &length, nullptr), FMX_OK);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0].node, "/dev/fmx3ctl");
    EXPECT_EQ(requests()[0].ioc, 0u);
}

fmxsim::Scenario mixed_families() {
    return one_node({controller(100), controller(69), controller(144), controller(0x1234),
                     controller(71), controller(126)});
}

TEST_F(Discovery, FrontEndFlagsTakeOnly69And71AndIdsOutsideEveryFamily) {
    ASSERT_NO_FATAL_FAILURE(start_discovered(mixed_families()));
    ASSERT_EQ(ctx->adapter_count, 3u);
    const uint32_t ids[] = {69, 0x1234, 71};
    const uint32_t iocs[] = {1, 3, 4};
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(adapter(i).pci_device_id, ids[i]);
        EXPECT_EQ(adapter(i).handle.driver_adapter_number, iocs[i]);
        EXPECT_EQ(adapter(i).handle.handle, 0x01000001u + i);
    }
}

TEST_F(Discovery, WithoutFilterEveryControllerIsTakenAndThirdGenerationMarked) {
    ASSERT_NO_FATAL_FAILURE(start_discovered(mixed_families(), kEveryController));
    ASSERT_EQ(ctx->adapter_count, 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(adapter(i).third_generation, adapter(i).pci_device_id == 144 ? 1u : 0u) << i;
    }
}

TEST_F(Discovery, FailedIocInformationSkipsThatNumber) {
    fmxsim::Scenario s;
    s.controllers = {controller(69), controller(71)};
    s.nodes.push_back({"/dev/fmx2ctl", false, {at(0, 0, true), at(1, 1)}});
    ASSERT_NO_FATAL_FAILURE(start_discovered(std::move(s)));
    ASSERT_EQ(ctx->adapter_count, 1u);
    EXPECT_EQ(adapter(0).pci_device_id, 71u);
    EXPECT_EQ(adapter(0).handle.handle, 0x01000001u);
}

TEST_F(Discovery, FailedIocFactsKeepsAdapterUntilInformationIsAskedAgain) {
    auto s = one_node({controller(69), controller(71)});
    s.controllers[0].request_faults.push_back({fmx::kFunctionIocFacts, 1, 1, true, 0, std::nullopt});
    ASSERT_NO_FATAL_FAILURE(start_discovered(std::move(s)));
    ASSERT_EQ(ctx->adapter_count, 2u);
    EXPECT_EQ(adapter(0).info_complete, 0u);
    EXPECT_EQ(fmx::load_le16(adapter(0).ioc_facts), 0u);  // no facts were copied
    EXPECT_EQ(adapter(1).info_complete, 1u);

    FmxAdapterInfo info{};
    ASSERT_EQ(fmx_get_adapter_info(0, nullptr, &info), FMX_OK);
    auto trace = requests();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].request, fmx::kIocInfoRequest);
    EXPECT_EQ(trace[0].ioc, 0u);
    EXPECT_EQ(trace[0].result, 0);
    EXPECT_EQ(info.pci_device_id, 69u);
    EXPECT_EQ(adapter(0).info_complete, 1u);

    // Complete now: the driver is not asked again.
    bed->clear_trace();
    ASSERT_EQ(fmx_get_adapter_info(0, nullptr, &info), FMX_OK);
    EXPECT_TRUE(requests().empty());
    // Without facts the adapter's message version reads 0, so transfers are refused.
    uint8_t reply[24];
    uint32_t reply_length = sizeof(reply);
    EXPECT_EQ(fmx_upload_firmware(&handle(0), nullptr, 0, 0, 1, reply, &reply_length, nullptr),
              FMX_MESSAGE_VERSION_TOO_OLD);
}

// ---- Transport and status rule ----

using Transport = Emulated;

struct StatusCase {
    const char* name;
    uint16_t ioc_status;
    std::optional<uint32_t> log_info;
    uint32_t valid_bits;
    uint16_t reported_status;
    uint32_t reported_log_info;
};

class StatusRule : public Emulated, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusRule, ReplyStatusReachesCallerBlockAndLastStatus) {
    const StatusCase& c = GetParam();
    auto s = fmxsim::default_scenario();
    // Discovery sends the first IOC facts request; the test's own is the second.
    s.controllers[0].request_faults.push_back({fmx::kFunctionIocFacts, 2, 1, false, c.ioc_status, c.log_info});
    ASSERT_NO_FATAL_FAILURE(start_discovered(std::move(s)));

    uint8_t facts[64];
    uint32_t length = sizeof(facts);
    FmxStatusBlock block{};
    ASSERT_EQ(fmx_get_ioc_facts(&handle(0), facts, &length, &block), FMX_OK);
    EXPECT_EQ(block.size, 16u);
    EXPECT_EQ(block.valid_bits, c.valid_bits);
    EXPECT_EQ(block.ioc_status, c.reported_status);
    EXPECT_EQ(block.ioc_log_info, c.reported_log_info);
    const FmxStatusBlock last = last_status();
    EXPECT_EQ(std::memcmp(&last, &block, sizeof(block)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StatusRule,
    ::testing::Values(StatusCase{"StatusWithLogInfo", 0x0004, 0x1234, 3, 0x0004, 0x1234},
                      StatusCase{"StatusWithoutLogInfo", 0x0004, std::nullopt, 1, 0x0004, 0},
                      StatusCase{"LogInfoBitAlone", 0x0000, 0x00ABCDEF, 3, 0x0000, 0x00ABCDEF}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(Transport, ZeroIocStatusClearsLastStatusEntirely) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    ctx->last_status = FmxStatusBlock{16, 3, 4, 0, 0x1234};
    uint8_t facts[64];
    uint32_t length = 32;
    FmxStatusBlock block{0, 7, 7, 7, 7};
    ASSERT_EQ(fmx_get_ioc_facts(&handle(0), facts, &length, &block), FMX_OK);
    EXPECT_EQ(block.size, 16u);
    EXPECT_EQ(block.valid_bits, 0u);
    EXPECT_EQ(block.ioc_status, 0u);
    EXPECT_EQ(block.ioc_log_info, 0u);
    expect_all_zero(last_status());

    // A caller length of 32 takes the first 32 reply bytes.
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(std::memcmp(facts, adapter(0).ioc_facts, 32), 0);
    const auto trace = requests();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].function, fmx::kFunctionIocFacts);
    EXPECT_EQ(trace[0].timeout, 10u);  // descriptor timeout 0 is sent as the default
    EXPECT_EQ(trace[0].data_in, 0u);
    EXPECT_EQ(trace[0].data_out, 0u);
}

TEST_F(Transport, DriverFailureGives52ZeroLengthAndClearedLastStatus) {
    auto s = fmxsim::default_scenario();
    s.controllers[1].request_faults.push_back({fmx::kFunctionIocFacts, 2, 1, true, 0, std::nullopt});
    ASSERT_NO_FATAL_FAILURE(start_discovered(std::move(s)));
    ctx->last_status = FmxStatusBlock{16, 1, 4, 0, 0};
    uint8_t facts[64];
    uint32_t length = sizeof(facts);
    FmxStatusBlock block{16, 9, 9, 9, 9};
    EXPECT_EQ(fmx_get_ioc_facts(&handle(1), facts, &length, &block), FMX_DRIVER_FAILED);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(block.valid_bits, 9u);  // not written after a transport failure
    expect_all_zero(last_status());
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0].result, -1);
}

TEST_F(Transport, HardResetReachesTheAdaptersController) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    EXPECT_EQ(fmx_reset_adapter(&handle(1)), 0);
    EXPECT_EQ(bed->hard_resets(1), 1u);
    EXPECT_EQ(bed->hard_resets(0), 0u);
    const auto trace = requests();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].request, fmx::kHardResetRequest);
    EXPECT_EQ(trace[0].ioc, 1u);
}

// ---- Configuration pages ----

using ConfigPages = Emulated;

TEST_F(ConfigPages, ManufacturingPage0IntoFullAndShortBuffers) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    const std::vector<uint8_t> stored = bed->controller(0).pages[0].nonvolatile;

    uint8_t page[76];
    uint32_t length = sizeof(page);
    ASSERT_EQ(fmx_read_config_page(&handle(0), 0, fmx::kPageTypeManufacturing, 0, 0, FMX_READ_NVRAM,
                                   page, &length),
              FMX_OK);
    EXPECT_EQ(length, 76u);
    EXPECT_EQ(std::memcmp(page, stored.data(), 76), 0);
    fmx::ManufacturingPage0 record{};
    ASSERT_TRUE(fmx::read_record(page, sizeof(page), 0, record));
    EXPECT_EQ(std::string(record.board_name, 4), "Q520");

    auto trace = requests();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].action, fmx::kConfigActionHeader);
    EXPECT_EQ(trace[0].data_in, 0u);
    EXPECT_EQ(trace[1].action, fmx::kConfigActionReadNvram);
    EXPECT_EQ(trace[1].page_type, fmx::kPageTypeManufacturing);
    EXPECT_EQ(trace[1].page_number, 0u);
    EXPECT_EQ(trace[1].data_in, 76u);
    EXPECT_EQ(trace[1].timeout, 10u);

    // A 40-byte buffer takes the page's beginning and learns its full size.
    uint8_t small[48];
    std::memset(small, 0xEE, sizeof(small));
    length = 40;
    ASSERT_EQ(fmx_read_config_page(&handle(0), 0, fmx::kPageTypeManufacturing, 0, 0, FMX_READ_NVRAM,
                                   small, &length),
              FMX_OK);
    EXPECT_EQ(length, 76u);
    EXPECT_EQ(std::memcmp(small, stored.data(), 40), 0);
    for (size_t i = 40; i < sizeof(small); ++i) EXPECT_EQ(small[i], 0xEE) << i;
}

TEST_F(ConfigPages, HeaderKindSendsOneRequestAndReportsThePageSize) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    const struct {
        uint8_t type;
        uint8_t number;
        uint8_t ext_type;
        uint32_t size;
    } pages[] = {{fmx::kPageTypeManufacturing, 0, 0, 76},
                 {fmx::kPageTypeManufacturing, 2, 0, 36},
                 // The extended page's length byte is 0: only the extended length sizes it.
                 {fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit, 40}};
    for (const auto& p : pages) {
        bed->clear_trace();
        uint32_t length = 0;
        ASSERT_EQ(fmx_read_config_page(&handle(0), 0, p.type, p.number, p.ext_type, FMX_READ_HEADER,
                                       nullptr, &length),
                  FMX_OK);
        EXPECT_EQ(length, p.size) << int(p.type) << "/" << int(p.number);
        ASSERT_EQ(requests().size(), 1u);
        EXPECT_EQ(requests()[0].action, fmx::kConfigActionHeader);
    }
}

TEST_F(ConfigPages, ExtendedPageIsReadWholeBySizeFromExtendedLength) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    uint8_t page[64] = {};
    uint32_t length = sizeof(page);
    ASSERT_EQ(fmx_read_config_page(&handle(0), 0, fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit,
                                   FMX_READ_CURRENT, page, &length),
              FMX_OK);
    EXPECT_EQ(length, 40u);
    const std::vector<uint8_t> stored = bed->controller(0).pages[2].current;
    ASSERT_EQ(stored.size(), 40u);
    EXPECT_EQ(std::memcmp(page, stored.data(), 40), 0);
    const auto trace = requests();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[1].action, fmx::kConfigActionReadCurrent);
    EXPECT_EQ(trace[1].ext_page_type, fmx::kExtPageTypeSasIoUnit);
    EXPECT_EQ(trace[1].data_in, 40u);
}

TEST_F(ConfigPages, MissingOrEmptyBufferReportsTheNeededSize) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    uint8_t page[76];
    const struct {
        void* buffer;
        uint32_t length;
    } cases[] = {{nullptr, 76}, {page, 0}};
    for (const auto& c : cases) {
        bed->clear_trace();
        uint32_t length = c.length;
        EXPECT_EQ(fmx_read_config_page(&handle(0), 0, fmx::kPageTypeManufacturing, 0, 0, FMX_READ_CURRENT,
                                       c.buffer, &length),
                  FMX_BUFFER_TOO_SMALL);
        EXPECT_EQ(length, 76u);
        EXPECT_EQ(requests().size(), 1u);  // the header action only
    }
}

TEST_F(ConfigPages, UnknownKindsAreRefusedAfterTheHeaderAction) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    uint8_t page[76] = {};
    uint32_t length = sizeof(page);
    EXPECT_EQ(fmx_read_config_page(&handle(0), 0, fmx::kPageTypeManufacturing, 0, 0, 4, page, &length),
              FMX_INVALID_PARAMETER);
    EXPECT_EQ(fmx_write_config_page(&handle(0), 0, fmx::kPageTypeManufacturing, 0, 0, 0, page, 76),
              FMX_INVALID_PARAMETER);
    const auto trace = requests();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].action, fmx::kConfigActionHeader);
    EXPECT_EQ(trace[1].action, fmx::kConfigActionHeader);
}

TEST_F(ConfigPages, MissingPageMapsTo258WithItsStatusInLastStatus) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    uint32_t length = 0;
    EXPECT_EQ(fmx_read_config_page(&handle(0), 0, fmx::kPageTypeManufacturing, 7, 0, FMX_READ_HEADER,
                                   nullptr, &length),
              FMX_CONFIG_INVALID_PAGE);
    EXPECT_EQ(length, 0u);
    const FmxStatusBlock last = last_status();
    EXPECT_EQ(last.valid_bits, 1u);
    EXPECT_EQ(last.ioc_status, 0x0022);
}

struct ConfigStatusCase {
    uint16_t ioc_status;
    int result;
};

class ConfigStatusMapping : public Emulated, public ::testing::WithParamInterface<ConfigStatusCase> {};

TEST_P(ConfigStatusMapping, IocStatusOfTheRequestGivesTheResult) {
    auto s = fmxsim::default_scenario();
    s.controllers[0].request_faults.push_back(
        {fmx::kFunctionConfig, 1, 1, false, GetParam().ioc_status, 0x00C0FFEE});
    ASSERT_NO_FATAL_FAILURE(start_discovered(std::move(s)));
    uint8_t page[76];
    uint32_t length = sizeof(page);
    EXPECT_EQ(fmx_read_config_page(&handle(0), 0, fmx::kPageTypeManufacturing, 0, 0, FMX_READ_CURRENT,
                                   page, &length),
              GetParam().result);
    EXPECT_EQ(requests().size(), 1u);  // the failed header action ends the read
    const FmxStatusBlock last = last_status();
    EXPECT_EQ(last.valid_bits, 3u);
    EXPECT_EQ(last.ioc_status, GetParam().ioc_status);
    EXPECT_EQ(last.ioc_log_info, 0x00C0FFEEu);
}

INSTANTIATE_TEST_SUITE_P(Statuses, ConfigStatusMapping,
                         ::testing::Values(ConfigStatusCase{0x0020, 256}, ConfigStatusCase{0x0021, 257},
                                           ConfigStatusCase{0x0022, 258}, ConfigStatusCase{0x0001, 258},
                                           ConfigStatusCase{0x0004, 1}, ConfigStatusCase{0x0023, 1}),
                         [](const auto& test) {
                             char name[16];
                             std::snprintf(name, sizeof(name), "Ioc0x%04X", test.param.ioc_status);
                             return std::string(name);
                         });

TEST_F(ConfigPages, NonVolatileWriteSendsHeaderThenWriteWithTheControllersHeader) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    std::vector<uint8_t> page = pattern(36, 0xA0);
    // The header inside the caller's page is only page data to the library.
    page[0] = 0x55;
    page[1] = 0x01;

    // 0x19: the controller ignores the attribute bits of the type and answers
    // with its own header, which the write request then carries.
    ASSERT_EQ(fmx_write_config_page(&handle(0), 0, 0x19, 2, 0, FMX_WRITE_NVRAM, page.data(),
                                    static_cast<uint32_t>(page.size())),
              FMX_OK);
    const auto trace = requests();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].action, fmx::kConfigActionHeader);
    EXPECT_EQ(trace[0].page_type, 0x19);
    EXPECT_EQ(trace[1].action, fmx::kConfigActionWriteNvram);
    EXPECT_EQ(trace[1].page_type, fmx::kPageTypeManufacturing);
    EXPECT_EQ(trace[1].page_number, 2u);
    EXPECT_EQ(trace[1].data_out, 36u);
    EXPECT_EQ(trace[1].ioc_status, 0u);

    const fmxsim::PageSpec stored = bed->controller(0).pages[1];
    ASSERT_EQ(stored.nonvolatile.size(), 36u);
    EXPECT_TRUE(std::equal(page.begin() + 4, page.end(), stored.nonvolatile.begin() + 4));
    EXPECT_NE(stored.current, stored.nonvolatile);  // only the non-volatile copy changed
}

// ---- Firmware download and upload ----

using Firmware = Emulated;

fmxsim::Scenario third_generation_node() {
    fmxsim::Scenario s;
    s.controllers = {controller(146)};
    s.nodes.push_back({"/dev/fmx3ctl", false, {at(2, 0)}});
    return s;
}

TEST_F(Firmware, LongFormDownloadOf1000Bytes) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    const std::vector<uint8_t> image = pattern(1000, 0x33);
    uint8_t reply[24];
    std::memset(reply, 0xEE, sizeof(reply));
    uint32_t reply_length = sizeof(reply);
    FmxStatusBlock block{};
    ASSERT_EQ(fmx_download_firmware(&handle(0), image.data(), 1000, 0, fmx::kImageTypeFirmware, 1, reply,
                                    &reply_length, &block),
              FMX_OK);
    EXPECT_EQ(reply_length, 20u);
    EXPECT_EQ(reply[3], fmx::kFunctionFirmwareDownload);
    EXPECT_EQ(reply[20], 0xEE);  // a download reply is 20 bytes
    EXPECT_EQ(block.size, 16u);
    EXPECT_EQ(block.valid_bits, 0u);

    const auto trace = requests();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].function, fmx::kFunctionFirmwareDownload);
    EXPECT_EQ(trace[0].image_type, fmx::kImageTypeFirmware);
    EXPECT_EQ(trace[0].offset, 0u);
    EXPECT_EQ(trace[0].length, 1000u);
    EXPECT_EQ(trace[0].data_out, 1000u);
    EXPECT_EQ(trace[0].timeout, 60u);
    EXPECT_EQ(trace[0].ioc_status, 0u);  // the long form is the one this controller takes
    EXPECT_EQ(bed->controller(0).firmware, image);
    EXPECT_EQ(bed->controller(0).backup, image);
}

TEST_F(Firmware, ThirdGenerationAdapterGetsTheShortForm) {
    ASSERT_NO_FATAL_FAILURE(start_discovered(third_generation_node(), kTakeThirdGeneration));
    ASSERT_EQ(adapter(0).third_generation, 1u);
    const std::vector<uint8_t> image = pattern(1000, 0x44);
    uint8_t reply[20];
    uint32_t reply_length = sizeof(reply);
    ASSERT_EQ(fmx_download_firmware(&handle(0), image.data(), 1000, 0, fmx::kImageTypeBootRegion, 1, reply,
                                    &reply_length, nullptr),
              FMX_OK);
    std::vector<uint8_t> back(1000);
    uint8_t upload_reply[24];
    reply_length = sizeof(upload_reply);
    ASSERT_EQ(fmx_upload_firmware(&handle(0), back.data(), 1000, 0, fmx::kImageTypeBootRegion, upload_reply,
                                  &reply_length, nullptr),
              FMX_OK);
    EXPECT_EQ(back, image);
    for (const TraceRecord& r : requests()) {
        EXPECT_EQ(r.ioc_status, 0u) << "function " << int(r.function.value_or(0));
        EXPECT_EQ(r.length, 1000u);
        EXPECT_EQ(r.ioc, 2u);
    }
    EXPECT_EQ(bed->controller(0).boot, image);
}

TEST_F(Firmware, OnlyFlagOneCommitsTheDownload) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    const std::vector<uint8_t> before = bed->controller(0).boot;
    const std::vector<uint8_t> image = pattern(2000, 0x21);
    uint8_t reply[20];
    uint32_t reply_length = sizeof(reply);
    // Flag 2 is sent as "more segments follow": the region keeps its contents.
    ASSERT_EQ(fmx_download_firmware(&handle(0), image.data(), 1000, 0, fmx::kImageTypeBootRegion, 2, reply,
                                    &reply_length, nullptr),
              FMX_OK);
    EXPECT_EQ(bed->controller(0).boot, before);
    reply_length = sizeof(reply);
    ASSERT_EQ(fmx_download_firmware(&handle(0), image.data() + 1000, 1000, 1000, fmx::kImageTypeBootRegion, 1,
                                    reply, &reply_length, nullptr),
              FMX_OK);
    EXPECT_EQ(bed->controller(0).boot, image);
}

TEST_F(Firmware, UploadProbeAndSegments) {
    ASSERT_NO_FATAL_FAILURE(start_discovered(one_node({controller(69)})));
    const std::vector<uint8_t> region = bed->controller(0).firmware;
    ASSERT_EQ(region.size(), 0x18000u);

    fmx::FirmwareUploadReply reply{};
    uint32_t reply_length = sizeof(reply);
    ASSERT_EQ(fmx_upload_firmware(&handle(0), nullptr, 0, 0, fmx::kImageTypeFirmware, &reply, &reply_length,
                                  nullptr),
              FMX_OK);
    EXPECT_EQ(reply_length, 24u);
    EXPECT_EQ(reply.actual_image_size, 0x18000u);

    // A reply capacity of 16 yields only the first 16 bytes: no image size.
    uint8_t short_reply[24];
    std::memset(short_reply, 0xEE, sizeof(short_reply));
    reply_length = 16;
    ASSERT_EQ(fmx_upload_firmware(&handle(0), nullptr, 0, 0, fmx::kImageTypeFirmware, short_reply,
                                  &reply_length, nullptr),
              FMX_OK);
    EXPECT_EQ(reply_length, 16u);
    for (size_t i = 16; i < sizeof(short_reply); ++i) EXPECT_EQ(short_reply[i], 0xEE);

    // The second segment of a 0x18000-byte image: 0x8000 bytes at 0x10000.
    bed->clear_trace();
    std::vector<uint8_t> segment(0x8000);
    reply_length = sizeof(reply);
    ASSERT_EQ(fmx_upload_firmware(&handle(0), segment.data(), 0x8000, 0x10000, fmx::kImageTypeFirmware, &reply,
                                  &reply_length, nullptr),
              FMX_OK);
    EXPECT_TRUE(std::equal(segment.begin(), segment.end(), region.begin() + 0x10000));
    const auto trace = requests();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].function, fmx::kFunctionFirmwareUpload);
    EXPECT_EQ(trace[0].offset, 0x10000u);
    EXPECT_EQ(trace[0].length, 0x8000u);
    EXPECT_EQ(trace[0].data_in, 0x8000u);
    EXPECT_EQ(trace[0].timeout, 60u);
}

TEST_F(Firmware, SegmentPastTheRegionComesBackInTheStatusBlock) {
    ASSERT_NO_FATAL_FAILURE(start_discovered(one_node({controller(69)})));
    std::vector<uint8_t> segment(0x10000);
    fmx::FirmwareUploadReply reply{};
    uint32_t reply_length = sizeof(reply);
    FmxStatusBlock block{};
    EXPECT_EQ(fmx_upload_firmware(&handle(0), segment.data(), 0x10000, 0x10000, fmx::kImageTypeFirmware,
                                  &reply, &reply_length, &block),
              FMX_OK);
    EXPECT_EQ(block.valid_bits & FMX_IOC_STATUS_VALID, FMX_IOC_STATUS_VALID);
    EXPECT_EQ(block.ioc_status, 0x0004);
}

TEST_F(Firmware, DriverFailureGivesZeroReplyLengthAndLeavesTheBlock) {
    auto s = fmxsim::default_scenario();
    s.controllers[0].request_faults.push_back({fmx::kFunctionFirmwareDownload, 1, 1, true, 0, std::nullopt});
    ASSERT_NO_FATAL_FAILURE(start_discovered(std::move(s)));
    const std::vector<uint8_t> image = pattern(100, 0);
    uint8_t reply[20];
    uint32_t reply_length = sizeof(reply);
    FmxStatusBlock block{16, 5, 5, 5, 5};
    EXPECT_EQ(fmx_download_firmware(&handle(0), image.data(), 100, 0, 1, 1, reply, &reply_length, &block),
              FMX_DRIVER_FAILED);
    EXPECT_EQ(reply_length, 0u);
    EXPECT_EQ(block.valid_bits, 5u);
}

TEST_F(Firmware, OldMessageVersionRefusesBothDirectionsAndCleanWithoutSending) {
    auto s = fmxsim::default_scenario();
    s.controllers[0].message_version = 0x0105;
    ASSERT_NO_FATAL_FAILURE(start_discovered(std::move(s)));
    std::vector<uint8_t> data(64);
    uint8_t reply[24];
    uint32_t reply_length = sizeof(reply);
    EXPECT_EQ(fmx_download_firmware(&handle(0), data.data(), 64, 0, 1, 1, reply, &reply_length, nullptr),
              FMX_MESSAGE_VERSION_TOO_OLD);
    EXPECT_EQ(fmx_upload_firmware(&handle(0), data.data(), 64, 0, 1, reply, &reply_length, nullptr),
              FMX_MESSAGE_VERSION_TOO_OLD);
    EXPECT_EQ(fmx_toolbox_clean(&handle(0), 0x20000000, reply, nullptr), FMX_MESSAGE_VERSION_TOO_OLD);
    EXPECT_TRUE(requests().empty());
    // The other controller reports 0x0200 and is served.
    EXPECT_EQ(fmx_upload_firmware(&handle(1), nullptr, 0, 0, 1, reply, &reply_length, nullptr), FMX_OK);
}

// ---- Toolbox clean ----

using Toolbox = Emulated;

TEST_F(Toolbox, CleanResetsNonVolatilePagesWith512SecondTimeout) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    std::vector<uint8_t> page = pattern(36, 0x90);
    ASSERT_EQ(fmx_write_config_page(&handle(0), 0, fmx::kPageTypeManufacturing, 2, 0, FMX_WRITE_NVRAM,
                                    page.data(), 36),
              FMX_OK);
    ASSERT_NE(bed->controller(0).pages[1].nonvolatile, bed->controller(0).pages[1].defaults);
    bed->clear_trace();

    uint8_t reply[20];
    std::memset(reply, 0xEE, sizeof(reply));
    FmxStatusBlock block{};
    ASSERT_EQ(fmx_toolbox_clean(&handle(0), 0x20000000, reply, &block), FMX_OK);
    EXPECT_EQ(reply[3], fmx::kFunctionToolbox);
    EXPECT_EQ(block.size, 16u);
    EXPECT_EQ(block.valid_bits, 0u);
    const auto trace = requests();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].function, fmx::kFunctionToolbox);
    EXPECT_EQ(trace[0].timeout, 512u);
    EXPECT_EQ(bed->controller(0).pages[1].nonvolatile, bed->controller(0).pages[1].defaults);
}

TEST_F(Toolbox, OtherFlagsAreRefusedWith23AndNothingIsSent) {
    ASSERT_NO_FATAL_FAILURE(start_discovered());
    EXPECT_EQ(fmx_toolbox_clean(&handle(0), 0x02000000, nullptr, nullptr), FMX_BAD_CLEAN_FLAGS);
    EXPECT_TRUE(requests().empty());
}

TEST_F(Toolbox, TransportFailureStillHandsBackReplyAndBlock) {
    auto s = fmxsim::default_scenario();
    s.controllers[0].request_faults.push_back({fmx::kFunctionToolbox, 1, 1, true, 0, std::nullopt});
    ASSERT_NO_FATAL_FAILURE(start_discovered(std::move(s)));
    uint8_t reply[20];
    std::memset(reply, 0xEE, sizeof(reply));
    FmxStatusBlock block{0, 5, 5, 5, 5};
    EXPECT_EQ(fmx_toolbox_clean(&handle(0), 0x20000000, reply, &block), FMX_DRIVER_FAILED);
    for (uint8_t b : reply) EXPECT_EQ(b, 0);
    EXPECT_EQ(block.size, 16u);
    EXPECT_EQ(block.valid_bits, 0u);
}

}  // namespace
