#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runcommand.h"
#include "sheet/hpglsheet.h"
#include "testfiles.h"

namespace {
const std::string kCli = GRAFONEL_CLI_PATH;

TRunResult Cli(const std::string& args)
{
    return RunCommand(kCli + " " + args + " 2>&1");
}
}  // namespace

TEST(CliInfo, PrintsTheTwoStatusTexts)
{
    testfiles::TempDir dir;
    auto f = dir.Write("a.plt", "PA-500,100;PD3000,1000;");
    auto r = Cli("info " + Quote(f));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "Objects: 2\nHPGL size: min=-500,100 max=3000,1000\n");
}

TEST(CliInfo, UnreadableFileNamesFileAndReason)
{
    auto r = Cli("info /nonexistent/x.plt");
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Out.find("/nonexistent/x.plt"), std::string::npos);
    EXPECT_NE(r.Out.find("No such file or directory"), std::string::npos);
}

TEST(CliConvert, AppliesTransformsInOrder)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "PA500,0;PD3500,1000;");
    auto r = Cli("convert " + Quote(in) + " " + Quote(dir.File("out.plt")) + " --zoom-auto --shift 10,-5");
    ASSERT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(testfiles::ReadAll(dir.File("out.plt")), "PA 10 -5\r\nPD 1530 501\r\n");
    r = Cli("convert " + Quote(in) + " " + Quote(dir.File("o2.plt")) + " --scale 40,8 --mirror --rotate");
    ASSERT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(testfiles::ReadAll(dir.File("o2.plt")), "PA 300 600\r\nPD 100 0\r\n");
}

TEST(CliConvert, OptimiseIsAStepOfTheChain)
{
    testfiles::TempDir dir;
    // Two strokes, the far one listed first; the near one is drawn from its nearer end.
    auto in = dir.Write("in.plt", "PU100,0;PD200,0;PU90,0;PD0,0;");
    auto r = Cli("convert " + Quote(in) + " " + Quote(dir.File("out.plt")) + " --optimise --shift 1,0");
    ASSERT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(testfiles::ReadAll(dir.File("out.plt")), "PU 1 0\r\nPD 91 0\r\nPU 101 0\r\nPD 201 0\r\n");
    // A refusal names the step and its reason, and writes nothing.
    auto bad = dir.Write("bad.plt", "PR;PU2147483000,0;PD1000,0;");
    auto out = dir.Write("kept.plt", "keep");
    r = Cli("convert " + Quote(bad) + " " + Quote(out) + " --optimise");
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Out.find("--optimise refused: a relative move leaves the 32-bit range"), std::string::npos) << r.Out;
    EXPECT_EQ(testfiles::ReadAll(out), "keep");
}

TEST(CliConvert, RefusalAndBadInputLeaveOutputUntouched)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "PA2147483000,0;");
    auto out = dir.Write("out.plt", "keep");
    for (const std::string args : {" --zoom-in", " --scale 0,3", " --shift x", " --bogus", " --scale 1,99999999999"}) {
        auto r = Cli("convert " + Quote(in) + " " + Quote(out) + args);
        EXPECT_NE(r.Status, 0) << args;
        EXPECT_FALSE(r.Out.empty()) << args;
        EXPECT_EQ(testfiles::ReadAll(out), "keep") << args;
    }
    auto r = Cli("convert " + Quote(dir.File("missing.plt")) + " " + Quote(out));
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Out.find("missing.plt"), std::string::npos);
    EXPECT_EQ(testfiles::ReadAll(out), "keep");
    r = Cli("convert " + Quote(in) + " " + Quote(dir.File("nofolder/out.plt")));
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Out.find("nofolder/out.plt"), std::string::npos);
}

TEST(CliHelp, DescribesEveryCommand)
{
    auto r = Cli("--help");
    EXPECT_EQ(r.Status, 0);
    for (const char* c : {"info", "convert", "stream", "estimate"}) {
        EXPECT_NE(r.Out.find(c), std::string::npos) << c;
        auto h = Cli(std::string(c) + " --help");
        EXPECT_EQ(h.Status, 0);
        EXPECT_NE(h.Out.find("usage: grafonel-cli " + std::string(c)), std::string::npos);
    }
    EXPECT_NE(Cli("frobnicate").Status, 0);
}

