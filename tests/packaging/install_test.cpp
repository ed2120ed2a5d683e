#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <cctype>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "runcommand.h"
#include "testfiles.h"

namespace fs = std::filesystem;

namespace {

const std::string kAppId = GRAFONEL_APP_ID;

class InstallTree : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Stage = new testfiles::TempDir;
        Log = new TRunResult(RunCommand("DESTDIR=" + Quote(Stage->Path) + " " + Quote(GRAFONEL_CMAKE) + " --install " +
                                        Quote(GRAFONEL_BUILD_DIR) + " --prefix /usr 2>&1"));
    }
    static void TearDownTestSuite()
    {
        delete Log;
        delete Stage;
    }
    void SetUp() override { ASSERT_EQ(Log->Status, 0) << Log->Out; }

    static std::string Usr(const std::string& rel) { return Stage->Path + "/usr/" + rel; }
    static bool HaveTool(const std::string& name) { return RunCommand("command -v " + name).Status == 0; }

    static testfiles::TempDir* Stage;
    static TRunResult* Log;
};
testfiles::TempDir* InstallTree::Stage = nullptr;
TRunResult* InstallTree::Log = nullptr;

// The keys of a desktop entry's main group.
std::map<std::string, std::string> DesktopEntry(const std::string& path)
{
    std::istringstream in(testfiles::ReadAll(path));
    std::map<std::string, std::string> keys;
    std::string line, group;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            group = line;
            continue;
        }
        const auto eq = line.find('=');
        if (group == "[Desktop Entry]" && eq != std::string::npos)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::set<std::string> Split(const std::string& list)
{
    std::set<std::string> items;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ';');)
        if (!item.empty())
            items.insert(item);
    return items;
}

// Type -> glob patterns of a shared-mime-info package.
std::map<std::string, std::set<std::string>> MimeGlobs(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    std::map<std::string, std::set<std::string>> globs;
    if (!f.open(QIODevice::ReadOnly))
        return globs;
    QXmlStreamReader xml(&f);
    std::string type;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("mime-type"))
            type = xml.attributes().value("type").toString().toStdString();
        else if (xml.name() == QLatin1String("glob"))
            globs[type].insert(xml.attributes().value("pattern").toString().toStdString());
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return globs;
}

}  // namespace

TEST_F(InstallTree, ProgramsInstalledAndRunFromTheStage)
{
    for (const char* name : {"grafonel", "grafonel-cli", "ostrel-sim"}) {
        const fs::path p = Usr(std::string("bin/") + name);
        ASSERT_TRUE(fs::is_regular_file(p)) << p;
        EXPECT_NE(fs::status(p).permissions() & fs::perms::others_exec, fs::perms::none) << p;
    }
    const TRunResult v = RunCommand(Quote(Usr("bin/grafonel")) + " --version");
    EXPECT_EQ(v.Status, 0);
    EXPECT_EQ(v.Out, "grafonel " GRAFONEL_VERSION "\n");
    EXPECT_EQ(RunCommand(Quote(Usr("bin/grafonel-cli")) + " --help").Status, 0);
}

TEST_F(InstallTree, CommandLineToolFindsItsQtHalfForRendering)
{
    ASSERT_TRUE(fs::is_regular_file(Usr("libexec/grafonel/grafonel-cli-qt")));
    testfiles::TempDir dir;
    const std::string in = dir.Write("a.plt", "PA;PD1520,2160;");
    const std::string out = dir.File("a.png");
    const TRunResult r =
        RunCommand(Quote(Usr("bin/grafonel-cli")) + " render " + Quote(in) + " " + Quote(out) + " 2>&1");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(QImage(QString::fromStdString(out)).size(), QSize(760, 1080));
}

TEST_F(InstallTree, DesktopEntryStartsTheWindowWithOneFileForPlotFiles)
{
    const auto entry = DesktopEntry(Usr("share/applications/" + kAppId + ".desktop"));
    ASSERT_FALSE(entry.empty());
    EXPECT_EQ(entry.at("Type"), "Application");
    // %f: one local file, which is what the window takes.
    EXPECT_EQ(entry.at("Exec"), "grafonel %f");
    EXPECT_EQ(entry.at("TryExec"), "grafonel");
    EXPECT_EQ(entry.at("Icon"), "grafonel");
    EXPECT_TRUE(Split(entry.at("Categories")).count("Graphics"));
    // Exactly the types the window opens: plot files and SVG drawings.
    EXPECT_EQ(Split(entry.at("MimeType")), (std::set<std::string>{"application/vnd.hp-hpgl", "image/svg+xml"}));
}

