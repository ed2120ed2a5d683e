#include <gtest/gtest.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <chrono>
#include <thread>

#include "sheet/frame.h"
#include "sheet/hpglsheet.h"
#include "interp.h"
#include "plot/ostrel.h"
#include "ui/qtcanvas.h"
#include "sheettext.h"
#include "streamtext.h"
#include "simprocess.h"
#include "testfiles.h"

namespace {

QImage Blank()
{
    QImage img(760, 1080, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

bool InkNear(const QImage& img, int x, int y, int d)
{
    for (int yy = y - d; yy <= y + d; ++yy)
        for (int xx = x - d; xx <= x + d; ++xx)
            if (img.rect().contains(xx, yy) && img.pixel(xx, yy) != qRgb(255, 255, 255))
                return true;
    return false;
}

// The share of a's inked pixels that have ink in b within d pixels.
double Covered(const QImage& a, const QImage& b, int d)
{
    long ink = 0, near = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != qRgb(255, 255, 255)) {
                ++ink;
                near += InkNear(b, x, y, d);
            }
    return ink ? static_cast<double>(near) / static_cast<double>(ink) : 1.0;
}

// The view without the single pixels of bare pen commands, which the device does not draw.
class TStrokesOnly final : public TCanvas {
public:
    explicit TStrokesOnly(TCanvas& inner) : In(inner) {}
    TColor PenColor() const override { return In.PenColor(); }
    void SetPenColor(TColor) override { In.SetPenColor(clBlack); }
    TColor BrushColor() const override { return In.BrushColor(); }
    void SetBrushColor(TColor c) override { In.SetBrushColor(c); }
    TBrushStyle BrushStyle() const override { return In.BrushStyle(); }
    void SetBrushStyle(TBrushStyle s) override { In.SetBrushStyle(s); }
    void MoveTo(std::int32_t x, std::int32_t y) override { In.MoveTo(x, y); }
    void LineTo(std::int32_t x, std::int32_t y) override { In.LineTo(x, y); }
    void SetPixel(std::int32_t, std::int32_t, TColor) override {}
    void Rectangle(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override
    {
        In.Rectangle(a, b, c, d);
    }
    void Ellipse(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override { In.Ellipse(a, b, c, d); }
    void Arc(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t e, std::int32_t f,
             std::int32_t g, std::int32_t h) override
    {
        In.Arc(a, b, c, d, e, f, g, h);
    }

private:
    TCanvas& In;
};

}  // namespace

TEST(Interpreter, RunsTheWorkedExampleAndTheMotorService)
{
    TOstrelInterpreter d;
    d.Feed(" SD20 BP IN PUPA100 0PDPA99 0PA99 5PA99 10CI50ER10 20 BP ");
    d.Finish();
    EXPECT_EQ(d.Unknown, 0u);
    EXPECT_EQ(d.Commands, 12u);
    EXPECT_EQ(d.Speed, 20);
    EXPECT_EQ(d.Beeps, 2u);
    EXPECT_EQ(d.X, 99);
    EXPECT_EQ(d.Y, 10);
    ASSERT_EQ(d.Lines.size(), 3u);  // 100,0 -> 99,0 -> 99,5 -> 99,10
    EXPECT_EQ(d.Lines[0].X1, 100);
    ASSERT_EQ(d.Circles.size(), 1u);
    EXPECT_EQ(d.Circles[0].R, 50);
    ASSERT_EQ(d.Rects.size(), 1u);
    EXPECT_EQ(d.Rects[0].W, 10);
    EXPECT_NEAR(d.PenDownLength, 11, 0.01);

    TOstrelInterpreter m;
    std::string service = " SD20  BP IN PR-10,0";
    for (int k = 10; k >= 1; --k)
        service += " SD" + std::to_string(k + 16) + " PR1550,0  PR-1550,0 ";
    service += " SD20 IN ";
    // Fed a byte at a time, as a slow line delivers it.
    for (char c : service)
        m.Feed(std::string_view(&c, 1));
    m.Finish();
    EXPECT_EQ(m.Unknown, 0u);
    EXPECT_EQ(m.Speed, 20);
    EXPECT_EQ(m.X, -10);
    EXPECT_NEAR(m.PenUpLength, 10 + 20 * 1550, 0.01);
}

TEST(Interpreter, CountsWhatItDoesNotUnderstand)
{
    TOstrelInterpreter d;
    d.Feed("PA10 10 XY5 Q 7 CI ER5 PD1;AA1,2,3");
    d.Finish();
    EXPECT_EQ(d.UnknownNames["XY"], 1u);
    EXPECT_EQ(d.UnknownNames["AA"], 1u);
    EXPECT_EQ(d.UnknownNames["Q"], 1u);
    EXPECT_EQ(d.UnknownNames["stray '7'"], 1u);
    EXPECT_EQ(d.UnknownNames["CI without a radius"], 1u);
    EXPECT_EQ(d.UnknownNames["ER without its size"], 1u);
    EXPECT_EQ(d.UnknownNames["PD with an odd count of numbers"], 1u);
    EXPECT_EQ(d.Unknown, 7u);
}

TEST(Interpreter, DrawsWhatTheViewDrawsForEverySample)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    int compared = 0;
    for (const auto& f : files) {
        THpglSheet s;
        ASSERT_TRUE(s.LoadFromFile(f).Ok());
        if (!FitToFrame(s))
            continue;
        // The device ignores pens and draws arcs only where the pen is down; compare the
        // drawings where the two agree on what to draw: files whose arcs are drawn.
        TOstrelInterpreter d;
        d.Feed(StreamText(s));
        d.Finish();
        EXPECT_EQ(d.Unknown, 0u) << f;
        QImage view = Blank(), device = Blank();
        {
            QPainter p(&view);
            QtCanvas c(p);
            TStrokesOnly strokes(c);
            s.Draw(strokes, view.width(), view.height());
        }
        {
            QPainter p(&device);
            QtCanvas c(p);
            d.DrawOn(c, device.width(), device.height());
        }
        bool arcs = false, penUpArcs = false, down = false;
        for (const THpglObject& o : s) {
            if (o.Kind == hkPD)
                down = true;
            if (o.Kind == hkPU)
                down = false;
            arcs = arcs || o.Kind == hkAA;
            penUpArcs = penUpArcs || (o.Kind == hkAA && !down);
        }
        // The device draws an arc as its point series, the last point a step short of the
        // end, and goes on from there: a few pixels per arc differ.
        const double close = arcs ? 0.97 : 0.995;
        // Every stroke of the device lies within a pixel of the view's ...
        EXPECT_GT(Covered(device, view, 1), close) << f;
        // ... and the other way round, unless the view draws arcs the device moves along
        // with its pen up.
        if (!penUpArcs) {
            EXPECT_GT(Covered(view, device, 1), close) << f;
        }
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

namespace {

// A plain POSIX writer: raw mode, IXON on and IXANY off, no project code.
int OpenLine(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return fd;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    t.c_iflag |= IXON;
    t.c_iflag &= ~static_cast<tcflag_t>(IXANY);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

bool WriteAll(int fd, const std::string& data)
{
    std::size_t off = 0;
    while (off < data.size()) {
        const ssize_t n = ::write(fd, data.data() + off, data.size() - off);
        if (n <= 0)
            return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

// Plays the sender on the simulator's line: writes everything, waits for it to leave, closes.
void Send(const TSimProcess& sim, const std::string& stream)
{
    const int fd = OpenLine(sim.Path);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, stream));
    ::tcdrain(fd);
    ::close(fd);
}

}  // namespace

TEST(Simulator, FullSpeedWithXoffArrivesWholeAndHoldsTheWriter)
{
    auto files = testfiles::Samples();
    REQUIRE_SAMPLES(files);
    THpglSheet s;
    ASSERT_TRUE(s.LoadFromFile(files[3]).Ok());
    const std::string stream = StreamText(s);
    testfiles::TempDir dir;
    TSimProcess sim("--rate 0 --xoff --buffer 256 --raw " + Quote(dir.File("raw")));
    ASSERT_FALSE(sim.Path.empty());
    Send(sim, stream);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_TRUE(testfiles::ReadAll(dir.File("raw")) == stream);
    EXPECT_EQ(sim.Summary(" bytes received"), static_cast<double>(stream.size()));
    EXPECT_GT(sim.Summary(" XOFF"), 0) << sim.Output;
    EXPECT_EQ(sim.Summary(" unknown"), 0) << sim.Output;
}

TEST(Simulator, SlowRateTakesTheTimeTheRateGives)
{
    THpglSheet s;
    for (int i = 0; i < 120; ++i)
        s.Add(i % 2 ? hkPD : hkPU, i * 10, i * 15);
    const std::string stream = StreamText(s);  // about 1.4 KB: 1.5 s at 9600 baud
    testfiles::TempDir dir;
    TSimProcess sim("--rate 9600 --xoff --svg " + Quote(dir.File("d.svg")));
    Send(sim, stream);
    EXPECT_EQ(sim.Wait(), 0);
    const double expected = static_cast<double>(stream.size()) / 960.0;
    const double took = sim.Summary(" s; estimated");
    EXPECT_NEAR(took, expected, expected * 0.1) << sim.Output;
    EXPECT_NE(testfiles::ReadAll(dir.File("d.svg")).find("<line"), std::string::npos);
    EXPECT_GT(sim.Summary(" s; fault: none"), 0) << sim.Output;  // an estimated plot time is given
}