TEST(CliStream, WritesTheDeviceBytesToStdoutOrFile)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "PU;PA100,0;PD;AA0,0,9;SP1;CI50;ER10,20;");
    auto r = Cli("stream " + Quote(in));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, " SD20 BP IN PUPA100 0PDPA99 0PA99 5PA99 10CI50ER10 20 BP ");
    r = Cli("stream " + Quote(in) + " --speed 100 --constant-speed -o " + Quote(dir.File("s.txt")));
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(testfiles::ReadAll(dir.File("s.txt")).substr(0, 14), " SD-100 BP IN ");
}

TEST(CliStream, RefusesSpeedsOutsideTheTrackBar)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "PD1,1;");
    for (const char* s : {"11", "101", "-20", "fast", ""}) {
        auto r = Cli("stream " + Quote(in) + " --speed " + s);
        EXPECT_NE(r.Status, 0) << s;
        EXPECT_NE(r.Out.find("12 to 100"), std::string::npos) << s;
    }
    EXPECT_EQ(Cli("stream " + Quote(in) + " --speed 12").Status, 0);
}

TEST(CliEstimate, PrintsTheEstimateAloneForTheSettingsGiven)
{
    testfiles::TempDir dir;
    std::string moves;
    for (int i = 0; i < 5; ++i)
        moves += "PA2500,0;PA0,0;";  // ten moves of 2500 units: 10 s each at 250 units a second
    auto in = dir.Write("in.plt", moves);
    auto r = RunCommand(kCli + " estimate " + Quote(in) + " --constant-speed");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "about 2 min: drawing 2 min, line 0 s at 9600\n");
    EXPECT_EQ(Cli("estimate " + Quote(in)).Out, "about 50 s: drawing 50 s, line 0 s at 9600\n");
    EXPECT_EQ(Cli("estimate " + Quote(in) + " --speed 100 --constant-speed").Out,
              "about 8 min: drawing 8 min, line 0 s at 9600\n");
    // 82 bytes at 11 bytes a second.
    EXPECT_EQ(Cli("estimate --baud 110 --constant-speed " + Quote(in)).Out,
              "about 2 min: drawing 2 min, line 7 s at 110\n");
    EXPECT_EQ(Cli("estimate " + Quote(dir.Write("e.plt", ""))).Out, "under a second: drawing 0 s, line 0 s at 9600\n");
}

TEST(CliEstimate, OptimiseAddsTheOptimisedTimeAndBothOrdersTravel)
{
    testfiles::TempDir dir;
    // Four strokes 800 units long, listed from the far end of the sheet back and forth.
    auto in = dir.Write("in.plt", "PU0,0;PD800,0;PU0,4000;PD800,4000;PU0,8;PD800,8;PU0,4008;PD800,4008;PU0,0;");
    const auto r = Cli("estimate " + Quote(in) + " --optimise --constant-speed");
    ASSERT_EQ(r.Status, 0) << r.Out;
    // Back and forth: 4079 + 4071 + 4079 + 4087 units up; in order 8 + 3992 + 8 + 4008.
    EXPECT_EQ(r.Out, "about 1 min: drawing 1 min, line 0 s at 9600\n"
                     "in optimised order about 45 s: drawing 45 s, line 0 s at 9600\n"
                     "pen up 2040 mm, pen down 400 mm, 4 pen lifts\n"
                     "in optimised order pen up 1002 mm, pen down 400 mm, 4 pen lifts\n");
    EXPECT_EQ(Cli("estimate " + Quote(in) + " --constant-speed").Out, "about 1 min: drawing 1 min, line 0 s at 9600\n");
}

TEST(CliEstimate, BadOptionsAndFilesSayWhy)
{
    testfiles::TempDir dir;
    auto in = dir.Write("in.plt", "PD1,1;");
    for (const std::string& args :
         std::vector<std::string>{" --baud fast", " --baud 10", " --baud", " --speed 5", " --fast", " " + Quote(in)}) {
        const auto r = Cli("estimate " + Quote(in) + args);
        EXPECT_NE(r.Status, 0) << args;
        EXPECT_EQ(r.Out.rfind("grafonel-cli: ", 0), 0u) << args << ": " << r.Out;
    }
    const auto missing = Cli("estimate " + Quote(dir.File("none.plt")));
    EXPECT_NE(missing.Status, 0);
    EXPECT_NE(missing.Out.find("none.plt"), std::string::npos) << missing.Out;
    EXPECT_NE(Cli("estimate").Status, 0);
}

