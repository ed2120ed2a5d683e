#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>

#include "sheet/hpglsheet.h"
#include "sheettext.h"
#include "testfiles.h"

TEST(Writer, WritesOneCommandPerLineWithCrLf)
{
    THpglSheet s;
    LoadText(s, "IN;SP1;PA;PU0,0;PD100,-5;PR;PR3,4;CI-7;AA100,200,-90;ER10,-20;PD;PA2147483647,-2147483648;");
    EXPECT_EQ(s.SaveToText(),
              "SP 1\r\nPA\r\nPU 0 0\r\nPD 100 -5\r\nPR\r\nPR 3 4\r\nCI -7\r\nAA 100 200 -90\r\nER 10 -20\r\n"
              "PD\r\nPA 2147483647 -2147483648\r\n");
}

TEST(Writer, SkipsUnknownKindsAndWritesOnlyCarriedParameters)
{
    THpglSheet s;
    s.Add(9, 1, 2);
    s.Add(hkPU, 5);  // one parameter on a pen command: written as the bare mnemonic
    EXPECT_EQ(s.SaveToText(), "PU\r\n");
}

TEST(Writer, EmptySheetTruncatesExistingFile)
{
    testfiles::TempDir dir;
    std::string f = dir.Write("o.plt", "old content");
    THpglSheet s;
    ASSERT_TRUE(s.SaveToFile(f).Ok());
    EXPECT_EQ(testfiles::ReadAll(f), "");
}

TEST(Writer, FailuresKeepThePreviousFileAndSayWhy)
{
    testfiles::TempDir dir;
    THpglSheet s;
    s.Add(hkPA, 1, 2);

    TFileResult r = s.SaveToFile(dir.File("no/such/folder/o.plt"));
    EXPECT_EQ(r.ErrorCode, ENOENT);
    EXPECT_FALSE(r.Reason.empty());

    EXPECT_EQ(s.SaveToFile(dir.Path).ErrorCode, EISDIR);

    // No temporary file is left behind by any of it.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path))
        ++entries;
    EXPECT_LE(entries, 1);
}

TEST(Writer, DeviceTargetIsWrittenInPlaceAndItsErrorsReported)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    THpglSheet s;
    s.Add(hkPA, 1, 2);
    EXPECT_EQ(s.SaveToFile("/dev/full").ErrorCode, ENOSPC);
    EXPECT_TRUE(s.SaveToFile("/dev/null").Ok());
}

TEST(Writer, KeepsTheModeOfTheFileItReplaces)
{
    testfiles::TempDir dir;
    std::string f = dir.Write("m.plt", "x");
    ::chmod(f.c_str(), 0640);
    THpglSheet s;
    s.Add(hkPD);
    ASSERT_TRUE(s.SaveToFile(f).Ok());
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(Writer, EverySampleRoundTripsAndSavesIdenticallyTwiceInFileAndText)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    testfiles::TempDir dir;
    for (const auto& f : files) {
        THpglSheet a;
        ASSERT_TRUE(a.LoadFromFile(f).Ok());
        ASSERT_TRUE(a.SaveToFile(dir.File("1.plt")).Ok());
        ASSERT_TRUE(a.SaveToFile(dir.File("2.plt")).Ok());
        const std::string saved = testfiles::ReadAll(dir.File("1.plt"));
        EXPECT_EQ(saved, testfiles::ReadAll(dir.File("2.plt"))) << f;
        EXPECT_EQ(saved, a.SaveToText()) << f;
        THpglSheet b;
        ASSERT_TRUE(b.LoadFromFile(dir.File("1.plt")).Ok());
        EXPECT_EQ(SheetText(a), SheetText(b)) << f;
        EXPECT_EQ(Extents(a), Extents(b)) << f;
        THpglSheet c;
        c.LoadFromText(saved);
        EXPECT_EQ(SheetText(a), SheetText(c)) << f;
    }
}
