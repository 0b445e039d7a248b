#include "app/access_keys.h"
#include "app/error_box.h"
#include "app/form1.h"
#include "app/readable.h"
#include "app/timer.h"
#include "tests/support/fake_clock.h"

#include "pictures/failure.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

// Readable failures for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

struct WindowFixture : testing::Test {
    void SetUp() override
    {
        form.reset(CreateMainWindow());
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override
    {
        form.reset();
        EXPECT_EQ(Form1, nullptr) << "the global reference outlived its window";
    }
    std::unique_ptr<TForm1> form;
};

using Window = WindowFixture;

TEST_F(Window, TitleClientAreaAndLayout)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("モザリオ"));
    EXPECT_EQ(form->pos(), QPoint(198, 87)) << "the frame's top left on the screen";
    EXPECT_EQ(form->centralWidget()->size(), QSize(492, 554));
    EXPECT_EQ(form->centralWidget()->mapTo(form.get(), QPoint(0, 0)).y(), form->menuBar()->height());
    EXPECT_FALSE(form->menuBar()->isNativeMenuBar());
    // The window keeps its own 32 x 32 icon of 16 colours; the menu entry has larger ones.
    EXPECT_EQ(form->windowIcon().availableSizes(), QList<QSize>{QSize(32, 32)});
    const QImage icon = form->windowIcon().pixmap(32, 32).toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            colours.insert(icon.pixel(x, y));
    EXPECT_LE(colours.size(), 16);
    // Each label and edit box with its own face (the stand-ins for ＭＳ ゴシック and ＭＳ Ｐゴシック),
    // character height and weight.
    const char *gothic = "IPAGothic", *proportional = "IPAPGothic";
    struct Row {
        QWidget* widget;
        QRect geometry;
        bool visible;
        const char* face = nullptr;  // null: a picture surface, no text
        int pixels = 0;
        bool bold = false;
        qreal spacing = 0;  // pixels between characters, on top of the face's own
    };
    for (const Row& row : {Row{form->Image1, {6, 16, 480, 360}, true}, Row{form->Image2, {112, 96, 480, 360}, false},
                           Row{form->Image3, {48, 12, 320, 240}, false}, Row{form->Image4, {280, 392, 200, 150}, true},
                           Row{form->Label1, {8, 392, 109, 35}, true, gothic, 35, true},
                           Row{form->Label2, {8, 504, 116, 29}, true, gothic, 29, false},
                           Row{form->Label3, {8, 448, 116, 29}, true, gothic, 29, false},
                           Row{form->Label4, {136, -70, 32, 64}, true, gothic, 64, false},
                           Row{form->Edit1, {136, 440, 137, 43}, true, proportional, 35, false, -2},
                           Row{form->Edit2, {136, 497, 137, 43}, true, proportional, 35, false, -2},
                           Row{form->Edit3, {136, 392, 137, 43}, true, proportional, 35, true, -2},
                           Row{form.get(), form->geometry(), true, proportional, 12, false}}) {
        SCOPED_TRACE(std::string(row.widget->metaObject()->className()) + " laid out at y " + std::to_string(row.geometry.y()));
        EXPECT_EQ(row.widget->geometry(), row.geometry);
        EXPECT_EQ(row.widget->isVisible(), row.visible);
        if (!row.face)
            continue;
        const QFont& font = row.widget->font();
        EXPECT_EQ(font.family().toStdString(), row.face);
        EXPECT_EQ(QFontInfo(font).family().toStdString(), row.face) << "the face is installed";
        EXPECT_EQ(font.pixelSize(), row.pixels);
        EXPECT_EQ(font.bold(), row.bold);
        EXPECT_EQ(font.letterSpacing(), row.spacing);
        EXPECT_TRUE(font.styleStrategy() & QFont::PreferAntialias) << "smoothed whatever the desktop's default";
    }
}

