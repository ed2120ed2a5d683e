// What a user sees of the windows at their design sizes: whole captions with the real font
// metrics, status panels that hold their widest texts, no status tips, glyphs drawn for the
// screen's scale, and a drag that nothing but the left button keeps alive.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSizeGrip>
#include <QStatusTipEvent>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "formfixture.h"
#include "sheettext.h"
#include "ui/icons.h"

namespace {

QString Plain(QString text)
{
    // A single '&' marks the accelerator and takes no room.
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
        .remove(QLatin1Char('&'))
        .replace(QChar(1), QLatin1Char('&'));
}

// Every text of a window's controls that does not fit the room its control gives it, or
// whose control reaches beyond its parent, as "kind 'text': needed > room".
QStringList CutTexts(QWidget* window)
{
    QStringList cut;
    auto check = [&](QWidget* w, const QString& text, int room) {
        const int need = QFontMetrics(w->font()).horizontalAdvance(Plain(text));
        if (need > room)
            cut << QStringLiteral("%1 '%2': %3 > %4").arg(w->metaObject()->className(), text).arg(need).arg(room);
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->isWindow())
            continue;
        if (QWidget* parent = w->parentWidget(); parent && !parent->rect().contains(w->geometry()))
            cut << QStringLiteral("%1 '%2' leaves its parent").arg(w->metaObject()->className(), w->objectName());
        QStyle* style = w->style();
        if (auto* l = qobject_cast<QLabel*>(w)) {
            const int room = l->contentsRect().width() - std::max(l->indent(), 0);
            if (!l->text().isEmpty() && !l->wordWrap()) {
                check(l, l->text(), room);
            } else if (!l->text().isEmpty()) {
                // A wrapped text needs its lines' height; a word wider than the label sticks out.
                const QRect need = QFontMetrics(l->font()).boundingRect(QRect(0, 0, room, 1 << 20), Qt::TextWordWrap,
                                                                        Plain(l->text()));
                if (need.width() > room || need.height() > l->contentsRect().height())
                    cut << QStringLiteral("%1 '%2': %3x%4 > %5x%6")
                               .arg(l->metaObject()->className(), l->text())
                               .arg(need.width())
                               .arg(need.height())
                               .arg(room)
                               .arg(l->contentsRect().height());
            }
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            QStyleOptionButton o;
            o.initFrom(b);
            o.text = b->text();
            const auto element = qobject_cast<QCheckBox*>(b)      ? QStyle::SE_CheckBoxContents
                                 : qobject_cast<QRadioButton*>(b) ? QStyle::SE_RadioButtonContents
                                 : qobject_cast<QPushButton*>(b)  ? QStyle::SE_PushButtonContents
                                                                  : QStyle::SE_CustomBase;
            if (element != QStyle::SE_CustomBase && !b->text().isEmpty())
                check(b, b->text(), style->subElementRect(element, &o, b).width());
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            QStyleOptionGroupBox o;
            o.initFrom(g);
            o.text = g->title();
            o.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            o.textAlignment = g->alignment();
            const QRect label = style->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, g);
            check(g, g->title(), std::min(label.width(), g->width() - label.left()));
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox o;
            o.initFrom(c);
            o.editable = c->isEditable();
            int room = style->subControlRect(QStyle::CC_ComboBox, &o, QStyle::SC_ComboBoxEditField, c).width();
            // A box narrower than its entries drops down a list as wide as they are, and
            // shows the entry chosen whole on hovering.
            if (c->view()->minimumWidth() > c->width()) {
                c->showPopup();
                QApplication::processEvents();
                room =
                    c->view()->viewport()->width() - 2 * style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, c);
                c->hidePopup();
                if (c->currentIndex() >= 0 && c->toolTip() != c->currentText())
                    cut << QStringLiteral("%1 '%2': no tooltip").arg(c->metaObject()->className(), c->currentText());
            }
            for (int i = 0; i < c->count(); ++i)
                check(c, c->itemText(i), room);
        }
    }
    return cut;
}

// The main window at its design size: a client area of 331 x 386 below the menu bar.
void DesignSize()
{
    frmMain->resize(331, 386 + frmMain->MainMenu1->height());
    QApplication::processEvents();
    ASSERT_EQ(frmMain->centralWidget()->width(), 331);
}

}  // namespace

