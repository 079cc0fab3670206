// "-b" and "-biosall" end to end: sasburn under fmxsim, checked by what it
// prints and by the boot region each emulated controller holds after the run.
//
// The default scenario's controllers are device ID 0x45 (index 0), whose boot
// images sasburn writes as 0x87, and 0x47 (index 1), written as 0x70. Files
// are made for 0x80, an ID every controller takes.
#include <gtest/gtest.h>

#include <algorithm>

#include "boot_image_builder.h"
#include "fmxsim_support.h"
#include "run_command.h"
#include "temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fmxsim::RomImageSpec;
using fmxsim::TrailingImageSpec;

const std::string kSasburn = SASBURN_PROGRAM;

constexpr uint8_t kX86 = boot::kCodeTypeX86;
constexpr uint8_t kUefi = boot::kCodeTypeUefi;
constexpr uint8_t kFcode = boot::kCodeTypeFcode;
constexpr uint8_t kLast = 0x80;
constexpr uint16_t kFileId = 0x80;
constexpr uint16_t kId45 = 0x87;  // what controller 0 (0x45) gets
constexpr uint16_t kId47 = 0x70;  // what controller 1 (0x47) gets

constexpr uint8_t kFunctionDownload = 0x09;
constexpr uint8_t kFunctionUpload = 0x12;
constexpr uint8_t kImageTypeBoot = 2;

// Offsets inside images made by the builder (PCI data structure at 0x1C).
constexpr size_t kPciDeviceId = 0x1C + 0x06;
constexpr size_t kPciIndicator = 0x1C + 0x15;

RomImageSpec rom(uint8_t code_type, uint16_t device_id, uint8_t fill,
                 std::optional<uint8_t> indicator = std::nullopt, uint16_t blocks = 1) {
    RomImageSpec spec;
    spec.code_type = code_type;
    spec.device_id = device_id;
    spec.fill = fill;
    spec.indicator = indicator;
    spec.blocks = blocks;
    return spec;
}

RomImageSpec as(RomImageSpec spec, uint16_t device_id, uint8_t indicator) {
    spec.device_id = device_id;
    spec.indicator = indicator;
    return spec;
}

TrailingImageSpec trailing(uint8_t image_class, uint16_t id, uint8_t fill) {
    return {image_class, id, 0x180, fill};
}

Bytes build(const std::vector<RomImageSpec>& roms, const std::vector<TrailingImageSpec>& tail = {}) {
    return fmxsim::build_boot_image(roms, tail);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Sets the last byte so that the 8-bit sum of all bytes is 0.
void set_zero_sum(Bytes& bytes) {
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    bytes.back() = static_cast<uint8_t>(-sum);
}

const std::string kValidationPassed =
    "\t\tValidating BIOS Image...\n\n"
    "\t\tBIOS Header Signature is Valid\n\n"
    "\t\tBIOS Image has a Valid Checksum. \n\n"
    "\t\tBIOS PCI Structure Signature Valid.\n\n"
    "\t\tBIOS Image Compatible with the SAS Controller.\n\n";
const std::string kFlashSucceeded =
    kValidationPassed + "\t\tAttempting to Flash BIOS Image...\n\n\t\tFlash BIOS Image Successful.\n\n";
const std::string kFlashFailed =
    kValidationPassed + "\t\tAttempting to Flash BIOS Image...\n\n\t\tFlash BIOS Image Failed!\n\n";
const std::string kOperation = "\tExecuting Operation: Flash BIOS Image\n\n";
const std::string kRunSucceeded = "\tFinished Processing Commands Successfully.\n\tExiting sasburn.\n\n";
const std::string kRunFailed =
    "\tDue to error remaining commands will not be executed.\n"
    "\tUnable to Process Commands.\n\tExiting sasburn.\n\n";

std::string biosall_heading(int index) {
    // The default controllers have no chip text, hence two blanks after "SAS".
    return "\n\tAttempting to flash Boot Services Image to Norvane SAS  at Index " +
           std::to_string(index) + ":\n\n";
}

// The output from the first line that starts with `first` to its end.
std::string output_from(const std::string& output, const std::string& first) {
    const size_t at = output.find(first);
    if (at == std::string::npos) return "<no \"" + first + "\" in the output:\n" + output + ">";
    return output.substr(at);
}

struct FlashRun {
    fmx_test::RunResult result;
    fmxsim::Scenario after;
    std::vector<fmxsim::TraceRecord> trace;

    const Bytes& boot_region(size_t controller) const { return after.controllers.at(controller).boot; }
    // Requests of the run that read or wrote a boot region, on one IOC number.
    size_t boot_region_requests(uint32_t ioc) const {
        return static_cast<size_t>(std::count_if(trace.begin(), trace.end(), [&](const auto& r) {
            return r.ioc == ioc && r.image_type == kImageTypeBoot;
        }));
    }
};

class BootFlash : public testing::Test {
protected:
    fmx_test::TempDir dir;
    fmxsim::Scenario scenario = fmxsim::default_scenario();

    std::string file_path() const { return dir.file("boot.rom"); }
    fmxsim::ControllerSpec& controller(size_t index) { return scenario.controllers.at(index); }

    FlashRun sasburn(const Bytes& file, std::vector<std::string> args, std::string input = "") {
        fmx_test::write_file(file_path(), std::string(file.begin(), file.end()));
        const std::string scenario_path = fmx_test::write_scenario(dir, scenario);
        args.insert(args.begin(), kSasburn);
        const fmx_test::FmxsimRun how{scenario_path, dir.file("trace.txt"), dir.file("after.json")};
        FlashRun run;
        run.result = fmx_test::run_command(fmx_test::fmxsim_command(how, args),
                                           {.timeout = std::chrono::seconds(240),
                                            .standard_input = std::move(input)});
        run.after = fmx_test::read_saved_state(dir.file("after.json"));
        run.trace = fmx_test::read_trace(dir.file("trace.txt"));
        return run;
    }
};

void expect_region(const Bytes& actual, const Bytes& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin());
    EXPECT_TRUE(diff.first == actual.end())
        << "first difference at offset 0x" << std::hex << (diff.first - actual.begin());
}

