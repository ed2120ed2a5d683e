#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <random>

#include "sheet/hpglsheet.h"
#include "sheettext.h"
#include "testfiles.h"

struct ReadCase {
    const char* input;
    const char* objects;
    friend std::ostream& operator<<(std::ostream& os, const ReadCase& c)
    {
        return os << testing::PrintToString(std::string(c.input));
    }
};

class ReaderSyntax : public testing::TestWithParam<ReadCase> {};

TEST_P(ReaderSyntax, Reads)
{
    EXPECT_EQ(Read(GetParam().input), GetParam().objects) << "input: " << GetParam().input;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Commands, ReaderSyntax,
    testing::Values(
        ReadCase{"pa10,20;", "PA 10 20"},
        ReadCase{"PA10,20,30,40;", "PA 10 20|PA 30 40"},
        ReadCase{"PA10,20,30;", "PA 10 20"},
        ReadCase{"PA;", "PA"},
        ReadCase{"PAPD1,1;", "PA|PD 1 1"},
        ReadCase{"PA10;PD1,1;", "PA|PD 1 1"},
        ReadCase{"SP;", "SP 0"},
        ReadCase{"SP", ""},
        ReadCase{"CI50,5;", "CI 50"},
        ReadCase{"CI;", "CI 0"},
        ReadCase{"AA100,100;", ""},
        ReadCase{"AA100,100,-90;", "AA 100 100 -90"},
        ReadCase{"ER10;", ""},
        ReadCase{"ER10,-20;", "ER 10 -20"},
        ReadCase{"IN;SP1;PU0,0;PD100,0,100,100;", "SP 1|PU 0 0|PD 100 0|PD 100 100"},
        ReadCase{"IN;SP1;PA;PU0,0;PD100,-5;", "SP 1|PA|PU 0 0|PD 100 -5"},
        // Unknown commands and their parameters are stepped over; letters inside them count.
        ReadCase{"VS10;DI0,1;SC0,100,0,100;PD1,2;", "PD 1 2"},
        ReadCase{"XYPD1,2;", "PD 1 2"},
        ReadCase{"XYZPD1,2;", ""},  // 'XY', then 'ZP': the third letter starts the next search
        ReadCase{"PDZ1,2;", "PD"},
        ReadCase{"P1A2PU3,4", "PU 3 4"},
        // A label ends at its terminator (ETX unless DT chose another) or at a line feed,
        // whichever comes first; what follows on the line is read as commands.
        ReadCase{"LBHELLO PD10,10;\nPU;", "PU"},
        ReadCase{"LBTEXT\x03PD1,1;", "PD 1 1"},
        ReadCase{"PA1,1;LB\nPD2,2", "PA 1 1|PD 2 2"},
        ReadCase{"LBA\x03PU1,2;LBB\x03PD3,4;LBC\nPD5,6", "PU 1 2|PD 3 4|PD 5 6"},
        ReadCase{"DT*;LBA PD 7,7*PD1,1;LBB\x03PD2,2\nPD3,3", "PD 1 1|PD 3 3"},
        ReadCase{"DT*,1;LBA*PD1,1;DT;LBB*PD2,2\x03PD3,3", "PD 1 1|PD 3 3"},
        ReadCase{"DT@;DT\nLBX\x03PD1,1;", "PD 1 1"},
        ReadCase{"DT@;DT\x1bLBX\x03PD1,1;", "PD 1 1"},
        ReadCase{"DT", ""}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, ReaderSyntax,
    testing::Values(
        ReadCase{"PA-1.5,2.9;", "PA -1 2"},
        ReadCase{"PA.5,3.1.4;", "PA 0 3"},
        ReadCase{"PA 10 , 20;", "PA 10 0"},  // the comma leads an empty number
        ReadCase{"PA 10 20 PD 30 40", "PA 10 20|PD 30 40"},
        ReadCase{"PA\r\n10\r\n20", "PA 10 20"},
        ReadCase{"PA\t10,20;", "PA 10 20"},  // a tab leads the number and adds nothing
        ReadCase{"PA+5,6;", "PA 5 6"},      // so does '+'
        ReadCase{"PU;\nPD1,1;", "PU|PD 1 1"},
        ReadCase{"PA1-2;", "PA 1 2"},  // '-' after the lead ends the number and is consumed
        ReadCase{"PA--5,6;", "PA 0 5"},
        ReadCase{"PA,;PD1,1;", "PA|PD 1 1"},  // an empty x without a y
        ReadCase{"PD10,20", "PD 10 20"},
        ReadCase{"PA-0,0;", "PA 0 0"},
        ReadCase{"PA2147483647,-2147483648;", "PA 2147483647 -2147483648"},
        // Long digit runs wrap modulo 2^32, as stored files expect.
        ReadCase{"PA2147483648,4294967297;", "PA -2147483648 1"},
        ReadCase{"PA99999999999999999999,1;", "PA 1661992959 1"},
        ReadCase{"SP-2147483648;", "SP -2147483648"}));

INSTANTIATE_TEST_SUITE_P(
    Stream, ReaderSyntax,
    testing::Values(
        ReadCase{"PA1,2;\x1aPD3,4;", "PA 1 2"},   // Ctrl-Z ends the file
        ReadCase{"PA1,2\x1a", "PA 1 2"},
        ReadCase{"PA1\r,\r2;", "PA 1 2"},         // carriage returns vanish anywhere
        ReadCase{"P\rA1,2;", "PA 1 2"},
        ReadCase{"\xff\xfePD1,2;\x80", "PD 1 2"}));
// clang-format on

TEST(Reader, NulBytesAreOrdinaryCharacters)
{
    THpglSheet s;
    LoadText(s, std::string("PA1,2;\0PD3,4;", 13));
    EXPECT_EQ(SheetText(s), "PA 1 2|PD 3 4");
}

TEST(Reader, AppendsToWhatTheSheetHolds)
{
    THpglSheet s;
    s.Add(hkSP, 2);
    LoadText(s, "PA5,5;");
    EXPECT_EQ(SheetText(s), "SP 2|PA 5 5");
    EXPECT_EQ(Extents(s), "5,5 5,5");
}

TEST(Reader, UnopenableFileLeavesSheetAndExtentsAndReportsReason)
{
    THpglSheet s;
    s.Add(hkPA, 10, 20);
    s.XMin = -7;  // not recomputed on failure
    testfiles::TempDir dir;
    TFileResult r = s.LoadFromFile(dir.File("missing.plt"));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.ErrorCode, ENOENT);
    EXPECT_EQ(r.Reason, "No such file or directory");
    EXPECT_EQ(SheetText(s), "PA 10 20");
    EXPECT_EQ(s.XMin, -7);

    r = s.LoadFromFile(dir.Path);
    EXPECT_EQ(r.ErrorCode, EISDIR);
    EXPECT_EQ(SheetText(s), "PA 10 20");
}