TEST_F(FormTest, EveryCaptionShowsWholeInAllThreeWindowsAtTheDesignSize)
{
    DesignSize();
    EXPECT_EQ(CutTexts(frmMain).join(QLatin1Char('\n')).toStdString(), "");
    // The ports of this machine are not the test's: a fixed list, a long adapter name among them.
    const std::string adapter = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9M4LJ7Q-if00-port0";
    frmOstrel->PortList = [adapter] {
        return std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "/dev/ttyUSB9", adapter};
    };
    frmOstrel->show();
    QApplication::processEvents();
    EXPECT_EQ(CutTexts(frmOstrel).join(QLatin1Char('\n')).toStdString(), "");
    // The speed label at every speed, with and without acceleration.
    for (bool accelerate : {true, false}) {
        frmOstrel->cbZrychlovat->setChecked(accelerate);
        for (int s = frmOstrel->tbSpeed->minimum(); s <= frmOstrel->tbSpeed->maximum(); ++s) {
            frmOstrel->tbSpeed->setValue(s);
            EXPECT_EQ(CutTexts(frmOstrel).join(QLatin1Char('\n')).toStdString(), "") << s;
        }
    }
    frmOstrel->hide();
    frmAbout->show();
    QApplication::processEvents();
    EXPECT_EQ(CutTexts(frmAbout).join(QLatin1Char('\n')).toStdString(), "");
    frmAbout->hide();
    // The measure itself notices a cut caption.
    frmOstrel->cbZrychlovat->setText(QStringLiteral("accelerate to double speed, and then some"));
    EXPECT_EQ(CutTexts(frmOstrel).size(), 1);
}

// What the plot dialog's stats label says during and after a run, at its widest: a sheet of
// ten million objects, a plot of thousands of hours, a line held all day.
TEST_F(FormTest, EveryRunTextOfThePlotDialogShowsWhole)
{
    auto* d = frmOstrel;
    d->show();
    QApplication::processEvents();
    QStringList texts;
    const std::int32_t most = 9999999;
    for (const bool service : {false, true}) {
        TPlotProgress p;
        p.Service = service;
        p.MaxObjects = service ? 10 : most;
        p.Objects = p.MaxObjects - 1;
        p.LineUse = 1;
        p.SecondsLeft = 9999 * 3600 + 3599;
        d->ShowProgress(p);
        texts << d->lblStats->text();
        p.HeldSeconds = 99999;
        d->ShowProgress(p);
        texts << d->lblStats->text();
        p.HeldSeconds = 0;
        p.Finishing = true;
        d->ShowProgress(p);
        texts << d->lblStats->text();
        texts << TfrmOstrel::StoppingText(p.MaxObjects, service);
        for (const TPlotEnd end : {TPlotEnd::Finished, TPlotEnd::Stopped, TPlotEnd::Aborted, TPlotEnd::Failed})
            for (const bool cut : {false, true}) {
                TPlotResult r;
                r.End = end;
                r.MaxObjects = p.MaxObjects;
                r.LastObject = p.MaxObjects - 1;
                r.CutLeft = cut;
                texts << TfrmOstrel::OutcomeText(end, r, p.MaxObjects - 1, service, 9999 * 3600 + 3599);
            }
    }
    for (const std::int32_t pen : {1, 8, 255}) {
        TPlotProgress p;
        p.PenPause = pen;
        d->ShowProgress(p);
        texts << d->lblStats->text();
    }
    d->ShowProgress(TPlotProgress{});
    const int room = d->lblStats->contentsRect().width();
    QStringList cut;
    for (const QString& t : texts) {
        EXPECT_FALSE(t.isEmpty());
        if (d->lblStats->fontMetrics().horizontalAdvance(t) > room)
            cut << QStringLiteral("'%1': %2 > %3")
                       .arg(t)
                       .arg(d->lblStats->fontMetrics().horizontalAdvance(t))
                       .arg(room);
    }
    EXPECT_EQ(cut.join(QLatin1Char('\n')).toStdString(), "");
    EXPECT_EQ(d->lblStats->geometry(), QRect(144, 80, 281, 14));
    d->hide();
}

