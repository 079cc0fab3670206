// Scenarios: the built-in default, reading files (and their errors), saving
// state so that it reads back the same; and the trace line format.
#include <gtest/gtest.h>

#include <cstring>

#include "fmxsim_support.h"
#include "message_frames.h"
#include "scenario_file.h"
#include "temp_dir.h"

namespace {

using fmxsim::Scenario;

std::string board_name(const fmxsim::ControllerSpec& c) {
    const fmxsim::PageSpec* page = c.find_page(fmx::kPageTypeManufacturing, 0, 0);
    if (page == nullptr || page->nonvolatile.size() != 76) return "?";
    const char* text = reinterpret_cast<const char*>(page->nonvolatile.data() +
                                                     offsetof(fmx::ManufacturingPage0, board_name));
    return std::string(text, strnlen(text, 16));
}

Scenario parse(const std::string& json, const std::string& base_dir = ".") {
    fmxsim::ScenarioLoad load = fmxsim::parse_scenario(json, base_dir, "s.json");
    EXPECT_TRUE(load.scenario) << load.error;
    return load.scenario ? *load.scenario : Scenario{};
}

TEST(DefaultScenario, TwoControllersThatDiscoveryTakes) {
    const Scenario s = fmxsim::default_scenario();
    ASSERT_EQ(s.controllers.size(), 2u);
    ASSERT_EQ(s.nodes.size(), 1u);
    EXPECT_EQ(s.nodes[0].path, "/dev/fmx2ctl");
    ASSERT_EQ(s.nodes[0].iocs.size(), 2u);
    const struct {
        uint16_t device_id;
        uint8_t revision;
        const char* board;
    } expected[] = {{69, 1, "Q520"}, {71, 0, "Q510i"}};
    for (size_t i = 0; i < 2; ++i) {
        const fmxsim::ControllerSpec& c = s.controllers[s.nodes[0].iocs[i].controller];
        EXPECT_EQ(s.nodes[0].iocs[i].ioc, i);
        EXPECT_EQ(c.device_id, expected[i].device_id);
        EXPECT_EQ(c.revision, expected[i].revision);
        EXPECT_EQ(board_name(c), expected[i].board);
        EXPECT_EQ(c.message_version, 0x0200);
        EXPECT_GE(c.firmware.size(), 128u * 1024);
        EXPECT_LE(c.firmware.size(), 1024u * 1024);
        EXPECT_EQ(c.backup, c.firmware);
        ASSERT_GE(c.boot.size(), 512u);
        EXPECT_EQ(c.boot[0], 0x55);
        EXPECT_EQ(c.boot[1], 0xAA);
        EXPECT_TRUE(c.find_page(fmx::kPageTypeManufacturing, 2, 0));
        EXPECT_TRUE(c.find_page(fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit));
    }
}

TEST(ScenarioFile, EmptyFileMeansTheDefaultControllersOnFmx2ctl) {
    const Scenario s = parse("{}");
    const Scenario d = fmxsim::default_scenario();
    ASSERT_EQ(s.controllers.size(), 2u);
    EXPECT_EQ(s.controllers[1].firmware, d.controllers[1].firmware);
    ASSERT_EQ(s.nodes.size(), 1u);
    EXPECT_EQ(s.nodes[0].path, "/dev/fmx2ctl");
    EXPECT_EQ(s.nodes[0].iocs.size(), 2u);
}

TEST(ScenarioFile, ReadsControllersNodesPagesRegionsAndFaults) {
    fmx_test::TempDir dir;
    fmx_test::write_file(dir.file("fw.bin"), std::string("\x01\x02\x03", 3));
    const Scenario s = parse(R"({
      "description": "one third-generation controller",
      "controllers": [{
        "device_id": 145, "revision": "0x02", "firmware_version": "0x0E000300",
        "driver_version": "9.9", "pci_bus": 3, "pci_device": 4, "pci_function": 1,
        "message_version": 261,
        "manufacturing_page0": {"board_name": "Q900", "chip_name": "FMX3"},
        "manufacturing_page2": null,
        "sas_io_unit_page": {"length": 16, "nonvolatile": "00000000 00000000 aabbccdd 11223344"},
        "regions": {"firmware": {"file": "fw.bin"}, "boot": {"hex": "55aa01"}},
        "faults": {
          "requests": [{"function": "0x12", "nth": 3, "ioc_status": 4, "log_info": "0x1234"},
                       {"function": 9, "driver_error": true, "count": 0}],
          "readback": [{"region": "backup", "changed_byte": 1}]
        }
      }, {"based_on": 1, "scsi_id": 9}],
      "nodes": [{"path": "/dev/fmx3ctl", "iocs": [{"ioc": 7, "controller": 0, "ioc_info_fails": true}]},
                {"path": "/dev/qxvsactl", "open_fails": true}]
    })",
                             dir.path());
    ASSERT_EQ(s.controllers.size(), 2u);
    const fmxsim::ControllerSpec& c = s.controllers[0];
    EXPECT_EQ(s.description, "one third-generation controller");
    EXPECT_EQ(c.device_id, 145);
    EXPECT_EQ(c.revision, 2);
    EXPECT_EQ(c.firmware_version, 0x0E000300u);
    EXPECT_EQ(c.driver_version, "9.9");
    EXPECT_EQ(c.pci_location(), (3u << 8) | (1u << 5) | 4u);
    EXPECT_EQ(c.message_version, 0x0105);
    EXPECT_EQ(board_name(c), "Q900");
    EXPECT_FALSE(c.find_page(fmx::kPageTypeManufacturing, 2, 0));
    const fmxsim::PageSpec* sas = c.find_page(fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit);
    ASSERT_TRUE(sas);
    EXPECT_EQ(sas->size(), 16u);
    // The header bytes of a given copy are the page's own.
    EXPECT_EQ(sas->nonvolatile,
              (std::vector<uint8_t>{0, 0, 0, 0x0F, 4, 0, 0x10, 0, 0xAA, 0xBB, 0xCC, 0xDD, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(sas->current, (std::vector<uint8_t>{0, 0, 0, 0x0F, 4, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.firmware, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(c.backup, c.firmware);
    EXPECT_EQ(c.boot, (std::vector<uint8_t>{0x55, 0xAA, 0x01}));
    ASSERT_EQ(c.request_faults.size(), 2u);
    EXPECT_EQ(c.request_faults[0].function, 0x12);
    EXPECT_EQ(c.request_faults[0].nth, 3u);
    EXPECT_EQ(c.request_faults[0].log_info, 0x1234u);
    EXPECT_TRUE(c.request_faults[1].driver_error);
    EXPECT_EQ(c.request_faults[1].count, 0u);
    ASSERT_EQ(c.readback_faults.size(), 1u);
    EXPECT_EQ(c.readback_faults[0].changed_byte, 1u);

    const fmxsim::ControllerSpec& based = s.controllers[1];
    EXPECT_EQ(based.device_id, 71);
    EXPECT_EQ(based.scsi_id, 9);
    EXPECT_EQ(board_name(based), "Q510i");
    EXPECT_EQ(based.firmware, fmxsim::default_scenario().controllers[1].firmware);

    ASSERT_EQ(s.nodes.size(), 2u);
    EXPECT_EQ(s.nodes[0].iocs[0].ioc, 7u);
    EXPECT_TRUE(s.nodes[0].iocs[0].ioc_info_fails);
    EXPECT_TRUE(s.nodes[1].open_fails);
    EXPECT_TRUE(s.nodes[1].iocs.empty());
}

TEST(ScenarioFile, FillRegionsAndPlainControllerDefaults) {
    const Scenario s = parse(R"({"controllers": [{"device_id": 100,
        "regions": {"backup": {"fill": 255, "size": 8}, "boot": {"fill": 0, "size": 0}}}]})");
    const fmxsim::ControllerSpec& c = s.controllers[0];
    EXPECT_EQ(c.backup, std::vector<uint8_t>(8, 0xFF));
    EXPECT_TRUE(c.boot.empty());
    EXPECT_FALSE(c.firmware.empty());
    EXPECT_EQ(c.pages.size(), 3u);
    EXPECT_EQ(s.nodes[0].iocs.size(), 1u);
}

// Every error names the file and the field that is wrong.
TEST(ScenarioFile, BadFieldsAreNamed) {
    const struct {
        const char* json;
        const char* message;
    } cases[] = {
        {R"({"controllers": [{"device_id": 70000}]})", "s.json: controllers[0].device_id: expected an integer from 0 to 65535"},
        {R"({"controllers": [{"revision": 1}]})", "s.json: controllers[0].device_id: missing"},
        {R"({"controllers": [{"device_id": "69x"}]})", "controllers[0].device_id: expected an integer"},
        {R"({"controllers": [{"device_id": -1}]})", "controllers[0].device_id: expected an integer"},
        {R"({"controllers": [{"device_id": 69, "colour": 1}]})", "controllers[0].colour: unknown field"},
        {R"({"controlers": []})", "s.json: controlers: unknown field"},
        {R"({"controllers": [{"based_on": 2}]})", "controllers[0].based_on: expected an integer from 0 to 1"},
        {R"({"controllers": [{"device_id": 1, "pci_device": 32}]})", "controllers[0].pci_device"},
        {R"({"controllers": [{"device_id": 1, "driver_version": 5}]})", "controllers[0].driver_version: expected a string"},
        {R"({"controllers": [{"device_id": 1, "manufacturing_page0": {"board_name": "12345678901234567"}}]})",
         "controllers[0].manufacturing_page0.board_name: longer than 16 characters"},
        {R"({"controllers": [{"device_id": 1, "manufacturing_page2": {"length": 30}}]})",
         "controllers[0].manufacturing_page2.length: expected a multiple of 4"},
        {R"({"controllers": [{"device_id": 1, "manufacturing_page2": {"length": 8, "current": "0011"}}]})",
         "controllers[0].manufacturing_page2.current: expected 8 bytes"},
        {R"({"controllers": [{"device_id": 1, "regions": {"boot": {"hex": "abc"}}}]})",
         "controllers[0].regions.boot.hex: odd number of hex digits"},
        {R"({"controllers": [{"device_id": 1, "regions": {"boot": {"hex": "zz"}}}]})",
         "controllers[0].regions.boot.hex: expected a string of hex digits"},
        {R"({"controllers": [{"device_id": 1, "regions": {"boot": {}}}]})",
         "controllers[0].regions.boot: expected exactly one of"},
        {R"({"controllers": [{"device_id": 1, "regions": {"flash": {"hex": ""}}}]})",
         "controllers[0].regions.flash: unknown field"},
        {R"({"controllers": [{"device_id": 1, "regions": {"boot": {"file": "no-such.bin"}}}]})",
         "controllers[0].regions.boot.file: cannot read"},
        {R"({"controllers": [{"device_id": 1, "regions": {"boot": {"file": "/dev/zero"}}}]})",
         "controllers[0].regions.boot.file: \"/dev/zero\" is not a regular file"},
        {R"({"controllers": [{"device_id": 1, "faults": {"requests": [{"function": 9}]}}]})",
         "controllers[0].faults.requests[0]: expected either \"driver_error\": true or an \"ioc_status\""},
        {R"({"controllers": [{"device_id": 1, "faults": {"readback": [{"region": "boot"}]}}]})",
         "controllers[0].faults.readback[0]: expected \"changed_byte\" or \"size\""},
        {R"({"controllers": [{"device_id": 1, "faults": {"readback": [{"region": "nvram", "size": 1}]}}]})",
         "controllers[0].faults.readback[0].region"},
        {R"({"nodes": [{"path": "/dev/sda"}]})", "nodes[0].path: expected one of"},
        {R"({"nodes": [{"path": "/dev/fmx2ctl"}, {"path": "/dev/fmx2ctl"}]})", "nodes[1].path: node named twice"},
        {R"({"nodes": [{"path": "/dev/fmx2ctl", "iocs": [{"ioc": 0, "controller": 2}]}]})",
         "nodes[0].iocs[0].controller: expected an integer from 0 to 1"},
        {R"({"nodes": [{"path": "/dev/fmx2ctl", "iocs": [{"ioc": 0, "controller": 0}, {"ioc": 0, "controller": 1}]}]})",
         "nodes[0].iocs[1].ioc: IOC number used twice"},
        {R"({"nodes": {"path": "/dev/fmx2ctl"}})", "s.json: nodes: expected an array"},
        {R"([1, 2])", "s.json: (top level): expected an object"},
        {R"({"controllers": [}")", "s.json: not valid JSON"},
        {R"({"controllers": [{"device_id": 1e400}]})", "s.json: not valid JSON"},
        {R"({"controllers": [{"device_id": 1, "regions": {"firmware": {"fill": 1, "size": 67108864},
                                                        "backup": {"fill": 2, "size": 67108864}}},
                             {"device_id": 2, "regions": {"firmware": {"fill": 3, "size": 67108864},
                                                        "backup": {"fill": 4, "size": 67108864},
                                                        "boot": {"hex": "00"}}}]})",
         "controllers[1].regions.backup: the scenario's regions add up to more than 256 MiB"},
    };
    for (const auto& c : cases) {
        const fmxsim::ScenarioLoad load = fmxsim::parse_scenario(c.json, ".", "s.json");
        EXPECT_FALSE(load.scenario) << c.json;
        EXPECT_NE(load.error.find(c.message), std::string::npos) << c.json << "\n  gave: " << load.error;
    }
}