TEST_F(Window, StartsWithTheBuiltInPictureAndTheLayoutTexts)
{
    const pictures::Picture& board = form->Image1->Picture();
    const pictures::Picture& source = form->Image2->Picture();
    EXPECT_EQ(source.width(), 480);
    EXPECT_EQ(source.height(), 360);
    EXPECT_EQ(source.bitsPerPixel(), 24);
    EXPECT_EQ(board.storage(), source.storage()) << "the board shares the source's pixels";
    EXPECT_EQ(form->Image1->grab().toImage().convertToFormat(QImage::Format_RGB32),
              board.image().convertToFormat(QImage::Format_RGB32))
        << "the board shows its picture";
    EXPECT_TRUE(form->Image4->Picture().isEmpty());
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("1回目"));
    EXPECT_EQ(form->Edit2->text(), QStringLiteral("ピース数"));
    EXPECT_EQ(form->Edit3->text(), QStringLiteral("0"));
    EXPECT_TRUE(form->N41->Checked());
    EXPECT_TRUE(form->N601->Checked());
    EXPECT_FALSE(form->Timer1->Enabled());
    EXPECT_FALSE(form->Timer2->Enabled());
    EXPECT_EQ(form->Game.GridSide, 2);
    EXPECT_EQ(form->Game.TimeLimit, 60);
    EXPECT_EQ(form->Game.PieceCount, 4);
}

TEST_F(Window, EditBoxesTakeNoFocusOrInput)
{
    for (QLineEdit* edit : {form->Edit1, form->Edit2, form->Edit3}) {
        EXPECT_FALSE(edit->isEnabled());
        EXPECT_EQ(edit->focusPolicy(), Qt::NoFocus);
    }
    QTest::mouseClick(form->Edit1, Qt::LeftButton);
    QTest::keyClicks(form->Edit1, QStringLiteral("99"));
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("1回目"));
}

double Luminance(QRgb c)
{
    auto linear = [](int v) { const double s = v / 255.0; return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
}

double Contrast(QRgb a, QRgb b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast a text reaches: its strongest pixel against what the same place shows without it.
double TextContrast(const QImage& shown, const QImage& without)
{
    double strongest = 1;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if ((shown.pixel(x, y) & 0xFFFFFF) != (without.pixel(x, y) & 0xFFFFFF))
                strongest = std::max(strongest, Contrast(shown.pixel(x, y), without.pixel(x, y)));
    return strongest;
}

// The width QLineEdit draws its text in: inside the frame, less its own 2-pixel margins.
int TextRoom(const QLineEdit* edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->contentsRect();
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    return edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).marginsRemoved(edit->textMargins()).width() - 2 * 2;
}

TEST_F(Window, EditTextIsShownFromItsStartOnTheWindowColour)
{
    form->Edit1->setText(QStringLiteral("1000回目"));  // wider than the box
    ASSERT_GT(form->Edit1->fontMetrics().horizontalAdvance(form->Edit1->text()), TextRoom(form->Edit1));
    const QImage whole = form->Edit1->grab().toImage();
    form->Edit1->setText(QStringLiteral("1000"));
    const QImage digits = form->Edit1->grab().toImage();
    const int digitsEnd = form->Edit1->fontMetrics().horizontalAdvance(QStringLiteral("1000")) + 2;
    EXPECT_EQ(whole.copy(0, 0, digitsEnd, whole.height()), digits.copy(0, 0, digitsEnd, digits.height()));
    const QRgb background = digits.pixel(digits.width() - 5, digits.height() / 2);
    EXPECT_EQ(QColor(background), form->Edit1->palette().color(QPalette::Active, QPalette::Base));
    // On a light window colour, the grey of a disabled Windows text.
    EXPECT_EQ(form->Edit1->palette().color(QPalette::Disabled, QPalette::Text), QColor(0x6D, 0x6D, 0x6D));
}

// Dark palettes as desktops hand them to the program before its window is made: GTK's Adwaita
// dark through Qt's GTK platform theme, and a dark scheme like KDE's Breeze Dark, whose
// disabled texts are faint.
QPalette DarkPalette(QColor window, QColor button, QColor base, QColor text, QColor disabledText)
{
    QPalette palette(button, window);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, text);
    palette.setColor(QPalette::Base, base);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    return palette;
}