TEST(Reader, ProgressHookBeforeEveryHundredthCommandOfAnEightBitCounter)
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += i % 2 ? "PD1,1;" : "IN;";
    THpglSheet s;
    int calls = 0;
    int countAtCall[8] = {};
    s.OnProgress = [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_LE(done, total);
        if (calls < 8)
            countAtCall[calls] = s.Count();
        ++calls;
    };
    LoadText(s, text);
    EXPECT_EQ(calls, 4);  // before commands 1, 101, 201 and 257
    EXPECT_EQ(countAtCall[0], 0);
    EXPECT_EQ(countAtCall[1], 50);
    EXPECT_EQ(countAtCall[3], 128);
}

// Random plot text: commands, numbers of every shape, separators, stray letters and carriage
// returns, so that every token lands on some 64 KiB buffer boundary of the file reader.
static std::string RandomPlotText(std::uint32_t seed, std::size_t size)
{
    static const char* const pieces[] = {"PA", "PD", "PU", "PR",   "SP", "CI", "AA", "ER", "LB", "IN", "pd",
                                         ",",  ";",  " ",  "\r\n", "\r", "\n", "-",  ".",  "\t", "Z",  "x"};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < size) {
        if (rng() % 3 == 0)
            text += std::to_string(static_cast<std::int32_t>(rng()) >> (rng() % 32));
        else
            text += pieces[rng() % std::size(pieces)];
    }
    return text;
}