TEST(ScenarioFile, UnreadableFileIsNamed) {
    const fmxsim::ScenarioLoad load = fmxsim::load_scenario_file("/nonexistent/s.json");
    EXPECT_FALSE(load.scenario);
    EXPECT_EQ(load.error, "/nonexistent/s.json: cannot read: No such file or directory");
}

TEST(SavedState, ReadsBackAsTheSameScenario) {
    fmx_test::TempDir dir;
    Scenario s = fmxsim::default_scenario();
    s.controllers[0].pages[1].nonvolatile[10] = 0x99;
    s.controllers[0].boot = {};
    s.controllers[1].request_faults = {{.function = 9, .nth = 2, .count = 0, .ioc_status = 0x22, .log_info = 7}};
    s.controllers[1].readback_faults = {{.region = fmxsim::RegionKind::boot, .size = 3, .after_download = true}};
    s.nodes.push_back({"/dev/fmx3ctl", true, {{4, 1, true}}});

    const std::string path = fmx_test::write_scenario(dir, s, "state.json");
    const Scenario back = fmx_test::read_saved_state(path);
    ASSERT_EQ(back.controllers.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const fmxsim::ControllerSpec& a = s.controllers[i];
        const fmxsim::ControllerSpec& b = back.controllers[i];
        EXPECT_EQ(a.device_id, b.device_id);
        EXPECT_EQ(a.revision, b.revision);
        EXPECT_EQ(a.subsystem_device_id, b.subsystem_device_id);
        EXPECT_EQ(a.firmware_version, b.firmware_version);
        EXPECT_EQ(a.pci_location(), b.pci_location());
        EXPECT_EQ(a.driver_version, b.driver_version);
        EXPECT_EQ(a.message_version, b.message_version);
        EXPECT_EQ(a.firmware, b.firmware);
        EXPECT_EQ(a.boot, b.boot);
        EXPECT_EQ(a.backup, b.backup);
        ASSERT_EQ(a.pages.size(), b.pages.size());
        for (size_t p = 0; p < a.pages.size(); ++p) {
            EXPECT_EQ(a.pages[p].current, b.pages[p].current);
            EXPECT_EQ(a.pages[p].defaults, b.pages[p].defaults);
            EXPECT_EQ(a.pages[p].nonvolatile, b.pages[p].nonvolatile);
        }
    }
    ASSERT_EQ(back.controllers[1].request_faults.size(), 1u);
    EXPECT_EQ(back.controllers[1].request_faults[0].log_info, 7u);
    EXPECT_EQ(back.controllers[1].request_faults[0].count, 0u);
    ASSERT_EQ(back.controllers[1].readback_faults.size(), 1u);
    EXPECT_TRUE(back.controllers[1].readback_faults[0].after_download);
    ASSERT_EQ(back.nodes.size(), 2u);
    EXPECT_TRUE(back.nodes[1].open_fails);
    EXPECT_TRUE(back.nodes[1].iocs[0].ioc_info_fails);
    // The regions are files beside the state, named relative to it.
    EXPECT_EQ(fmx_test::read_file(dir.file("state.c0.firmware.bin")).size(), s.controllers[0].firmware.size());
}

