// The library context, handles and the refusals a request meets before it
// reaches a device node. Adapters are registered by hand and point at a node
// path that does not exist, so any request that did reach the transport would
// come back as 32 (node open failed) instead of the refusal under test.
#include <gtest/gtest.h>

#include <cstring>

#include "byte_order.h"
#include "library_context.h"
#include "message_frames.h"

namespace {

constexpr char kMissingNode[] = "/dev/fmx-none";

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(fmx_lib_init(), FMX_OK);
        ctx = fmx_context();
        ASSERT_NE(ctx, nullptr);
    }

    FmxAdapter* add(uint32_t ioc_number, uint16_t message_version = 0x0200) {
        FmxAdapter* a = nullptr;
        EXPECT_EQ(fmx_add_adapter(ctx, &a), FMX_OK);
        EXPECT_EQ(fmx_assign_handle(ctx, a, FMX_ADAPTER_HANDLE_KIND, ioc_number, 0, 0, 0), FMX_OK);
        std::strcpy(a->node_path, kMissingNode);
        fmx::IocFactsReply facts{};
        facts.message_version = message_version;
        fmx::write_record(a->ioc_facts, facts);
        return a;
    }

    FmxLibContext* ctx = nullptr;
};

TEST_F(Registry, HandlesCountUpFromFirstAdapterHandle) {
    FmxAdapter* first = add(4);
    FmxAdapter* second = add(9);
    EXPECT_EQ(ctx->adapter_count, 2u);
    EXPECT_EQ(first->handle.handle, 0x01000001u);
    EXPECT_EQ(first->handle.handle_again, 0x01000001u);
    EXPECT_EQ(first->handle.kind, 0x01000001u);
    EXPECT_EQ(first->handle.driver_adapter_number, 4u);
    EXPECT_EQ(second->handle.handle, 0x01000002u);
    EXPECT_EQ(ctx->first_adapter, first);
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(second->next, nullptr);

    // The kind word keeps its top byte, gains bit 0 and loses bit 8.
    FmxAdapter* third = nullptr;
    ASSERT_EQ(fmx_add_adapter(ctx, &third), FMX_OK);
    fmx_assign_handle(ctx, third, 0x01000100, 0, 7, 8, 9);
    EXPECT_EQ(third->handle.handle, 0x01000003u);
    EXPECT_EQ(third->handle.kind, 0x01000001u);
    EXPECT_EQ(third->assigned_value1, 7u);
    EXPECT_EQ(third->assigned_value2, 8u);
    EXPECT_EQ(third->assigned_value3, 9u);
}

TEST_F(Registry, InitAgainStartsAFreshContext) {
    add(0);
    add(1);
    ASSERT_EQ(fmx_lib_init(), FMX_OK);
    ctx = fmx_context();
    EXPECT_EQ(ctx->adapter_count, 0u);
    EXPECT_EQ(ctx->first_adapter, nullptr);
    EXPECT_EQ(add(0)->handle.handle, 0x01000001u);
}

TEST_F(Registry, LookupRefusesWrongKindAndUnknownHandles) {
    FmxAdapter* first = add(0);
    add(1);
    FmxAdapter* found = first;

    const FmxHandle wrong_kind{0x02000005, 0x02000005, 0, 0};
    EXPECT_EQ(fmx_find_adapter(ctx, &wrong_kind, &found), FMX_WRONG_HANDLE_KIND);
    EXPECT_EQ(found, first);  // not written

    EXPECT_EQ(fmx_find_adapter(ctx, nullptr, &found), FMX_UNKNOWN_HANDLE);
    EXPECT_EQ(found, first);

    const FmxHandle unknown{0x01000099, 0, 0, 0};
    EXPECT_EQ(fmx_find_adapter(ctx, &unknown, &found), FMX_UNKNOWN_HANDLE);
    EXPECT_EQ(found, nullptr);

    // Only the first field is compared.
    const FmxHandle second{0x01000002, 0xDEAD, 0xBEEF, 77};
    ASSERT_EQ(fmx_find_adapter(ctx, &second, &found), FMX_OK);
    EXPECT_EQ(found, first->next);

    // Every public operation on an adapter resolves its handle the same way.
    uint32_t length = 64;
    uint8_t buffer[64];
    EXPECT_EQ(fmx_get_ioc_facts(&wrong_kind, buffer, &length, nullptr), FMX_WRONG_HANDLE_KIND);
    EXPECT_EQ(fmx_read_config_page(&unknown, 0, 9, 0, 0, 0, buffer, &length), FMX_UNKNOWN_HANDLE);
    EXPECT_EQ(fmx_upload_firmware(nullptr, buffer, 0, 0, 1, buffer, &length, nullptr),
              FMX_UNKNOWN_HANDLE);
    EXPECT_EQ(fmx_toolbox_clean(&wrong_kind, 0x20000000, nullptr, nullptr), FMX_WRONG_HANDLE_KIND);
    EXPECT_EQ(fmx_reset_adapter(&unknown), FMX_UNKNOWN_HANDLE);
}