TEST_F(FormTest, TheMessageBarsTextShowsWholeFromTheDesignSizeDown)
{
    // A long report: several kinds translated, commands ignored, a drawing beyond the paper.
    frmMain->MessageBar1->SetText(QString::fromUtf8(
        "HP-GL/2: 4 encoded polylines, 3 fills, 120 dashed lines, 2 scalings, 1 rotations; ignored: 12 commands "
        "(XY, ZZ); \u201c1/40 to 1/8\u201d or Zoom Auto brings it in"));
    frmMain->MessageBar1->show();
    frmMain->FormResize();
    for (int width : {331, 300, frmMain->minimumWidth()}) {
        frmMain->resize(width, 386 + frmMain->MainMenu1->height());
        QApplication::processEvents();
        EXPECT_EQ(CutTexts(frmMain).join(QLatin1Char('\n')).toStdString(), "") << width;
    }
    // The measure notices wrapped lines that the label has no room for.
    QLabel* text = frmMain->MessageBar1->lblText;
    text->resize(text->width(), text->height() - 1);
    EXPECT_EQ(CutTexts(frmMain).size(), 1);
}

TEST_F(FormTest, StatusPanelsHoldTheWidestCountAndExtentsAtTheDesignSize)
{
    DesignSize();
    auto* p0 = frmMain->StatusPanel0;
    auto* p1 = frmMain->StatusPanel1;
    EXPECT_EQ(p0->width(), 90);
    // Panel 1 runs from panel 0 to the bar's end, where the size grip sits.
    EXPECT_EQ(p1->mapTo(frmMain, QPoint(0, 0)).x(), p0->mapTo(frmMain, QPoint(90, 0)).x());
    auto* grip = frmMain->StatusBar1->findChild<QSizeGrip*>();
    ASSERT_NE(grip, nullptr);
    EXPECT_GE(p1->mapTo(frmMain, QPoint(p1->width(), 0)).x(), grip->mapTo(frmMain, QPoint(0, 0)).x() - 8);

    p0->SetText(QStringLiteral("Objects: 9999999"));
    EXPECT_TRUE(p0->Fits());
    EXPECT_LE(p0->fontMetrics().horizontalAdvance(p0->text()), p0->contentsRect().width());
    frmMain->Sheet->XMin = frmMain->Sheet->YMin = -99999;
    frmMain->Sheet->XMax = frmMain->Sheet->YMax = 99999;
    frmMain->ShowSize();
    EXPECT_EQ(Panel(1), "HPGL size: min=-99999,-99999 max=99999,99999");
    EXPECT_TRUE(p1->Fits());
    EXPECT_LE(p1->fontMetrics().horizontalAdvance(p1->text()), p1->contentsRect().width());
    EXPECT_EQ(p0->toolTip(), QString());
    EXPECT_EQ(p1->toolTip(), QString());

    // What does not fit is whole in the tooltip, and the tooltip follows the panel's width.
    p0->SetText(QStringLiteral("Objects: 2147483647 and more"));
    EXPECT_EQ(p0->toolTip(), p0->text());
    frmMain->resize(frmMain->minimumWidth(), frmMain->height());
    QApplication::processEvents();
    EXPECT_FALSE(p1->Fits());
    EXPECT_EQ(p1->toolTip(), p1->text());
    DesignSize();
    EXPECT_EQ(p1->toolTip(), QString());
}

TEST_F(FormTest, HintsNeverTakeOverTheStatusBar)
{
    DesignSize();
    frmMain->Sheet->Clear();
    LoadText(*frmMain->Sheet, "PA-5,-5;PD100,100;");
    frmMain->Redraw();
    const std::string count = Panel(0), size = Panel(1);
    for (QAction* a : frmMain->Actions()) {
        EXPECT_EQ(a->statusTip(), QString()) << a->text().toStdString();
        // What a menu does when the pointer rests on an item.
        a->showStatusText(frmMain->File1);
    }
    // Even a status tip that some widget carries shows nowhere.
    QWidget* open = frmMain->ActionToolBar1->widgetForAction(frmMain->actOpen);
    ASSERT_NE(open, nullptr);
    QStatusTipEvent tip(QStringLiteral("Opens an existing file"));
    QApplication::sendEvent(open, &tip);
    QTest::mouseMove(open);
    QApplication::processEvents();
    EXPECT_EQ(frmMain->StatusBar1->currentMessage(), QString());
    EXPECT_TRUE(frmMain->StatusPanel0->isVisible());
    EXPECT_TRUE(frmMain->StatusPanel1->isVisible());
    EXPECT_EQ(Panel(0), count);
    EXPECT_EQ(Panel(1), size);
}