TEST(Reader, FileAndTextGiveTheSameSheetWhereverTheBufferBreaks)
{
    testfiles::TempDir dir;
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        std::string text = RandomPlotText(seed, 200000 + seed * 7);
        if (seed == 6)
            text.insert(150000, 1, '\x1a');  // Ctrl-Z ends both after the first buffers
        THpglSheet a, b;
        ASSERT_TRUE(a.LoadFromFile(dir.Write("in.plt", text)).Ok());
        b.LoadFromText(text);
        ASSERT_GT(a.Count(), 1000);
        EXPECT_EQ(SheetText(a), SheetText(b)) << "seed " << seed;
        EXPECT_EQ(Extents(a), Extents(b)) << "seed " << seed;
    }
}

// Digit runs of every length in every layout the exporters use, long enough that the reader
// takes its buffered path, against the rule itself: digit by digit, modulo 2^32.
TEST(Reader, NumbersOfEveryLengthReadAsDigitByDigitWrapping)
{
    std::mt19937 rng(17);
    static const char* const leads[] = {"", " ", "-", " -", "\r\n", "+", "\r"};
    static const char* const gaps[] = {",", " ", ", ", "\r\n", ",\r", "\r,", " \r\n "};
    std::string text, expected;
    for (int i = 0; i < 3000; ++i) {
        text += i % 2 ? "PD" : "pa";
        expected += expected.empty() ? "" : "|";
        expected += i % 2 ? "PD" : "PA";
        for (int k = 0; k < 2; ++k) {
            const std::string lead = leads[rng() % std::size(leads)];
            std::string digits;
            const int n = 1 + static_cast<int>(rng() % 13);
            for (int d = 0; d < n; ++d)
                digits += static_cast<char>('0' + rng() % 10);
            std::uint32_t value = 0;
            for (char d : digits)
                value = value * 10u + static_cast<std::uint32_t>(d - '0');
            const bool negative = lead.find('-') != std::string::npos;
            const auto v = static_cast<std::int32_t>(value);
            expected += " " + std::to_string(negative ? static_cast<std::int32_t>(0u - value) : v);
            if (rng() % 8 == 0)
                digits += "." + std::to_string(rng() % 1000);  // fractions are dropped
            if (rng() % 16 == 0)
                digits.insert(rng() % digits.size() + 1, "\r");  // and carriage returns vanish
            text += (k ? gaps[rng() % std::size(gaps)] : "") + lead + digits;
        }
        text += rng() % 2 ? ";" : "\n";
    }
    EXPECT_EQ(Read(text), expected);
}

TEST(Reader, ProgressFromAFileEndsAtItsSize)
{
    testfiles::TempDir dir;
    const std::string text = RandomPlotText(9, 300000);
    THpglSheet s;
    std::uint64_t last = 0, seenTotal = 0;
    s.OnProgress = [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_GE(done, last);
        EXPECT_LE(done, total);
        last = done;
        seenTotal = total;
    };
    ASSERT_TRUE(s.LoadFromFile(dir.Write("p.plt", text)).Ok());
    EXPECT_EQ(seenTotal, text.size());
    EXPECT_GT(last, text.size() / 2);
}

TEST(Reader, ReadsEverySampleFile)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    int draws = 0;  // some files are all polyline-encoded or labels: judge the set
    for (const auto& f : files) {
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(f).Ok()) << f;
        const int n = s.Count();
        const auto size = std::filesystem::file_size(f);
        EXPECT_GT(n, 0) << f;
        // No more objects than half the bytes: each needs at least a two-letter mnemonic.
        EXPECT_LE(static_cast<std::uintmax_t>(n), size / 2 + 1) << f;
        for (const THpglObject& o : s) {
            ASSERT_GE(o.Kind, hkPU);
            ASSERT_LE(o.Kind, hkER);
            ASSERT_GE(o.ParamCount, 0);
            ASSERT_LE(o.ParamCount, 3);
            draws += o.Kind == hkPD || o.Kind == hkPA || o.Kind == hkCI || o.Kind == hkAA;
        }
        EXPECT_LE(s.XMin, s.XMax) << f;
        EXPECT_LE(s.YMin, s.YMax) << f;
    }
    EXPECT_GT(draws, 100000);
}

TEST(ReaderLabels, ANulAfterDtRestoresTheTerminator)
{
    const char text[] = "DT@;DT\0LBX\x03PD1,1;";
    EXPECT_EQ(Read(std::string(text, sizeof text - 1)), "PD 1 1");
}