TEST(WindowLook, EveryTextReadsOnTheLightAndDarkPalettes)
{
    const QPalette saved = QApplication::palette();
    const struct {
        const char* name;
        QPalette palette;
    } rows[] = {
        {"light", saved},
        {"Adwaita dark", DarkPalette(0x323232, 0x323232, 0x242424, 0xF0F0F0, 0x828282)},
        {"Breeze Dark", DarkPalette(0x202326, 0x292C30, 0x141618, 0xFCFCFC, 0x5E6164)},
    };
    for (const auto& row : rows) {
        QApplication::setPalette(row.palette);
        std::unique_ptr<TForm1> form(CreateMainWindow());
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        for (QLineEdit* edit : {form->Edit1, form->Edit2, form->Edit3}) {
            const QString text = edit->text();
            const QImage shown = edit->grab().toImage();
            edit->setText(QString());
            const QImage without = edit->grab().toImage();
            edit->setText(text);
            EXPECT_GE(TextContrast(shown, without), 4.5) << row.name << ": " << text.toStdString();
        }
        const auto expectReadable = [&](TLabel* label) {
            const QImage shown = label->grab().toImage();
            QImage fill(shown.size(), shown.format());
            fill.fill(QColor(pictures::ToQRgb(label->Color())));
            EXPECT_GE(TextContrast(shown, fill), 4.5) << row.name << ": " << label->Caption().toStdString();
        };
        for (TLabel* label : {form->Label1, form->Label2, form->Label3})
            expectReadable(label);
        for (const Banner& banner : {kTimeUpBanner, kClearBanner}) {
            form->Label4->SetColor(banner.colour);
            form->Label4->SetCaption(QString::fromUtf8(banner.caption));
            expectReadable(form->Label4);
            // The capitals stand whole inside the label, on its colour: its top and bottom rows
            // hold no ink.
            const QImage shown = form->Label4->grab().toImage();
            EXPECT_EQ(QColor(shown.pixel(0, 0)), QColor(pictures::ToQRgb(banner.colour))) << row.name;
            for (int y : {0, shown.height() - 1})
                for (int x = 0; x < shown.width(); ++x)
                    ASSERT_EQ(shown.pixel(x, y), shown.pixel(0, 0)) << row.name << ": " << banner.caption << " at " << x << ", " << y;
        }
    }
    QApplication::setPalette(saved);
}