TEST(TraceLine, FormatsAndParsesBack) {
    fmxsim::TraceRecord r;
    r.node = "/dev/fmx2ctl";
    r.request = 0xC0484C14;
    r.ioc = 1;
    r.function = 0x12;
    r.image_type = 5;
    r.offset = 65536;
    r.length = 100;
    r.timeout = 60;
    r.data_out = 0;
    r.data_in = 100;
    r.ioc_status = 0x8004;
    const std::string line = fmxsim::format_trace_line(r);
    EXPECT_EQ(line,
              "node=/dev/fmx2ctl request=0xC0484C14 ioc=1 function=0x12 action=- page_type=- page_number=- "
              "ext_page_type=- image_type=0x05 offset=65536 length=100 timeout=60 data_out=0 data_in=100 "
              "result=0 errno=- ioc_status=0x8004");
    EXPECT_EQ(fmxsim::parse_trace_line(line), r);

    fmxsim::TraceRecord failed;
    failed.node = "/dev/fmx3ctl";
    failed.request = 0xC05C4C11;
    failed.result = -1;
    failed.error = ENODEV;
    EXPECT_NE(fmxsim::format_trace_line(failed).find("result=-1 errno=ENODEV"), std::string::npos);
    EXPECT_EQ(fmxsim::parse_trace_line(fmxsim::format_trace_line(failed) + "\n"), failed);

    EXPECT_FALSE(fmxsim::parse_trace_line("node=/dev/fmx2ctl request=0xC0484C14"));
    EXPECT_FALSE(fmxsim::parse_trace_line(line.substr(0, line.size() - 6) + "0xZZZZ"));
}

}  // namespace