TEST_F(Registry, LibraryVersionFilledOnlyForRecordsOfEightBytesOrMore) {
    FmxLibVersion version{7, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(fmx_get_lib_version(&version), FMX_OK);
    EXPECT_EQ(version.major, 0xAA);
    EXPECT_EQ(version.minor, 0xBB);
    EXPECT_EQ(version.build, 0xCC);

    version.size = 8;
    EXPECT_EQ(fmx_get_lib_version(&version), FMX_OK);
    EXPECT_EQ(version.major, 14);
    EXPECT_EQ(version.minor, 8);
    EXPECT_EQ(version.build, 4);

    EXPECT_EQ(fmx_get_lib_version(nullptr), FMX_FAILURE);
}

TEST_F(Registry, AdapterInfoByIndexAndHandle) {
    FmxAdapter* a = add(5);
    a->info_complete = 1;
    a->adapter_type = 2;
    a->pci_device_id = 71;
    a->hardware_revision = 3;
    a->subsystem_vendor_id = 0x1F0A;
    std::strcpy(a->driver_version, "14.0.1");
    a->scsi_id = 6;
    a->pci_location = 0x0312;
    add(6)->info_complete = 1;

    FmxAdapterInfo info{};
    ASSERT_EQ(fmx_get_adapter_info(0, nullptr, &info), FMX_OK);
    EXPECT_EQ(info.handle, 0x01000001u);
    EXPECT_EQ(info.adapter_type, 2u);
    EXPECT_EQ(info.pci_device_id, 71u);
    EXPECT_EQ(info.hardware_revision, 3u);
    EXPECT_EQ(info.subsystem_vendor_id, 0x1F0Au);
    EXPECT_STREQ(info.driver_version, "14.0.1");
    EXPECT_EQ(info.scsi_id, 6u);
    EXPECT_EQ(info.pci_location, 0x0312u);

    ASSERT_EQ(fmx_get_adapter_info(1, nullptr, &info), FMX_OK);
    EXPECT_EQ(info.handle, 0x01000002u);
    EXPECT_EQ(fmx_get_adapter_info(2, nullptr, &info), FMX_NO_SUCH_ADAPTER);

    // With a handle record the index is not looked at.
    ASSERT_EQ(fmx_get_adapter_info(99, &a->handle, &info), FMX_OK);
    EXPECT_EQ(info.handle, 0x01000001u);
}

TEST_F(Registry, IncompleteInformationAsksTheDriverAgain) {
    FmxAdapter* a = add(5);
    a->pci_device_id = 69;
    FmxAdapterInfo info{};
    // The driver cannot be reached here, so the second ask fails; the stored
    // summary still comes back and the adapter stays incomplete.
    ASSERT_EQ(fmx_get_adapter_info(0, nullptr, &info), FMX_OK);
    EXPECT_EQ(info.pci_device_id, 69u);
    EXPECT_EQ(a->info_complete, 0u);
}

TEST_F(Registry, UnopenableNodeFailsTheRequestWith32) {
    add(0);
    ctx->last_status = FmxStatusBlock{16, 3, 4, 0, 5};
    uint8_t facts[64];
    uint32_t length = sizeof(facts);
    FmxStatusBlock status{};
    EXPECT_EQ(fmx_get_ioc_facts(&ctx->first_adapter->handle, facts, &length, &status),
              FMX_OPEN_FAILED);
    EXPECT_EQ(length, 0u);
    FmxStatusBlock last{1, 1, 1, 1, 1};
    EXPECT_EQ(fmx_get_last_status(&last), FMX_OK);
    const FmxStatusBlock zero{};
    EXPECT_EQ(std::memcmp(&last, &zero, sizeof(last)), 0);
}

TEST_F(Registry, ShortDescriptorRefusedBeforeAnyNodeIsOpened) {
    FmxAdapter* a = add(0);
    uint8_t request[12] = {};
    uint8_t reply[64] = {};
    FmxPassthru d{};
    d.adapter_handle = a->handle.handle;
    d.signature = 0x392A8C9F;
    d.request = request;
    d.request_length = sizeof(request);
    d.reply = reply;
    d.reply_capacity = sizeof(reply);

    d.size = sizeof(FmxPassthru) - 1;
    EXPECT_EQ(fmx_send_passthru(ctx, &d), FMX_BUFFER_TOO_SMALL);
    d.size = 75;
    EXPECT_EQ(fmx_send_passthru(ctx, &d), FMX_BUFFER_TOO_SMALL);
    EXPECT_EQ(d.status.size, 16u);
    // A full-size descriptor gets as far as opening the node, unless its frame
    // is not a whole number of words.
    d.size = sizeof(FmxPassthru);
    EXPECT_EQ(fmx_send_passthru(ctx, &d), FMX_OPEN_FAILED);
    d.request_length = 13;
    EXPECT_EQ(fmx_send_passthru(ctx, &d), FMX_INVALID_PARAMETER);
}

TEST_F(Registry, OldMessageVersionRefusesTransfersAndClean) {
    const FmxHandle h = add(0, 0x0105)->handle;
    const FmxHandle never_asked = add(1, 0)->handle;
    uint8_t data[32] = {};
    uint8_t reply[24] = {};
    uint32_t reply_length = sizeof(reply);
    EXPECT_EQ(fmx_download_firmware(&h, data, sizeof(data), 0, 1, 1, reply, &reply_length, nullptr),
              FMX_MESSAGE_VERSION_TOO_OLD);
    EXPECT_EQ(fmx_upload_firmware(&h, data, sizeof(data), 0, 1, reply, &reply_length, nullptr),
              FMX_MESSAGE_VERSION_TOO_OLD);
    EXPECT_EQ(reply_length, sizeof(reply));  // nothing sent, nothing changed
    EXPECT_EQ(fmx_toolbox_clean(&h, 0x20000000, reply, nullptr), FMX_MESSAGE_VERSION_TOO_OLD);
    EXPECT_EQ(fmx_toolbox_clean(&never_asked, 0x20000000, reply, nullptr),
              FMX_MESSAGE_VERSION_TOO_OLD);

    // 0x0200 passes the test and reaches the (missing) node.
    const FmxHandle current = add(2, 0x0200)->handle;
    EXPECT_EQ(fmx_upload_firmware(&current, nullptr, 0, 0, 1, reply, &reply_length, nullptr),
              FMX_OPEN_FAILED);
    EXPECT_EQ(reply_length, 0u);
}

TEST_F(Registry, ToolboxCleanTakesOnlyPersistentPagesFlag) {
    const FmxHandle h = add(0)->handle;
    for (uint32_t flags : {0x00000000u, 0x02000000u, 0x20000001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(fmx_toolbox_clean(&h, flags, nullptr, nullptr), FMX_BAD_CLEAN_FLAGS) << flags;
    }
    EXPECT_EQ(fmx_toolbox_clean(&h, 0x20000000, nullptr, nullptr), FMX_OPEN_FAILED);
}

TEST_F(Registry, ConfigRefusesExtendedPageWithoutExtendedType) {
    const FmxHandle h = add(0)->handle;
    uint8_t page[8];
    uint32_t length = sizeof(page);
    EXPECT_EQ(fmx_read_config_page(&h, 0, 0x0F, 0, 0, 1, page, &length), FMX_INVALID_PARAMETER);
    EXPECT_EQ(length, sizeof(page));
    EXPECT_EQ(fmx_write_config_page(&h, 0, 0x0F, 0, 0, 3, page, sizeof(page)),
              FMX_INVALID_PARAMETER);
    // With an extended type the request is made.
    EXPECT_EQ(fmx_read_config_page(&h, 0, 0x0F, 0, 0x10, 1, page, &length), FMX_OPEN_FAILED);
}

TEST(NoContext, LastStatusCopiesNothing) {
    // Runs in its own process under gtest_discover_tests, before any init.
    if (fmx_context() != nullptr) GTEST_SKIP() << "context already created in this process";
    FmxStatusBlock block{1, 2, 3, 4, 5};
    EXPECT_EQ(fmx_get_last_status(&block), FMX_OK);
    EXPECT_EQ(block.valid_bits, 2u);
    uint32_t count = 7;
    EXPECT_EQ(fmx_discover_adapters(&count, 0x9000000F), FMX_FAILURE);
}

}  // namespace