TEST_F(Window, ExitClosesTheWindowDuringAGame)
{
    form->N2Click(nullptr);
    form->Exit1->Action()->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST(WindowLook, AColourThatDoesNotReadMovesJustFarEnoughTowardBlackOrWhite)
{
    const QColor grey(0x6D, 0x6D, 0x6D), faint(0x5E, 0x61, 0x64), dark(0x14, 0x16, 0x18);
    EXPECT_EQ(ReadableOn(Qt::white, {grey, Qt::black}), grey) << "the first that reads";
    EXPECT_EQ(ReadableOn(Qt::white, {}), QColor(Qt::black));
    EXPECT_EQ(ReadableOn(dark, {}), QColor(Qt::white));
    // The ratio of relative luminances, dark channels taken linearly: 21 at most, 1.06 for a
    // grey of 10 on black.
    EXPECT_DOUBLE_EQ(ContrastRatio(Qt::white, Qt::black), 21.0);
    EXPECT_NEAR(ContrastRatio(QColor(10, 10, 10), Qt::black), 1.0607, 0.0005);
    // Neither reads on the dark ground: the last is lightened until it does, and no further.
    const QColor moved = ReadableOn(dark, {Qt::black, faint});
    EXPECT_GE(ContrastRatio(moved, dark), kReadableContrast);
    EXPECT_LT(ContrastRatio(moved, dark), 4.7);
    EXPECT_GT(moved.red(), faint.red());
    EXPECT_GT(moved.blue(), moved.red()) << "still the palette's bluish grey";
}

TEST_F(Window, MenusUseTheMenuBarsFace)
{
    const QFontInfo bar(form->menuBar()->font());
    for (TMenuItem* level : {form->N1.get(), form->N5.get()}) {
        const QFontInfo menu(level->Submenu()->font());
        EXPECT_EQ(menu.family(), bar.family());
        EXPECT_EQ(menu.pixelSize(), bar.pixelSize());
    }
}

TEST_F(Window, SettingItemsStopTheGameAndMoveTheRadioMarkWithinTheirGroup)
{
    const struct {
        TMenuItem* item;
        int side, limit;  // 0: the item sets the other
        const char* pieces;  // the piece-count display afterwards
    } rows[] = {
        {form->N91.get(), 3, 0, "9ピース"},    {form->N91.get(), 3, 0, "9ピース"},  // again: same effects
        {form->N41.get(), 2, 0, "4ピース"},    {form->N161.get(), 4, 0, "16ピース"},
        {form->N251.get(), 5, 0, "25ピース"},  {form->N361.get(), 6, 0, "36ピース"},
        {form->N491.get(), 7, 0, "49ピース"},  {form->N641.get(), 8, 0, "64ピース"},
        {form->N811.get(), 9, 0, "81ピース"},  {form->N7.get(), 0, -1, "81ピース"},
        {form->N301.get(), 0, 30, "81ピース"}, {form->N451.get(), 0, 45, "81ピース"},
        {form->N601.get(), 0, 60, "81ピース"}, {form->N901.get(), 0, 90, "81ピース"},
        {form->N1201.get(), 0, 120, "81ピース"}, {form->N1801.get(), 0, 180, "81ピース"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.item->Caption().toStdString());
        form->Game.Playing = 1;
        const TMenuItem* otherGroupChoice = nullptr;
        for (TMenuItem* item : (row.side ? form->N6 : form->N5)->Items())
            if (item->Checked())
                otherGroupChoice = item;
        row.item->Action()->trigger();
        EXPECT_EQ(form->Game.Playing, 0);
        EXPECT_EQ(form->Game.PieceCount, 4) << "takes effect at the next new game";
        if (row.side)
            EXPECT_EQ(form->Game.GridSide, row.side);
        else
            EXPECT_EQ(form->Game.TimeLimit, row.limit);
        EXPECT_EQ(form->Edit2->text(), QString::fromUtf8(row.pieces));
        EXPECT_LE(form->Edit2->fontMetrics().horizontalAdvance(form->Edit2->text()), TextRoom(form->Edit2)) << "read whole";
        EXPECT_EQ(form->Edit3->text(), QStringLiteral("0"));
        for (TMenuItem* item : (row.side ? form->N5 : form->N6)->Items()) {
            EXPECT_EQ(item->Checked(), item == row.item) << item->Caption().toStdString();
            EXPECT_EQ(item->Action()->isChecked(), item == row.item) << item->Caption().toStdString();
        }
        ASSERT_NE(otherGroupChoice, nullptr);
        EXPECT_TRUE(otherGroupChoice->Checked()) << "the other group is untouched";
    }
    // The settings are shown with radio marks, the other items with no mark.
    for (TMenuItem* level : {form->N5.get(), form->N6.get()})
        for (TMenuItem* item : level->Items())
            EXPECT_NE(item->Action()->actionGroup(), nullptr) << item->Caption().toStdString();
    for (TMenuItem* level : {form->N1.get(), form->N3.get()})
        for (TMenuItem* item : level->Items())
            EXPECT_FALSE(item->Action()->isCheckable()) << item->Caption().toStdString();
}

QStringList Shown(const TMenuItem& level)
{
    QStringList texts;
    for (TMenuItem* item : level.Items())
        texts << item->Action()->text();
    return texts;
}

TEST_F(Window, AccessKeysOfEveryLevel)
{
    EXPECT_EQ(form->N1->Action()->text(), QStringLiteral("ファイル(&Z)"));
    EXPECT_EQ(form->N3->Action()->text(), QStringLiteral("設定(&Y)"));
    EXPECT_EQ(Shown(*form->N1), (QStringList{"ニューゲーム(&Z)", "終了(&Y)"}));
    EXPECT_EQ(Shown(*form->N3), (QStringList{"画像読み込み(&Z)", "ピース数変更(&Y)", "制限時間(&X)"}));
    EXPECT_EQ(Shown(*form->N5), (QStringList{"4", "&9", "&16", "&25", "&36", "&49", "&64", "&81"}));
    EXPECT_EQ(Shown(*form->N6), (QStringList{"&30", "&45", "&60", "&90", "1&20", "&180", "制限なし(&Z)"}));
    // Each level opens from its item; opening it again reassigns from the marked captions:
    // nothing changes.
    for (TMenuItem* level : {form->N1.get(), form->N3.get(), form->N5.get(), form->N6.get()}) {
        EXPECT_EQ(level->Action()->menu(), level->Submenu()) << level->Caption().toStdString();
        const QStringList before = Shown(*level);
        emit level->Submenu()->aboutToShow();
        emit level->Submenu()->aboutToShow();
        EXPECT_EQ(Shown(*level), before);
    }
}

TEST(AccessKeys, AssignmentRules)
{
    struct Row {
        QStringList captions, keyed;
    };
    const Row rows[] = {
        // Later items choose first; letters compare in upper case and keep their case.
        {{"open", "options"}, {"o&pen", "&options"}},
        // A key already marked is reserved.
        {{"&Pay", "Print"}, {"&Pay", "P&rint"}},
        // An item with no free character goes without.
        {{"1", "12"}, {"1", "&12"}},
        // Double-byte captions get the key appended, before a trailing "...".
        {{"開く..."}, {"開く(&Z)..."}},
        // When the first character is taken, the next free one is used.
        {{"ab", "a"}, {"a&b", "&a"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(AssignAccessKeys(row.captions), row.keyed) << row.captions.join(u',').toStdString();
    // Double-byte captions take the set's keys from its end down to its first; one more goes without.
    QStringList keyed;
    for (const QChar key : QStringLiteral("ZYXWVUTSRQPONMLKJIHGFEDCBA0987654321"))
        keyed += QStringLiteral("開(&%1)").arg(key);
    keyed += QStringLiteral("開");
    EXPECT_EQ(AssignAccessKeys(QStringList(37, QStringLiteral("開"))), keyed);
    EXPECT_EQ(AccessKeyOf(QStringLiteral("1&20")), QChar(u'2'));
    EXPECT_TRUE(AccessKeyOf(QStringLiteral("a&&b")).isNull());
}

TEST(ErrorBox, TextAndTitleRules)
{
    EXPECT_EQ(ErrorBoxText(QStringLiteral("JPEG エラー #52")), QStringLiteral("JPEG エラー #52."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("ビットマップイメージが不正です")), QStringLiteral("ビットマップイメージが不正です."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("done.")), QStringLiteral("done."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("stop!")), QStringLiteral("stop!"));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("(x)")), QStringLiteral("(x)"));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("trailing ")), QStringLiteral("trailing "));
    EXPECT_EQ(ErrorBoxText(QString()), QString());
    EXPECT_EQ(ApplicationTitleFrom(QStringLiteral("/usr/games/mozario")), QStringLiteral("mozario"));
    EXPECT_EQ(ApplicationTitleFrom(QStringLiteral("C:\\Games\\MOZARIO.EXE")), QStringLiteral("Mozario"));
    EXPECT_EQ(ApplicationTitleFrom(QStringLiteral("/opt/my.game.bin")), QStringLiteral("my"));
    EXPECT_EQ(ApplicationTitleFrom(QStringLiteral("/opt/MZ")), QStringLiteral("Mz"));
    EXPECT_EQ(ApplicationTitleFrom(QStringLiteral("Z")), QStringLiteral("Z"));
    EXPECT_EQ(ApplicationTitleFrom(QStringLiteral("/opt/.mozario")), QString()) << "all extension";
}