namespace {
// Scaled user units: translated, 0..10 fills the default P1..P2; read plain, the raw numbers.
const char* const kScaled = "IN;SC0,10,0,10;PU0,0;PD10,10;";
const char* const kRaw = "PU0,0;PD10,10;";
}  // namespace

TEST(CliInfo, AddsTheTranslatedLineOnlyWhenTheFileNeededTranslating)
{
    testfiles::TempDir dir;
    // Initialisation and pen selection alone leave the file as the plain reader sees it.
    auto r = Cli("info " + Quote(dir.Write("p.plt", "IN;SP1;PA-500,100;PD3000,1000;")));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "Objects: 3\nHPGL size: min=-500,100 max=3000,1000\n");

    r = Cli("info " + Quote(dir.Write("s.plt", kScaled)));
    EXPECT_EQ(r.Status, 0);
    // The two status texts as before, then the translation's details on a third line.
    const std::string head = "Objects: 2\nHPGL size: ";
    ASSERT_EQ(r.Out.rfind(head, 0), 0u) << r.Out;
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 3) << r.Out;
    const std::string last = r.Out.substr(r.Out.find('\n', head.size()) + 1);
    EXPECT_EQ(last.rfind("Translated: ", 0), 0u) << r.Out;
    EXPECT_EQ(last.find("HP-GL/2"), std::string::npos) << r.Out;
    EXPECT_NE(last.find("scaling"), std::string::npos) << r.Out;
    EXPECT_EQ(last.back(), '\n');
}

// What an SVG drawing holds that was not drawn is counted on a line of its own; a drawing
// out of reach or beyond the budgets fails with its reason.
TEST(CliInfo, SaysWhatWasNotDrawnAndWhyADrawingWasRefused)
{
    testfiles::TempDir dir;
    const std::string head =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100mm\" height=\"100mm\" viewBox=\"0 0 100 100\">";
    auto r = Cli("info " +
                 Quote(dir.Write("m.svg", head + "<image width=\"5\" height=\"5\" href=\"a.png\"/>"
                                                 "<g transform=\"scale(0)\"><path stroke=\"red\" d=\"M0 0 L9 9\"/></g>"
                                                 "<path stroke=\"black\" d=\"M10 10 L20 20\"/></svg>")));
    EXPECT_EQ(r.Status, 0) << r.Out;
    const std::string expected =
        "Objects: 4\nHPGL size: min=80,640 max=160,720\nNot drawn: 1 images, 1 shapes under a degenerate transform\n";
    // After whatever Qt says on standard error.
    ASSERT_GE(r.Out.size(), expected.size()) << r.Out;
    EXPECT_EQ(r.Out.substr(r.Out.size() - expected.size()), expected);
    r = Cli("info " + Quote(dir.Write("far.svg", head + "<path stroke=\"black\" d=\"M1e128 0 L10 10\"/></svg>")));
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Out.find("the drawing reaches beyond the plotter's coordinate range"), std::string::npos) << r.Out;
}

TEST(CliPlain, ReadsEveryCommandsInputAsThePlainReaderDoes)
{
    testfiles::TempDir dir;
    const std::string scaled = dir.Write("s.plt", kScaled), raw = dir.Write("r.plt", kRaw);
    const std::string out = dir.File("out.plt");
    // What a command prints and, for convert, what it writes.
    auto result = [&](const std::string& command, const std::string& in, const std::string& options) {
        std::remove(out.c_str());
        const auto r = Cli(command + " " + Quote(in) + options);
        EXPECT_EQ(r.Status, 0) << command << ": " << r.Out;
        return r.Out + "|" + testfiles::ReadAll(out);
    };
    const std::vector<std::pair<std::string, std::string>> runs = {
        {"info", ""},
        {"stream", ""},
        {"estimate", " --constant-speed"},
        {"convert", " " + Quote(out) + " --shift 1,2"},
    };
    for (const auto& [command, options] : runs) {
        const std::string plain = result(command, raw, options);
        EXPECT_EQ(result(command, scaled, options + " --plain"), plain) << command;
        EXPECT_NE(result(command, scaled, options), plain) << command;
    }
    EXPECT_EQ(Cli("info " + Quote(scaled) + " --plain").Out, "Objects: 2\nHPGL size: min=0,0 max=10,10\n");
}

