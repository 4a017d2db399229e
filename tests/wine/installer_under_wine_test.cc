// The Windows installer, packed by lumopack, run under Wine on a virtual
// display: what lands in the staging folder, what the user sees, what starts.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <vector>

#include "installer_under_wine.h"
#include "read_hold.h"
#include "resources/resource_ids.h"
#include "tests/tools/encoder/test_images.h"

namespace lumo::wine {
namespace {

TEST_F(InstallerUnderWine, FullRunWritesTheFilesAndStartsTheSetupProgramWithoutWaiting) {
    const std::string blob = noise(300000, 1);
    const fs::path installer = build_installer("full", {{"readme.txt", "hello\r\n"},
                                                        {"docs/\xC3\x9C" "bersicht.txt", "umlaut in the name"},
                                                        {"data/deep/blob.bin", blob}});
    // Left over from an earlier run: the clean-up removes it first.
    write_file(staging_ / "old" / "stale.txt", "stale");

    EXPECT_EQ(run_and_confirm(installer), "") << "no message box on success";

    const std::string record = setup_record();
    EXPECT_NE(record.find("folder=" + staging_windows_path().substr(0, staging_windows_path().size() - 1)),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("command=\"" + staging_windows_path() + "Setup.exe\"\n"), std::string::npos) << record;
    EXPECT_NE(record.find("show=1 flags=1\n"), std::string::npos) << "SW_SHOWNORMAL, STARTF_USESHOWWINDOW: " << record;
    // The stand-in lingers four seconds: the installer was gone before it finished.
    EXPECT_FALSE(fs::exists(staging_ / "setup-finished.txt"));

    EXPECT_EQ(read_file(staging_ / "readme.txt"), "hello\r\n");
    EXPECT_EQ(read_file(staging_ / fs::u8path("docs/\xC3\x9C" "bersicht.txt")), "umlaut in the name");
    EXPECT_EQ(read_file(staging_ / "data" / "deep" / "blob.bin"), blob);
    EXPECT_EQ(read_file(staging_ / "Setup.exe"), read_file(helpers / "setup_standin.exe"));
    EXPECT_FALSE(fs::exists(staging_ / "old"));
}

TEST_F(InstallerUnderWine, CorruptPayloadShowsOneMessageInTheUsersLanguageAndStartsNothing) {
    const fs::path installer = build_installer("corrupt", {{"payload.bin", noise(200000, 2)}});
    corrupt_packed_stream(installer);
    struct Case {
        const char* what;
        std::map<std::string, std::string> environment;
        std::string text;
    } cases[] = {
        {"English", {}, LUMO_STR2_EN},
        {"German, umlaut as Windows-1252", german, LUMO_STR2_DE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(staging_);
        EXPECT_EQ(run_and_confirm(installer, c.environment), "count=1\n" + c.text + "\n");
        EXPECT_FALSE(fs::exists(staging_ / "setup-started.txt"));
        EXPECT_FALSE(fs::exists(staging_ / "payload.bin")) << "a damaged entry is never written";
    }
}

TEST_F(InstallerUnderWine, CopyErrorNamesTheFileThatCouldNotBeWritten) {
    const fs::path installer = build_installer("copyerror", {{"readme.txt", "new"}});
    // Another program holds readme.txt open: the clean-up cannot delete it,
    // the writer cannot replace it.
    fs::create_directories(staging_);
    const int holder = session_->start(helpers / "file_holder.exe", {staging_windows_path() + "readme.txt", "20"});
    for (int i = 0; i < 100 && !fs::exists(staging_ / "readme.txt"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const std::string seen = run_and_confirm(installer);
    EXPECT_EQ(seen, "count=1\n" LUMO_STR3_EN + staging_windows_path() + "readme.txt" LUMO_STR4_EN "\n");
    EXPECT_FALSE(fs::exists(staging_ / "setup-started.txt"));
    EXPECT_EQ(read_file(staging_ / "readme.txt"), "old");
    session_->wait(holder, 0);
}

// Ink on a stretch of the progress bar, columns [from, to) of an image of
// 8-bit RGB pixels `width` wide: how many pixels are darker and how many
// lighter than the stretch's own colour (the one most of its pixels have),
// and the mean column of the dark ones.
struct Ink {
    int dark = 0, light = 0;
    double dark_middle = -1;
};

Ink ink_in(const std::string& rgb, int width, int from, int to) {
    const auto lightness = [&](size_t pixel) {
        const auto channel = [&](int c) { return int(uint8_t(rgb[3 * pixel + c])); };
        return (299 * channel(0) + 587 * channel(1) + 114 * channel(2)) / 1000;
    };
    const size_t pixels = rgb.size() / 3;
    std::map<int, int> counts;
    for (size_t i = 0; i < pixels; ++i)
        if (int(i % width) >= from && int(i % width) < to) ++counts[lightness(i)];
    int own = 0;
    for (const auto& [value, count] : counts)
        if (count > counts[own]) own = value;
    Ink ink;
    double columns = 0;
    for (size_t i = 0; i < pixels; ++i) {
        if (int(i % width) < from || int(i % width) >= to) continue;
        if (lightness(i) < own - 64) ++ink.dark, columns += double(i % width);
        if (lightness(i) > own + 8) ++ink.light;
    }
    if (ink.dark > 0) ink.dark_middle = columns / ink.dark;
    return ink;
}

// The progress control as it stands on the screen, 8-bit RGB; its width.
std::string bar_on_screen(const WineSession& session, const std::string& title, const fs::path& scratch, int& width) {
    RunResult rect = session.run(helpers / "window_probe.exe", {"rect", title, std::to_string(IDC_PROGRESS)});
    long left = 0, top = 0, w = 0, h = 0;
    if (rect.exit_code != 0 || std::sscanf(rect.output.c_str(), "%ld %ld %ld %ld", &left, &top, &w, &h) != 4 || w <= 0 ||
        h <= 0) {
        ADD_FAILURE() << "no progress control: " << rect.output;
        return "";
    }
    const fs::path pixels = scratch / "bar.rgb";
    const std::string crop = std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(left) + "+" +
                             std::to_string(top);
    EXPECT_EQ(session.host("import -window root -crop " + crop + " +repage -depth 8 rgb:" + shell_quote(pixels.string()))
                  .exit_code,
              0);
    const std::string rgb = read_file(pixels);
    EXPECT_EQ(rgb.size(), size_t(w * h * 3)) << "screenshot of " << crop;
    width = int(w);
    return rgb;
}

// The label at fills on either side of it and across it, drawn off screen
// by the installer's own drawing code: each part of the label in the ink
// that reads on what lies under it, light on the fill, dark on the rest.
TEST_F(InstallerUnderWine, ProgressLabelIsCutAtTheFillsEdge) {
    constexpr int width = 282, height = 18;
    for (int percentage : {0, 39, 50, 61, 100}) {
        SCOPED_TRACE(percentage);
        const RunResult drawn = session_->run(helpers / "bar_painter.exe",
                                              {std::to_string(percentage), std::to_string(width), std::to_string(height)});
        ASSERT_EQ(drawn.exit_code, 0) << drawn.errors;
        const std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
        ASSERT_EQ(drawn.output.substr(0, header.size()), header);
        const std::string rgb = drawn.output.substr(header.size());
        ASSERT_EQ(rgb.size(), size_t(width * height * 3));

        const int edge = width * percentage / 100;
        const Ink filled = ink_in(rgb, width, 0, edge), unfilled = ink_in(rgb, width, edge, width);
        EXPECT_EQ(filled.dark, 0) << "dark ink on the fill";
        EXPECT_EQ(unfilled.light, 0) << "light ink on the unfilled bar";
        EXPECT_GE(filled.light + unfilled.dark, 10) << "no label";
        // "50%" stands across the edge: both parts are there.
        if (percentage == 50) {
            EXPECT_GT(filled.light, 0);
            EXPECT_GT(unfilled.dark, 0);
        }
    }
}

TEST_F(InstallerUnderWine, DialogShowsPromptFolderAndAReadableLabelAndNoKeyOrCommandEndsIt) {
    const std::string blob = noise(600000, 3);
    const std::map<std::string, std::string> files = {{"readme.txt", "held\r\n"}, {"data/blob.bin", blob}};
    const fs::path installer = build_installer("held", files);
    fs::create_directories(artefacts);
    struct Case {
        const char* language;
        std::map<std::string, std::string> environment;
        std::string title, prompt;
    } cases[] = {
        {"en", {}, dialog_title_en, LUMO_DIALOG_PROMPT_EN},
        {"de", german, dialog_title_de, LUMO_DIALOG_PROMPT_DE},
    };
    const fs::path probe = helpers / "window_probe.exe";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        fs::remove_all(staging_);
        // The installer's own threads read the packed add-on from its file:
        // the first such read waits until the probes are done, so the dialog
        // is up for them however fast or slow the run and the machine.
        ReadHold hold(installer);
        const int process = session_->start(installer, {}, c.environment);
        ASSERT_TRUE(hold.wait_until_held(60)) << "the installer never read its add-on";
        EXPECT_NE(hold.holder().find("held.exe"), std::string::npos) << "held: " << hold.holder();
        RunResult dialog = session_->run(probe, {"show", c.title, "30"}, c.environment);
        ASSERT_EQ(dialog.exit_code, 0) << "no dialog titled " << c.title << ": " << dialog.output;
        // The prompt's own line break, then the staging folder; the bar's text
        // is never shown but is there.
        EXPECT_EQ(dialog.output, c.prompt + staging_windows_path() + "\nButton1\n");

        // Held before the first byte, at 0 %: none of the bar is filled, and
        // the label "0%" stands on the dialog's own light colour, in dark
        // ink, in the middle of the bar.
        int width = 0;
        const std::string bar = bar_on_screen(*session_, c.title, installer.parent_path(), width);
        const Ink ink = ink_in(bar, width, 0, width);
        EXPECT_GE(ink.dark, 10) << "the label is not dark over the unfilled bar";
        EXPECT_EQ(ink.light, 0) << "light ink over the unfilled bar";
        EXPECT_NEAR(ink.dark_middle, width / 2.0, width / 10.0) << "the label is not centred";

        // The dialog alone on the display: the screen trimmed to it.
        const fs::path screenshot = artefacts / ("dialog-" + std::string(c.language) + ".png");
        EXPECT_EQ(session_->host("import -window root -trim +repage " + shell_quote(screenshot.string())).exit_code, 0);

        // Keys from the keyboard and the close box clicked with the mouse, on
        // the display, as a user would; and the close command sent as the
        // system menu does. None may end the dialog: an early end would
        // leave the status unset, show message 5 and start nothing, while
        // the worker went on writing. Keys go where the display's focus is:
        // on the dialog.
        const std::string focus = "w=$(xdotool search --name " + shell_quote("^" + c.title + "$") +
                                  " | head -1) && xdotool windowfocus --sync \"$w\" && ";
        RunResult close_box = session_->run(probe, {"closebox", c.title});
        ASSERT_EQ(close_box.exit_code, 0) << "no close box: " << close_box.output;
        const struct {
            const char* what;
            std::string command;
        } inputs[] = {
            {"Enter", focus + "xdotool key Return"},
            {"Space", focus + "xdotool key space"},
            {"Escape", focus + "xdotool key Escape"},
            {"Alt+F4", focus + "xdotool key alt+F4"},
            {"a click on the close box", "xdotool mousemove " + close_box.output.substr(0, close_box.output.find('\n')) +
                                             " click 1"},
        };
        for (const auto& input : inputs) {
            const RunResult pressed = session_->host("timeout 20 sh -c " + shell_quote(input.command));
            EXPECT_EQ(pressed.exit_code, 0) << input.what << ": " << pressed.errors;
            EXPECT_EQ(session_->run(probe, {"show", c.title, "0"}).exit_code, 0) << input.what << " ended the dialog";
        }
        EXPECT_EQ(session_->run(probe, {"close", c.title}).exit_code, 0);
        EXPECT_EQ(session_->run(probe, {"show", c.title, "0"}).exit_code, 0) << "SC_CLOSE ended the dialog";

        hold.release();
        EXPECT_EQ(finish_and_confirm(process, c.environment), "") << "no message box";
        EXPECT_NE(setup_record(), "") << "the setup program started";
        session_->wait_until_idle();  // the stand-in setup program too
        // Every file byte for byte, and nothing else: no file left half-written.
        std::map<std::string, std::string> expected = files;
        expected["Setup.exe"] = read_file(helpers / "setup_standin.exe");
        expected["setup-started.txt"] = read_file(staging_ / "setup-started.txt");
        expected["setup-finished.txt"] = "";
        std::vector<std::string> names, expected_names;
        for (const auto& entry : fs::recursive_directory_iterator(staging_))
            if (!entry.is_directory()) names.push_back(fs::relative(entry.path(), staging_).generic_string());
        std::sort(names.begin(), names.end());
        for (const auto& [name, content] : expected) expected_names.push_back(name);
        EXPECT_EQ(names, expected_names);
        for (const auto& [name, content] : expected)
            EXPECT_TRUE(read_file(staging_ / name) == content) << name << " differs";
    }
}

// Whatever ends the dialog, here the worker's own close sent from outside
// while the worker is held at its start, the start-up code waits for the
// worker and goes by its verdict: the run ends whole, behind no dialog.
TEST_F(InstallerUnderWine, DialogEndedUnderTheWorkerStillEndsTheRunWhole) {
    const std::string blob = noise(300000, 4);
    const fs::path installer = build_installer("ended", {{"data/blob.bin", blob}});
    const fs::path probe = helpers / "window_probe.exe";
    // Wine now and then loses a new process in its start-up: the process
    // dies before it reports to the Wine server, and CreateProcess fails
    // with "Internal error", before any code of the setup program runs.
    // That failure alone, rare and Wine's own, runs the case again, once.
    for (int attempt = 1;; ++attempt) {
        ReadHold hold(installer);
        const int process = session_->start(installer);
        ASSERT_TRUE(hold.wait_until_held(60)) << "the installer never read its add-on";
        ASSERT_EQ(session_->run(probe, {"show", dialog_title_en, "30"}).exit_code, 0);
        EXPECT_EQ(session_->run(probe, {"post", dialog_title_en, std::to_string(0x8000 + 1)}).exit_code, 0);  // WM_APP + 1
        EXPECT_EQ(session_->run(probe, {"gone", dialog_title_en, "10"}).exit_code, 0) << "the dialog did not end";
        int exit_code = 0;
        EXPECT_FALSE(session_->ended(process, exit_code)) << "the installer did not wait for its worker";

        hold.release();
        int installer_exit = 0;
        const std::string boxes = finish_and_confirm(process, {}, 60, &installer_exit);
        if (attempt == 1 && wine_lost_the_setup_program(boxes)) {
            std::cout << "Wine lost the setup program in its start-up; once more\n" << boxes;
            continue;
        }
        EXPECT_EQ(installer_exit, 0);
        EXPECT_EQ(boxes, "") << "no message box";
        EXPECT_NE(setup_record(), "") << "the setup program started";
        EXPECT_TRUE(read_file(staging_ / "data" / "blob.bin") == blob);
        break;
    }
}

TEST_F(InstallerUnderWine, DllsPlantedBesideTheInstallerAreNeverLoaded) {
    // DLLs that programs load by name and that are not among the system's
    // known DLLs: the classic victims of planting in a Downloads folder.
    const std::vector<std::string> planted = {"version", "uxtheme", "dwmapi",  "winmm",   "cryptbase", "msimg32",
                                              "userenv", "profapi", "propsys", "dbghelp", "wldp",      "comctl32"};
    std::string overrides;
    for (const auto& name : planted) overrides += (overrides.empty() ? "" : ",") + name;
    const std::map<std::string, std::string> prefer_planted = {{"WINEDLLOVERRIDES", overrides + "=n,b;mscoree,mshtml="}};
    auto plant = [&](const fs::path& folder) {
        for (const auto& name : planted) fs::copy_file(helpers / "canary.dll", folder / (name + ".dll"));
    };
    auto markers = [&](const fs::path& folder) {
        std::vector<std::string> found;
        for (const auto& name : planted)
            if (fs::exists(folder / (name + ".dll.loaded"))) found.push_back(name);
        return found;
    };

    // The canaries work: a program with the default search order loads them all.
    const fs::path control = session_->scratch_folder("control");
    fs::copy_file(helpers / "canary_loader.exe", control / "canary_loader.exe");
    plant(control);
    std::vector<std::string> names;
    for (const auto& name : planted) names.push_back(name + ".dll");
    session_->run(control / "canary_loader.exe", names, prefer_planted);
    EXPECT_EQ(markers(control), planted);

    const fs::path installer = build_installer("Downloads", {{"readme.txt", "planted"}});
    plant(installer.parent_path());
    EXPECT_EQ(run_and_confirm(installer, prefer_planted), "");
    EXPECT_NE(setup_record(), "") << "the run went through";
    EXPECT_EQ(markers(installer.parent_path()), std::vector<std::string>{});
}

TEST_F(InstallerUnderWine, SignedInstallerVerifiesReadsAndRuns) {
    const fs::path installer = build_installer("unsigned", {{"readme.txt", "signed"}});
    const fs::path folder = installer.parent_path();
    const fs::path signed_installer = folder / "signed.exe";
    const std::string key = (folder / "key.pem").string(), certificate = (folder / "certificate.pem").string();
    // A throw-away certificate, made for this run only.
    ASSERT_EQ(session_->host("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=Lumo-test -keyout " +
                             shell_quote(key) + " -out " + shell_quote(certificate))
                  .exit_code,
              0);
    ASSERT_EQ(session_->host("osslsigncode sign -certs " + shell_quote(certificate) + " -key " + shell_quote(key) +
                             " -n Lumo -in " + shell_quote(installer.string()) + " -out " +
                             shell_quote(signed_installer.string()))
                  .exit_code,
              0);
    ASSERT_GT(fs::file_size(signed_installer), fs::file_size(installer)) << "a certificate table was appended";
    EXPECT_EQ(session_->host("osslsigncode verify -CAfile " + shell_quote(certificate) + " -in " +
                             shell_quote(signed_installer.string()))
                  .exit_code,
              0);

    const std::string pack = shell_quote(lumopack.string());
    RunResult listed = session_->host(pack + " list " + shell_quote(signed_installer.string()));
    EXPECT_EQ(listed.exit_code, 0);
    EXPECT_NE(listed.output.find("readme.txt"), std::string::npos) << listed.output;
    EXPECT_EQ(session_->host(pack + " test " + shell_quote(signed_installer.string())).exit_code, 0);
    const fs::path extracted = folder / "extracted";
    EXPECT_EQ(session_->host(pack + " extract " + shell_quote(signed_installer.string()) + " -C " +
                             shell_quote(extracted.string()))
                  .exit_code,
              0);
    EXPECT_EQ(read_file(extracted / "readme.txt"), "signed");
    // The packer built for Windows reads it too.
    const fs::path windows_lumopack = windows_build / "tools" / "lumopack" / "lumopack.exe";
    RunResult windows_listed = session_->run(windows_lumopack, {"list", session_->windows_path(signed_installer)});
    EXPECT_EQ(windows_listed.exit_code, 0);
    EXPECT_NE(windows_listed.output.find("readme.txt"), std::string::npos) << windows_listed.output;
    EXPECT_EQ(session_->run(windows_lumopack, {"test", session_->windows_path(signed_installer)}).exit_code, 0);

    EXPECT_EQ(run_and_confirm(signed_installer), "");
    EXPECT_NE(setup_record(), "");
    EXPECT_EQ(read_file(staging_ / "readme.txt"), "signed");
}

// The attack on a signed bare stub: anyone can enlarge its certificate
// table (the security directory's size and the certificate's length) and
// put a payload and trailer inside it; the signature leaves the table out,
// so it still verifies. The stub takes a payload only from the signed range
// before the table, so it refuses this file as a damaged download and starts
// nothing. lumopack build removes a stub's signature, and the installer it
// makes runs (signing after packing is tried above).
TEST_F(InstallerUnderWine, SignedStubTakesNoPayloadFromItsCertificateTable) {
    const fs::path folder = session_->scratch_folder("signed-stub");
    const std::string key = (folder / "key.pem").string(), certificate = (folder / "certificate.pem").string();
    ASSERT_EQ(session_->host("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=Lumo-test -keyout " +
                             shell_quote(key) + " -out " + shell_quote(certificate))
                  .exit_code,
              0);
    const fs::path signed_stub = folder / "signed-stub.exe";
    ASSERT_EQ(session_->host("osslsigncode sign -certs " + shell_quote(certificate) + " -key " + shell_quote(key) +
                             " -n Lumo -in " + shell_quote(stub.string()) + " -out " + shell_quote(signed_stub.string()))
                  .exit_code,
              0);

    // The stored payload of a good installer, made from the unsigned stub.
    const std::string good = read_file(build_installer("payload-donor", {{"readme.txt", "planted"}}));
    const auto u32 = [](const std::string& bytes, size_t at) {
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | uint8_t(bytes[at + i]);
        return value;
    };
    const auto put_u32 = [](std::string& bytes, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = char(value >> (8 * i));
    };
    const size_t trailer = good.size() - 16;
    const std::string stored = good.substr(u32(good, trailer), u32(good, trailer + 4));

    // Behind the table, inside it: payload, zeros to a multiple of 8, trailer.
    std::string attack = read_file(signed_stub);
    const size_t pe = u32(attack, 0x3C), optional = pe + 24;
    // Data directory 4, after 112 bytes of a PE32+ optional header or 96 of a PE32 one.
    const size_t security = optional + ((u32(attack, optional) & 0xFFFF) == 0x20B ? 112 : 96) + 4 * 8;
    const size_t table = u32(attack, security), table_size = u32(attack, security + 4);
    ASSERT_EQ(table + table_size, attack.size()) << "the table ends the signed stub";
    const size_t payload_at = attack.size();
    attack += stored;
    attack.append((8 - (attack.size() + 16) % 8) % 8, '\0');
    std::string tail(16, '\0');
    put_u32(tail, 0, uint32_t(payload_at));
    put_u32(tail, 4, uint32_t(stored.size()));
    tail.replace(8, 8, "LumoPak1");
    attack += tail;
    put_u32(attack, security + 4, uint32_t(attack.size() - table));
    put_u32(attack, table, uint32_t(attack.size() - table));  // the certificate's own length
    const fs::path attacked = folder / "attacked.exe";
    write_file(attacked, attack);
    EXPECT_EQ(session_->host("osslsigncode verify -CAfile " + shell_quote(certificate) + " -in " +
                             shell_quote(attacked.string()))
                  .exit_code,
              0)
        << "the signature still verifies";

    EXPECT_EQ(run_and_confirm(attacked), "count=1\n" LUMO_STR2_EN "\n");
    EXPECT_FALSE(fs::exists(staging_ / "setup-started.txt"));
    EXPECT_FALSE(fs::exists(staging_ / "readme.txt"));
    RunResult tested = session_->host(shell_quote(lumopack.string()) + " test " + shell_quote(attacked.string()));
    EXPECT_EQ(tested.exit_code, 1) << tested.output;

    // Packed with the signed stub, the installer carries no signature and runs.
    const fs::path source = session_->scratch_folder("signed-stub-files");
    fs::copy_file(helpers / "setup_standin.exe", source / "Setup.exe");
    write_file(source / "readme.txt", "from a signed stub");
    const fs::path installer = folder / "from-signed-stub.exe";
    RunResult packed = session_->host(shell_quote(lumopack.string()) + " build " + shell_quote(source.string()) +
                                      " -o " + shell_quote(installer.string()) + " --stub " +
                                      shell_quote(signed_stub.string()) + " --level 1 2>&1");
    ASSERT_EQ(packed.exit_code, 0) << packed.output;
    EXPECT_NE(packed.output.find("its signature was removed"), std::string::npos) << packed.output;
    fs::remove_all(staging_);
    EXPECT_EQ(run_and_confirm(installer), "");
    EXPECT_NE(setup_record(), "");
    EXPECT_EQ(read_file(staging_ / "readme.txt"), "from a signed stub");
}

// The packer built for Windows (x86_64 here, i686 in i686_under_wine_test.cc).
TEST_F(InstallerUnderWine, PackerBuiltForWindowsBuildsTheSameInstallerBytes) {
    expect_windows_packer_matches_host(windows_build);
}

TEST_F(InstallerUnderWine, StagingFolderThatIsALinkOrAnotherUsersIsRefused) {
    const fs::path installer = build_installer("refused", {{"readme.txt", "must not land"}});
    const fs::path elsewhere = session_->scratch_folder("elsewhere");
    struct Case {
        const char* what;
        fs::path holder;  // the folder whose file must survive
        std::function<void()> make;
    } cases[] = {
        // As a link planted in a shared temporary folder would. Wine shows
        // the link as a reparse point and cannot remove it: refused.
        {"a link to a folder elsewhere", elsewhere, [&] { fs::create_directory_symlink(elsewhere, staging_); }},
        // Wine reports a folder of another Unix user as owned by someone else.
        {"a folder of another user", staging_,
         [&] {
             fs::create_directories(staging_);
             ASSERT_EQ(chown(staging_.c_str(), 65534, 65534), 0) << "the tests run as root";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(staging_);
        c.make();
        write_file(c.holder / "precious.txt", "keep me");

        EXPECT_EQ(run_and_confirm(installer), "count=1\n" LUMO_STR6_EN + staging_windows_path() + LUMO_STR7_EN "\n");
        EXPECT_EQ(read_file(c.holder / "precious.txt"), "keep me");
        EXPECT_FALSE(fs::exists(c.holder / "readme.txt"));
        EXPECT_FALSE(fs::exists(c.holder / "Setup.exe"));
    }
    fs::remove_all(staging_);
}

// lumopack.exe extract against links and hard links left in its folder.
// Wine 8 makes neither junctions (FSCTL_SET_REPARSE_POINT fails with
// ERROR_NOT_SUPPORTED) nor symbolic links (CreateSymbolicLinkW answers
// success and makes nothing); the links it knows are those of the host,
// planted here from outside. It shows a host link to a folder as a reparse
// point by name only (a handle opened with FILE_FLAG_OPEN_REPARSE_POINT
// goes through it), a host link to a file as a plain file, and deleting
// such a name deletes what it points to. Hard links it makes and counts.
TEST_F(InstallerUnderWine, WindowsLumopackExtractWritesOnlyBelowItsFolder) {
    const fs::path windows_lumopack = windows_build / "tools" / "lumopack" / "lumopack.exe";
    struct Case {
        const char* what;
        const char* entry;
        std::function<void(const fs::path& out, const fs::path& outside)> plant;
        int status;
    };
    const Case cases[] = {
        {"a link in place of the entry's folder", "sub/file.txt",
         [](const fs::path& out, const fs::path& outside) { fs::create_directory_symlink(outside, out / "sub"); }, 1},
        {"a link deeper on the way", "a/b/file.txt",
         [](const fs::path& out, const fs::path& outside) {
             fs::create_directories(out / "a");
             fs::create_directory_symlink(outside, out / "a" / "b");
         }, 1},
        {"a link in place of the file", "file.txt",
         [](const fs::path& out, const fs::path& outside) {
             fs::create_symlink(outside / "victim.txt", out / "file.txt");
         }, 0},
        {"a hard link in place of the file", "file.txt",
         [](const fs::path& out, const fs::path& outside) {
             fs::create_hard_link(outside / "victim.txt", out / "file.txt");
         }, 0},
        {"a folder in place of the file", "file.txt",
         [](const fs::path& out, const fs::path&) { fs::create_directories(out / "file.txt"); }, 1},
    };
    std::map<std::string, fs::path> installers;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path& installer = installers[c.entry];
        if (installer.empty()) installer = build_installer("extract" + std::to_string(installers.size()), {{c.entry, "from the installer"}});
        const fs::path out = session_->scratch_folder("extract-out"), outside = session_->scratch_folder("outside");
        write_file(outside / "victim.txt", "keep me");
        c.plant(out, outside);

        RunResult extracted = session_->run(windows_lumopack, {"extract", session_->windows_path(installer), "-C",
                                                               session_->windows_path(out)});
        EXPECT_EQ(extracted.exit_code, c.status) << extracted.output;
        EXPECT_EQ(read_file(outside / "victim.txt"), "keep me");
        size_t outside_files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(outside)) outside_files += !entry.is_directory();
        EXPECT_EQ(outside_files, 1u) << "written outside the folder";
        if (c.status == 0) {
            EXPECT_FALSE(fs::is_symlink(out / c.entry));
            EXPECT_EQ(fs::hard_link_count(out / c.entry), 1u);
            EXPECT_EQ(read_file(out / c.entry), "from the installer");
            EXPECT_EQ(read_file(out / "Setup.exe"), read_file(helpers / "setup_standin.exe"));
        }
        fs::remove_all(out);
    }
}

}  // namespace
}  // namespace lumo::wine