TEST(ErrorBox, AFailureInAHandlerIsShownOnceAndTheProgramGoesOn)
{
    const struct {
        std::function<void()> handler;
        QString text;
    } rows[] = {
        {[] { throw pictures::Failure("ファイル a<h1>big</h1>b.jpg は開けません"); },
         QStringLiteral("ファイル a<h1>big</h1>b.jpg は開けません.")},
        // Memory that runs out outside the readers' own checks says so too.
        {[] { throw std::bad_alloc(); }, QString::fromUtf8(pictures::kOutOfResources) + u'.'},
    };
    for (const auto& row : rows) {
        QString shownText, shownTitle;
        Qt::TextFormat shownFormat = Qt::AutoText;
        int boxes = 0;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    ++boxes;
                    shownText = box->text();
                    shownTitle = box->windowTitle();
                    shownFormat = box->textFormat();
                    EXPECT_EQ(box->buttons().size(), 1);
                    EXPECT_EQ(box->icon(), QMessageBox::Critical);
                    box->accept();
                }
            }
        });
        RunHandler(nullptr, row.handler);
        EXPECT_EQ(boxes, 1);
        EXPECT_EQ(shownText, row.text);
        EXPECT_EQ(shownFormat, Qt::PlainText);
        EXPECT_EQ(shownTitle, QStringLiteral("app_tests")) << "the name of the program's file";
    }
}

TEST(Timer, EnablingAgainNeverRestartsThePeriod)
{
    FakeClock clock;
    TTimer timer(nullptr, clock);
    int ticks = 0;
    timer.OnTimer = [&](TTimer*) { ++ticks; };
    clock.Advance(5000);
    EXPECT_EQ(ticks, 0) << "a timer starts stopped";
    timer.SetEnabled(true);
    clock.Advance(300);
    timer.SetEnabled(true);
    clock.Advance(699);
    EXPECT_EQ(ticks, 0);
    clock.Advance(1);
    EXPECT_EQ(ticks, 1) << "the first tick comes one full second after the first start";
    timer.SetEnabled(false);
    clock.Advance(5000);
    EXPECT_EQ(ticks, 1);
    timer.SetInterval(20);
    timer.SetEnabled(true);
    clock.Advance(110);
    EXPECT_EQ(ticks, 6);
}

}  // namespace