TEST(CliPlain, AnSvgInputIsAUsageErrorOnEveryCommand)
{
    testfiles::TempDir dir;
    const std::string svg =
        dir.Write("d.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1mm\" height=\"1mm\"/>");
    // The port is never opened: the input is refused first.
    for (const std::string& args :
         {"info " + Quote(svg), "convert " + Quote(svg) + " " + Quote(dir.File("o.plt")), "stream " + Quote(svg),
          "estimate " + Quote(svg), "plot " + Quote(svg) + " --port " + Quote(dir.File("noport"))}) {
        const auto r = Cli(args + " --plain");
        EXPECT_EQ(r.Status, 2) << args << ": " << r.Out;
        EXPECT_EQ(r.Out.rfind("grafonel-cli: --plain", 0), 0u) << r.Out;
        EXPECT_NE(r.Out.find("d.svg"), std::string::npos) << r.Out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("o.plt")));
}

TEST(CliPlain, ARefusedTranslationIsAReadErrorNamingTheFile)
{
    testfiles::TempDir dir;
    // One user unit spans the whole default window: 2e9 of them leave the 32-bit range.
    const auto in = dir.Write("far.plt", "IN;SC0,1,0,1;PA2000000000,0;PD;");
    const auto r = Cli("info " + Quote(in));
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out.rfind("grafonel-cli: cannot read '" + in + "': ", 0), 0u) << r.Out;
    EXPECT_GT(r.Out.size(), ("grafonel-cli: cannot read '" + in + "': \n").size());
    // The plain reader steps over the scaling and takes the number as it is.
    EXPECT_EQ(Cli("info " + Quote(in) + " --plain").Status, 0);
}

TEST(CliPlain, EveryCommandThatReadsAFileDescribesIt)
{
    for (const char* c : {"info", "convert", "stream", "estimate", "plot"}) {
        const auto h = Cli(std::string(c) + " --help");
        EXPECT_NE(h.Out.find("[--plain]"), std::string::npos) << c;
        EXPECT_NE(h.Out.find("  --plain "), std::string::npos) << c;
    }
    EXPECT_NE(Cli("--help").Out.find("--plain"), std::string::npos);
    EXPECT_EQ(Cli("service --help").Out.find("--plain"), std::string::npos);
}

// --svg-text is read by every command that reads a drawing, wherever it stands.
TEST(CliSvgText, EveryCommandThatReadsADrawingTakesIt)
{
    testfiles::TempDir dir;
    const std::string svg =
        dir.Write("t.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100mm\" height=\"100mm\" "
                           "viewBox=\"0 0 100 100\"><text x=\"10\" y=\"50\" font-size=\"20\">Ag</text></svg>");
    const auto objects = [](const std::string& out) {
        const std::size_t at = out.find("Objects: ");
        return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 9);
    };
    const int outlines = objects(Cli("info " + Quote(svg)).Out);
    const int strokes = objects(Cli("info --svg-text stroke " + Quote(svg)).Out);
    EXPECT_GT(strokes, 0);
    EXPECT_LT(strokes, outlines);  // one line a stroke, not two round each
    EXPECT_EQ(objects(Cli("info " + Quote(svg) + " --svg-text outline").Out), outlines);
    const struct {
        std::string Args;
        int Status;
    } rows[] = {
        {"convert " + Quote(svg) + " " + Quote(dir.File("o.plt")) + " --svg-text stroke", 0},
        {"estimate " + Quote(svg) + " --svg-text stroke", 0},
        {"stream " + Quote(svg) + " -o " + Quote(dir.File("o.txt")) + " --svg-text stroke", 0},
        {"render --svg-text stroke " + Quote(svg) + " " + Quote(dir.File("o.png")), 0},
        {"info " + Quote(svg) + " --svg-text", 2},
        {"info " + Quote(svg) + " --svg-text bold", 2},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Cli(r.Args).Status, r.Status) << r.Args;
    // What convert writes is the stroke drawing.
    THpglSheet sheet;
    ASSERT_TRUE(sheet.LoadFromFile(dir.File("o.plt")).Ok());
    EXPECT_EQ(sheet.Count(), strokes);
}