TEST_F(FormTest, ContextMenuOrAnotherButtonEndsADrag)
{
    frmMain->Sheet->Clear();
    LoadText(*frmMain->Sheet, "PA0,0;PD100,100;");
    frmMain->Redraw();
    QWidget* v = frmMain->imgView;
    const std::string before = SheetText(*frmMain->Sheet);

    // The right button's press opens the menu, which then takes both releases.
    QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(100, 200));
    ASSERT_TRUE(frmMain->Dragging);
    QTimer::singleShot(0, frmMain->PopupMenuImg, [] { frmMain->PopupMenuImg->close(); });
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(100, 200), v->mapToGlobal(QPoint(100, 200)));
    QApplication::sendEvent(v, &menu);
    EXPECT_FALSE(frmMain->Dragging);
    // Nothing jumps at the next press and move of another button.
    QTest::mousePress(v, Qt::MiddleButton, Qt::NoModifier, QPoint(300, 400));
    QTest::mouseMove(v, QPoint(310, 420));
    QTest::mouseRelease(v, Qt::MiddleButton, Qt::NoModifier, QPoint(310, 420));
    EXPECT_EQ(SheetText(*frmMain->Sheet), before);

    // The preview's menu ends it too, and so does another button's press.
    frmMain->imgViewMouseDown(Qt::LeftButton, 10, 10);
    ASSERT_TRUE(frmMain->Dragging);
    QTimer::singleShot(0, frmMain->PopupMenuImg, [] { frmMain->PopupMenuImg->close(); });
    QContextMenuEvent previewMenu(QContextMenuEvent::Mouse, QPoint(5, 5),
                                  frmMain->imgPreview->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(frmMain->imgPreview, &previewMenu);
    EXPECT_FALSE(frmMain->Dragging);
    frmMain->imgViewMouseDown(Qt::LeftButton, 10, 10);
    frmMain->imgViewMouseDown(Qt::MiddleButton, 10, 10);
    EXPECT_FALSE(frmMain->Dragging);
    frmMain->imgViewMouseMove(50, 50);
    EXPECT_EQ(SheetText(*frmMain->Sheet), before);
}

TEST(Glyphs, AreDrawnForTheScreensScaleAndEachIsItsOwn)
{
    QList<QImage> seen;
    for (int i = 2; i < kGlyphCount; ++i) {
        for (qreal dpr : {1.0, 2.0}) {
            const QPixmap pm = Glyph(i).pixmap(QSize(16, 16), dpr);
            EXPECT_EQ(pm.size(), QSize(16, 16) * dpr) << i;
            EXPECT_EQ(pm.devicePixelRatio(), dpr) << i;
        }
        // At 200 % the glyph is drawn anew, not the 16-pixel one blown up.
        const QImage one = GlyphPixmap(i, 1).toImage();
        const QImage two = GlyphPixmap(i, 2).toImage().convertToFormat(one.format());
        EXPECT_NE(two, one.scaled(32, 32).convertToFormat(one.format())) << i;
        EXPECT_NE(two,
                  one.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(one.format()))
            << i;
        EXPECT_FALSE(seen.contains(one)) << "glyph " << i << " repeats another";
        seen << one;
    }
    EXPECT_EQ(AppIconPixmap(2).size(), QSize(64, 64));
}

TEST(Glyphs, ZoomAutoIsAPageInsideFourCornerMarks)
{
    // Corner marks sit on the glyph's four corners; the diagonals between them (which made the
    // old glyph read as a close box) stay clear outside the page.
    const QImage g = GlyphPixmap(9, 1).toImage();
    for (QPoint corner : {QPoint(1, 1), QPoint(14, 1), QPoint(1, 14), QPoint(14, 14)})
        EXPECT_GT(qAlpha(g.pixel(corner)), 128) << corner.x() << "," << corner.y();
    for (QPoint diagonal : {QPoint(3, 3), QPoint(12, 3), QPoint(3, 12), QPoint(12, 12)})
        EXPECT_LT(qAlpha(g.pixel(diagonal)), 64) << diagonal.x() << "," << diagonal.y();
}