TEST_F(InstallTree, MimePackageMapsThePlotFileNamesToHpgl)
{
    const auto globs = MimeGlobs(Usr("share/mime/packages/grafonel.xml"));
    ASSERT_EQ(globs.size(), 1u);
    EXPECT_EQ(globs.begin()->first, "application/vnd.hp-hpgl");
    EXPECT_EQ(globs.begin()->second, (std::set<std::string>{"*.plt", "*.hpgl", "*.hpg", "*.gfn"}));
}

TEST_F(InstallTree, SharedMimeInfoAcceptsThePackage)
{
    if (!HaveTool("update-mime-database"))
        GTEST_SKIP() << "update-mime-database (shared-mime-info) is not installed";
    const std::string mime = Usr("share/mime");
    const TRunResult r = RunCommand("update-mime-database " + Quote(mime) + " 2>&1");
    ASSERT_EQ(r.Status, 0) << r.Out;
    const std::string globs = testfiles::ReadAll(mime + "/globs2");
    for (const char* g : {"*.plt", "*.hpgl", "*.hpg", "*.gfn"})
        EXPECT_NE(globs.find(std::string(":application/vnd.hp-hpgl:") + g + "\n"), std::string::npos) << g << globs;
}

TEST_F(InstallTree, IconAtEverySizeDrawnAndScalable)
{
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string s = std::to_string(size);
        const QImage image(QString::fromStdString(Usr("share/icons/hicolor/" + s + "x" + s + "/apps/grafonel.png")));
        ASSERT_FALSE(image.isNull()) << size;
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_TRUE(image.hasAlphaChannel());
        // Transparent corners, something drawn in the middle.
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
        EXPECT_GT(qAlpha(image.pixel(size / 2, size * 2 / 3)), 0) << size;
    }
    QSvgRenderer svg(QString::fromStdString(Usr("share/icons/hicolor/scalable/apps/grafonel.svg")));
    ASSERT_TRUE(svg.isValid());
    EXPECT_EQ(svg.viewBoxF(), QRectF(0, 0, 32, 32));
}

TEST_F(InstallTree, MetainfoNamesTheEntryAndManualPagesExist)
{
    const std::string meta = testfiles::ReadAll(Usr("share/metainfo/" + kAppId + ".metainfo.xml"));
    EXPECT_NE(meta.find("<id>" + kAppId + "</id>"), std::string::npos);
    EXPECT_NE(meta.find("<launchable type=\"desktop-id\">" + kAppId + ".desktop</launchable>"), std::string::npos);
    EXPECT_NE(meta.find("<release version=\"" GRAFONEL_VERSION "\""), std::string::npos);
    for (const char* name : {"grafonel", "grafonel-cli", "ostrel-sim"}) {
        const std::string page = Usr(std::string("share/man/man1/") + name + ".1.gz");
        ASSERT_TRUE(fs::is_regular_file(page)) << page;
        const TRunResult text = RunCommand("gzip -dc " + Quote(page));
        EXPECT_EQ(text.Status, 0);
        EXPECT_NE(text.Out.find(".TH " + Upper(name) + " \"1\""), std::string::npos) << name;
        EXPECT_NE(text.Out.find(".SH DESCRIPTION"), std::string::npos) << name;
    }
    EXPECT_TRUE(fs::is_regular_file(Usr("share/doc/grafonel/copyright")));
    EXPECT_TRUE(fs::is_regular_file(Usr("share/doc/grafonel/changelog.gz")));
}

TEST_F(InstallTree, DesktopValidatorsAcceptTheEntryAndMetainfo)
{
    if (!HaveTool("desktop-file-validate") || !HaveTool("appstreamcli"))
        GTEST_SKIP() << "desktop-file-utils or appstream is not installed";
    const TRunResult entry =
        RunCommand("desktop-file-validate " + Quote(Usr("share/applications/" + kAppId + ".desktop")) + " 2>&1");
    EXPECT_EQ(entry.Status, 0) << entry.Out;
    EXPECT_EQ(entry.Out, "");
    const TRunResult meta = RunCommand("appstreamcli validate --no-net " +
                                       Quote(Usr("share/metainfo/" + kAppId + ".metainfo.xml")) + " 2>&1");
    EXPECT_EQ(meta.Status, 0) << meta.Out;
}