// --- where the pieces of the new region come from --------------------------

struct SourceCase {
    std::string name;
    size_t controller;
    Bytes region;
    Bytes file;
    Bytes expected;
};

std::vector<SourceCase> source_cases() {
    // The region's images (fill 0x4x/0x5x) and the file's (0x1x/0x2x).
    const auto r_x86 = rom(kX86, kId45, 0x41, {}, 2);
    const auto r_x86_second = rom(kX86, 0x86, 0x42);
    const auto r_uefi = rom(kUefi, kId45, 0x43, {}, 2);
    const auto r_fcode = rom(kFcode, kId45, 0x44);
    const auto r_t1_102 = trailing(1, 0x102, 0x51), r_t1_110 = trailing(1, 0x110, 0x52);
    const auto r_t3_102 = trailing(3, 0x102, 0x53), r_t3_112 = trailing(3, 0x112, 0x54);
    const auto f_x86 = rom(kX86, kFileId, 0x11, {}, 3);
    const auto f_uefi = rom(kUefi, kFileId, 0x12);
    const auto f_fcode = rom(kFcode, kFileId, 0x13, {}, 2);
    const auto f_t1_102 = trailing(1, 0x102, 0x21), f_t1_113 = trailing(1, 0x113, 0x22);
    const auto f_t3_110 = trailing(3, 0x110, 0x23), f_t3_112 = trailing(3, 0x112, 0x24);
    const Bytes full_region = build({r_x86, r_x86_second, r_uefi, r_fcode}, {r_t1_110, r_t3_102, r_t1_102});

    std::vector<SourceCase> cases;
    cases.push_back({"x86_same_id_keeps_the_second_x86_and_region_trailing", 0, full_region,
                     build({f_x86}, {f_t1_113}),
                     build({as(f_x86, kId45, 0), as(r_x86_second, 0x86, 0), as(r_uefi, kId45, 0),
                            as(r_fcode, kId45, kLast)},
                           {r_t1_102, r_t1_110, r_t3_102})});

    // On the 0x47 controller the file's 0x80 is written as 0x70.
    cases.push_back({"x86_same_id_without_second_takes_file_trailing_on_0x47", 1,
                     build({as(r_x86, kId47, 0), as(r_uefi, kId47, kLast)}, {r_t1_110, r_t3_112}),
                     build({f_x86}, {f_t1_113, f_t1_102}),
                     build({as(f_x86, kId47, 0), as(r_uefi, kId47, kLast)}, {f_t1_102, f_t1_113, r_t3_112})});

    {
        const auto r_below = rom(kX86, kId47 - 1, 0x45, 0);
        const Bytes file = build({f_x86}, {f_t1_113});
        // The whole file follows the region's image, rewritten, no longer last,
        // and with its final byte as the checksum byte of the piece.
        Bytes whole_file = file;
        fmx::store_le16(&whole_file[kPciDeviceId], kId47);
        whole_file[kPciIndicator] = 0;
        set_zero_sum(whole_file);
        cases.push_back({"x86_next_id_follows_the_region_image", 1,
                         build({r_below, as(r_fcode, kId47, kLast)}, {r_t1_102}), file,
                         concat({build({as(r_below, kId47 - 1, 0)}), whole_file,
                                 build({as(r_fcode, kId47, kLast)}, {r_t1_102})})});
    }

    cases.push_back({"x86_other_id_goes_in_front", 0, build({rom(kX86, 0x64, 0x46)}, {r_t1_102, r_t3_102}),
                     build({f_x86}, {f_t1_113}),
                     build({as(f_x86, kId45, 0), rom(kX86, 0x64, 0x46, kLast)}, {f_t1_113, r_t3_102})});

    cases.push_back({"uefi_file", 0, full_region, build({f_uefi}, {f_t3_110, f_t3_112, f_t1_113}),
                     build({as(r_x86, kId45, 0), as(f_uefi, kId45, 0), as(r_fcode, kId45, kLast)},
                           {r_t1_102, r_t1_110, f_t3_112, f_t3_110})});

    cases.push_back({"fcode_file", 0, full_region, build({f_fcode}, {f_t1_113}),
                     build({as(r_x86, kId45, 0), as(r_uefi, kId45, 0), as(f_fcode, kId45, kLast)},
                           {r_t1_102, r_t1_110, r_t3_102})});

    cases.push_back({"unknown_trailing_images_dropped", 0,
                     build({as(r_x86, kId45, 0), as(r_uefi, kId45, kLast)},
                           {trailing(1, 0x105, 0x55), r_t3_102, trailing(5, 0x102, 0x56),
                            trailing(3, 0x120, 0x57)}),
                     build({f_x86}),
                     build({as(f_x86, kId45, 0), as(r_uefi, kId45, kLast)}, {r_t3_102})});
    return cases;
}

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.name; }