// A command line the tool cannot take is a usage error, status 2, whatever the command; a
// file it cannot read or write is an error, status 1.
TEST(CliStatus, UsageErrorsExitTwoAndFileErrorsOne)
{
    testfiles::TempDir dir;
    const std::string in = Quote(dir.Write("a.plt", "PA0,0;PD10,10;"));
    const struct {
        std::string Args;
        int Status;
        const char* First;  // how the first line of output begins
    } rows[] = {
        {"bogus", 2, "grafonel-cli: unknown command 'bogus'"},
        {"", 2, "grafonel-cli: no command given"},
        {"info --bogus " + in, 2, "grafonel-cli: info: unknown option '--bogus'"},
        {"info", 2, "grafonel-cli: info takes one file"},
        {"convert " + in, 2, "grafonel-cli: convert takes an input and an output file"},
        {"convert " + in + " o.plt --shift 1", 2, "grafonel-cli: --shift takes DX,DY"},
        {"convert " + in + " o.plt --scale 0,1", 2, "grafonel-cli: --scale 0,1: the divisor A must not be 0"},
        {"estimate " + in + " --bogus x", 2, "grafonel-cli: estimate: unknown option '--bogus'"},
        {"estimate " + in + " --baud fast", 2, "grafonel-cli: --baud takes a line rate"},
        {"estimate", 2, "grafonel-cli: estimate takes one input file"},
        {"stream " + in + " -o", 2, "grafonel-cli: -o takes an output file"},
        {"stream " + in + " --speed 5", 2, "grafonel-cli: "},
        {"stream", 2, "grafonel-cli: stream takes one input file"},
        {"info " + in + " --svg-text", 2, "grafonel-cli: --svg-text takes 'stroke' or 'outline'"},
        {"info " + Quote(dir.File("missing.plt")), 1, "grafonel-cli: cannot read '"},
        {"convert " + in + " " + Quote(dir.File("no/such/dir/o.plt")), 1, "grafonel-cli: cannot write '"},
        {"stream " + in + " -o " + Quote(dir.File("no/such/dir/o.txt")), 1, "grafonel-cli: cannot write"},
        {"plot " + in, 2, "grafonel-cli: --port is required"},
        {"plot " + in + " --port", 2, "grafonel-cli: --port takes a device"},
        {"plot " + in + " --port X --baud 49", 2, "grafonel-cli: --baud takes a line rate"},
        {"plot " + in + " --port X --handshake dtr", 2, "grafonel-cli: --handshake takes xon or rts"},
        {"plot " + in + " --port X --pace-line", 2, "grafonel-cli: --pace-line takes on or off"},
        {"plot " + in + " --port X --jam-seconds 0", 2, "grafonel-cli: --jam-seconds takes a number of seconds"},
        {"plot " + in + " --port X --from 0", 2, "grafonel-cli: --from takes the number of the object"},
        {"plot " + in + " --port X --speed 101", 2,
         "grafonel-cli: --speed takes a whole number from 12 to 100, not '101'"},
        {"plot --port X", 2, "grafonel-cli: plot takes one file"},
        {"service --port X " + in, 2, "grafonel-cli: service takes no file"},
        {"service --port X --speed 20", 2, "grafonel-cli: service: unknown option '--speed'"},
        {"render " + in, 2, "grafonel-cli: render takes an input and an output file"},
        {"render " + in + " o.png --size 2x9", 2, "grafonel-cli: --size takes WxH"},
        {"render " + in + " o.gif", 2, "grafonel-cli: render writes .png, .pdf or .svg"},
        {"convert " + in + " o.plt --bogus", 2, "grafonel-cli: convert: unknown option '--bogus'"},
        {"--help", 0, "usage: grafonel-cli COMMAND"},
        {"info --help", 0, "usage: grafonel-cli info FILE [--plain]"},
        {"convert --help", 0, "usage: grafonel-cli convert IN OUT [TRANSFORM ...]"},
        {"estimate --help", 0, "usage: grafonel-cli estimate IN [--speed S]"},
        {"stream --help", 0, "usage: grafonel-cli stream IN [-o OUT]"},
        {"render --help", 0, "usage: grafonel-cli render IN OUT.png|OUT.pdf|OUT.svg [--size WxH]"},
        {"plot --help", 0, "usage: grafonel-cli plot IN --port DEV [--baud N]"},
        {"service --help", 0, "usage: grafonel-cli service --port DEV [--baud N]"},
    };
    for (const auto& r : rows) {
        const auto out = Cli(r.Args);
        EXPECT_EQ(out.Status, r.Status) << r.Args << ": " << out.Out;
        EXPECT_EQ(out.Out.rfind(r.First, 0), 0u) << r.Args << ": " << out.Out;
    }
}