class BootFlashSources : public BootFlash, public testing::WithParamInterface<SourceCase> {};

TEST_P(BootFlashSources, MergesTheFileIntoTheRegion) {
    const SourceCase& c = GetParam();
    controller(c.controller).boot = c.region;
    const size_t other = 1 - c.controller;
    const Bytes other_region = controller(other).boot;

    const FlashRun run = sasburn(c.file, {"-c", std::to_string(c.controller), "-b", file_path()});

    EXPECT_EQ(run.result.exit_status, 0) << run.result.standard_output << run.result.standard_error;
    EXPECT_EQ(output_from(run.result.standard_output, kOperation), kOperation + kFlashSucceeded + kRunSucceeded);
    expect_region(run.boot_region(c.controller), c.expected);
    EXPECT_EQ(run.boot_region(other), other_region);
}

INSTANTIATE_TEST_SUITE_P(Cases, BootFlashSources, testing::ValuesIn(source_cases()),
                         [](const auto& test) { return test.param.name; });

TEST_F(BootFlash, RegionThatReadsBackEmptyIsBuiltFromTheFileAlone) {
    controller(0).boot = build({rom(kX86, kId45, 0x41)}, {trailing(1, 0x110, 0x51)});
    controller(0).readback_faults.push_back({fmxsim::RegionKind::boot, std::nullopt, 0u, false});
    const auto f_x86 = rom(kX86, kFileId, 0x11, {}, 2);
    const auto f_t1 = trailing(1, 0x112, 0x21), f_t3 = trailing(3, 0x102, 0x22);

    const FlashRun run = sasburn(build({f_x86}, {f_t3, f_t1}), {"-b", file_path()});

    EXPECT_EQ(run.result.exit_status, 0) << run.result.standard_output;
    expect_region(run.boot_region(0), build({as(f_x86, kId45, kLast)}, {f_t1}));
}

// --- refusals and failed requests -----------------------------------------------

struct FailureCase {
    std::string name;
    Bytes file;
    std::optional<fmxsim::RequestFault> fault;
    std::string output;            // from the operation heading on
    size_t boot_region_requests;   // that reached the driver
};

std::vector<FailureCase> failure_cases() {
    const Bytes good = build({rom(kX86, kFileId, 0x11, {}, 2)});
    Bytes bad_sum = good;
    bad_sum[0x123] = static_cast<uint8_t>(bad_sum[0x123] + 0xC4);
    const std::string checked =
        "\t\tValidating BIOS Image...\n\n\t\tBIOS Header Signature is Valid\n\n"
        "\t\tBIOS Image has a Valid Checksum. \n\n\t\tBIOS PCI Structure Signature Valid.\n\n";

    fmxsim::RequestFault upload_fails;
    upload_fails.function = kFunctionUpload;
    upload_fails.ioc_status = 0x0004;
    fmxsim::RequestFault download_fails;
    download_fails.function = kFunctionDownload;
    download_fails.ioc_status = 0x0004;
    download_fails.log_info = 0x31120101;

    return {
        {"checksum", bad_sum, std::nullopt,
         kOperation + "\t\tValidating BIOS Image...\n\n\t\tBIOS Header Signature is Valid\n\n"
                      "\t\tERROR: BIOS Image Checksum Failed: 000000C4\n\n" + kRunFailed,
         0},
        // 0x45 is a controller's ID, never that of an image it takes.
        {"device_id_0x45", build({rom(kX86, 0x45, 0x11)}), std::nullopt,
         kOperation + checked + "\t\tERROR: BIOS Image not compatible with the SAS Controller.\n\n" + kRunFailed,
         0},
        {"region_upload_fails", good, upload_fails,
         kOperation + kValidationPassed + "\t\tAttempting to Flash BIOS Image...\n\n"
                      "\tERROR: Failed to Upload Image!\n\t\tFlash BIOS Image Failed!\n\n" + kRunFailed,
         1},
        {"region_download_fails", good, download_fails, kOperation + kFlashFailed + kRunFailed, 3},
    };
}

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class BootFlashFailures : public BootFlash, public testing::WithParamInterface<FailureCase> {};

TEST_P(BootFlashFailures, LeaveTheRegionAsItWas) {
    const FailureCase& c = GetParam();
    if (c.fault) controller(0).request_faults.push_back(*c.fault);
    const Bytes region_before = controller(0).boot;

    const FlashRun run = sasburn(c.file, {"-b", file_path()});

    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_EQ(output_from(run.result.standard_output, kOperation), c.output);
    EXPECT_EQ(run.boot_region(0), region_before);
    EXPECT_EQ(run.boot_region_requests(0), c.boot_region_requests);
}

INSTANTIATE_TEST_SUITE_P(Cases, BootFlashFailures, testing::ValuesIn(failure_cases()),
                         [](const auto& test) { return test.param.name; });

// --- every adapter -----------------------------------------------------------------

TEST_F(BootFlash, BiosallFlashesEveryControllerForItsOwnDeviceId) {
    const auto f_x86 = rom(kX86, kFileId, 0x11, {}, 2);
    const FlashRun run = sasburn(build({f_x86}), {"-biosall", file_path()});

    EXPECT_EQ(run.result.exit_status, 0) << run.result.standard_output;
    EXPECT_EQ(output_from(run.result.standard_output, biosall_heading(0)),
              biosall_heading(0) + kFlashSucceeded + biosall_heading(1) + kFlashSucceeded + kRunSucceeded);
    expect_region(run.boot_region(0), build({as(f_x86, kId45, kLast)}));
    expect_region(run.boot_region(1), build({as(f_x86, kId47, kLast)}));
}

TEST_F(BootFlash, BiosallStopsAtTheFirstFailedFlash) {
    fmxsim::RequestFault download_fails;
    download_fails.function = kFunctionDownload;
    download_fails.ioc_status = 0x0004;
    controller(0).request_faults.push_back(download_fails);
    const Bytes second_region = controller(1).boot;

    const FlashRun run = sasburn(build({rom(kX86, kFileId, 0x11)}), {"-biosall", file_path()});

    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_EQ(output_from(run.result.standard_output, biosall_heading(0)),
              biosall_heading(0) + kFlashFailed + kRunFailed);
    EXPECT_EQ(run.boot_region_requests(1), 0u);
    EXPECT_EQ(run.boot_region(1), second_region);
}

// Only the first 128 controllers have a tracked state; a further one reads as
// not operational. Asked for a firmware file, the operator quits, and -biosall
// skips that controller without failing.
TEST_F(BootFlash, BiosallSkipsAControllerThatIsNotOperational) {
    constexpr size_t kControllers = 129;
    fmxsim::ControllerSpec model = controller(1);
    model.firmware.clear();
    model.backup.clear();
    model.boot = build({rom(kX86, kId47, 0x41)});
    scenario.controllers.assign(kControllers, model);
    scenario.nodes.assign(1, fmxsim::NodeSpec{"/dev/fmx2ctl", false, {}});
    for (size_t i = 0; i < kControllers; ++i)
        scenario.nodes[0].iocs.push_back({static_cast<uint32_t>(i), i, false});
    const auto f_x86 = rom(kX86, kFileId, 0x11);

    const FlashRun run = sasburn(build({f_x86}), {"-biosall", file_path()}, "quit\n");

    EXPECT_EQ(run.result.exit_status, 0) << run.result.standard_output;
    EXPECT_EQ(output_from(run.result.standard_output, biosall_heading(127)),
              biosall_heading(127) + kFlashSucceeded +
                  "\tController is not operational. A firmware download is required.\n"
                  "Enter firmware file name or quit to exit: " +
                  biosall_heading(128) +
                  "\n\tSkipping Controller Norvane SAS  at Index 128 as it is not operational!\n\n" +
                  kRunSucceeded);
    expect_region(run.boot_region(127), build({as(f_x86, kId47, kLast)}));
    EXPECT_EQ(run.boot_region(128), model.boot);
    EXPECT_EQ(run.boot_region_requests(128), 0u);
}

}  // namespace
