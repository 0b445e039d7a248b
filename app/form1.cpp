#include "app/form1.h"

#include "app/error_box.h"
#include "app/idle_warm_up.h"
#include "app/readable.h"
#include "pictures/bmp_reader.h"
#include "pictures/loading.h"
#include "puzzle/random.h"

#include <QApplication>
#include <QExposeEvent>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QMenuBar>
#include <QPalette>
#include <QWindow>
#include <span>
#include <stdexcept>

TForm1* Form1 = nullptr;

namespace {

// The layout's faces, with the Japanese faces that stand in for them.
const QString kGothic = QStringLiteral("IPAGothic");           // ＭＳ ゴシック
const QString kProportionalGothic = QStringLiteral("IPAPGothic");  // ＭＳ Ｐゴシック

QFont LayoutFont(const QString& face, int characterHeight, bool bold)
{
    QFont font(face);
    font.setPixelSize(characterHeight);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// Disabled edit text: dark grey, still readable on the window colour (5.2:1 on white). On a
// dark window colour the palette's own disabled text takes its place.
const QColor kDisabledText(0x6D, 0x6D, 0x6D);

QLineEdit* LayoutEdit(QWidget* parent, QRect geometry, const QString& text, bool bold)
{
    auto* edit = new QLineEdit(text, parent);
    // The stand-in face sets its kana wider than the layout's face, so "16ピース" would lose a
    // third of its last character to the box: 2 pixels less after each character fit every
    // text of the layout, in the layout's box and face.
    QFont font = LayoutFont(kProportionalGothic, 35, bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -2);
    edit->setFont(font);
    edit->setGeometry(geometry);
    edit->setEnabled(false);
    edit->setFocusPolicy(Qt::NoFocus);
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    palette.setColor(QPalette::Disabled, QPalette::Base, base);
    palette.setColor(QPalette::Disabled, QPalette::Text,
                     ReadableOn(base, {kDisabledText, palette.color(QPalette::Disabled, QPalette::Text)}));
    edit->setPalette(palette);
    // Every text shows from its start; what does not fit is clipped at the right.
    edit->setCursorPosition(0);
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit] { edit->setCursorPosition(0); });
    return edit;
}

TLabel* LayoutLabel(QWidget* parent, QRect geometry, const QString& caption, int height, bool bold)
{
    auto* label = new TLabel(parent, caption, LayoutFont(kGothic, height, bold));
    label->setGeometry(geometry);
    return label;
}

pictures::Picture BuiltInPicture()
{
    QFile file(QStringLiteral(":/mozario/builtin.bmp"));
    file.open(QIODevice::ReadOnly);
    return pictures::ReadBitmap(file.readAll());
}

// Composes the work picture for the board. While the board still shows the last composition it
// shares the work picture's pixels, and the composition would first copy every one of them only
// to overwrite them; the board lets go of them for the moment (nothing is painted inside a
// handler) and takes the new composition afterwards.
void ComposeForBoard(TForm1* form)
{
    const pictures::Picture& work = form->Image3->Picture();
    const bool boardShares = !work.isEmpty() && form->Image1->Picture().storage() == work.storage();
    if (boardShares)
        form->Image1->SetPicture(pictures::Picture());
    try {
        DrawPieces(form->Game.PieceCount, form->Game.PieceWidth, form->Game.PieceHeight, form->Game.PieceLeft,
                   form->Game.PieceTop, form->Game.PieceOrder);
    } catch (...) {
        if (boardShares)
            form->Image1->SetPicture(form->Image3->Picture());
        throw;
    }
    form->Image1->SetPicture(form->Image3->Picture());
}

}  // namespace

TForm1::TForm1(Clock& clock)
{
    Form1 = this;
    setWindowTitle(QStringLiteral("モザリオ"));
    setWindowIcon(QIcon(QStringLiteral(":/mozario/mozario-32.png")));
    setFont(LayoutFont(kProportionalGothic, 12, false));
    // Menus drop down as windows of their own, which take no font from the window: give them
    // the menu bar's.
    QApplication::setFont(font(), "QMenu");
    CreateComponents(clock);
    CreateMenus();
    BindEvents();
    // The client area below the menu bar is 492 x 554; the frame's corner stands at (198, 87).
    resize(492, menuBar()->sizeHint().height() + 554);
    move(198, 87);
}

TForm1::~TForm1()
{
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::CreateComponents(Clock& clock)
{
    auto* client = new QWidget(this);
    client->setAutoFillBackground(true);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    client->setPalette(palette);
    setCentralWidget(client);

    Image1 = new TImage(client);
    Image1->setGeometry(6, 16, 480, 360);
    Image2 = new TImage(client);
    Image2->setGeometry(112, 96, 480, 360);
    Image2->AutoSize = true;
    Image2->setVisible(false);
    Image2->SetPicture(BuiltInPicture());
    Image3 = new TImage(client);
    Image3->setGeometry(48, 12, 320, 240);
    Image3->setVisible(false);
    Image4 = new TImage(client);
    Image4->setGeometry(280, 392, 200, 150);

    Label1 = LayoutLabel(client, {8, 392, 109, 35}, QStringLiteral("タイム"), 35, true);
    Label2 = LayoutLabel(client, {8, 504, 116, 29}, QStringLiteral("ピース数"), 29, false);
    Label3 = LayoutLabel(client, {8, 448, 116, 29}, QStringLiteral("いれかえ"), 29, false);
    Label4 = LayoutLabel(client, {136, kBannerHiddenTop, 32, 64}, QString(), 64, false);

    Edit1 = LayoutEdit(client, {136, 440, 137, 43}, QStringLiteral("1回目"), false);
    Edit2 = LayoutEdit(client, {136, 497, 137, 43}, QStringLiteral("ピース数"), false);
    Edit3 = LayoutEdit(client, {136, 392, 137, 43}, QStringLiteral("0"), true);

    OpenPictureDialog1 = std::make_unique<TOpenPictureDialog>(this);

    Timer1 = new TTimer(this, clock);
    Timer1->SetInterval(1000);
    WarmUp = new IdleWarmUp(this);
    Timer2 = new TTimer(this, clock);
    Timer2->SetInterval(100);
}

namespace {

using MenuMember = std::unique_ptr<TMenuItem> TForm1::*;

// What a radio item chooses; its group is the items of one setting.
enum class Setting { None, GridSide, TimeLimit };

// One item of the menu tree: where it hangs, what it shows, what it chooses and what a click
// runs.
struct MenuRow {
    MenuMember item;
    MenuMember parent;  // null: on the menu bar
    const char* caption;
    Setting setting;     // None: a command or a submenu
    std::int32_t value;  // the grid side or the time limit (-1: none) the item chooses
    void (TForm1::*onClick)(QObject*);  // null: the item opens its submenu
};

// The whole menu, in menu order.
constexpr MenuRow kMenu[] = {
    {&TForm1::N1, nullptr, "ファイル", Setting::None, 0, nullptr},
    {&TForm1::N2, &TForm1::N1, "ニューゲーム", Setting::None, 0, &TForm1::N2Click},
    {&TForm1::Exit1, &TForm1::N1, "終了", Setting::None, 0, &TForm1::Exit1Click},
    {&TForm1::N3, nullptr, "設定", Setting::None, 0, nullptr},
    {&TForm1::N4, &TForm1::N3, "画像読み込み", Setting::None, 0, &TForm1::N4Click},
    {&TForm1::N5, &TForm1::N3, "ピース数変更", Setting::None, 0, nullptr},
    {&TForm1::N41, &TForm1::N5, "4", Setting::GridSide, 2, &TForm1::N41Click},
    {&TForm1::N91, &TForm1::N5, "9", Setting::GridSide, 3, &TForm1::N91Click},
    {&TForm1::N161, &TForm1::N5, "16", Setting::GridSide, 4, &TForm1::N161Click},
    {&TForm1::N251, &TForm1::N5, "25", Setting::GridSide, 5, &TForm1::N251Click},
    {&TForm1::N361, &TForm1::N5, "36", Setting::GridSide, 6, &TForm1::N361Click},
    {&TForm1::N491, &TForm1::N5, "49", Setting::GridSide, 7, &TForm1::N491Click},
    {&TForm1::N641, &TForm1::N5, "64", Setting::GridSide, 8, &TForm1::N641Click},
    {&TForm1::N811, &TForm1::N5, "81", Setting::GridSide, 9, &TForm1::N811Click},
    {&TForm1::N6, &TForm1::N3, "制限時間", Setting::None, 0, nullptr},
    {&TForm1::N301, &TForm1::N6, "30", Setting::TimeLimit, 30, &TForm1::N301Click},
    {&TForm1::N451, &TForm1::N6, "45", Setting::TimeLimit, 45, &TForm1::N451Click},
    {&TForm1::N601, &TForm1::N6, "60", Setting::TimeLimit, 60, &TForm1::N601Click},
    {&TForm1::N901, &TForm1::N6, "90", Setting::TimeLimit, 90, &TForm1::N901Click},
    {&TForm1::N1201, &TForm1::N6, "120", Setting::TimeLimit, 120, &TForm1::N1201Click},
    {&TForm1::N1801, &TForm1::N6, "180", Setting::TimeLimit, 180, &TForm1::N1801Click},
    {&TForm1::N7, &TForm1::N6, "制限なし", Setting::TimeLimit, -1, &TForm1::N7Click},
};

// The items checked at start-up are those of the start-up settings.
constexpr bool StartsChecked(const MenuRow& row)
{
    return (row.setting == Setting::GridSide && row.value == puzzle::kStartupGridSide)
        || (row.setting == Setting::TimeLimit && row.value == puzzle::kStartupTimeLimit);
}

constexpr bool EveryGridFitsThePieceTables()
{
    for (const MenuRow& row : kMenu) {
        if (row.setting == Setting::GridSide && (row.value < 1 || row.value * row.value > puzzle::kTableSize))
            return false;
    }
    return true;
}
static_assert(EveryGridFitsThePieceTables(), "a piece count beyond puzzle::kTableSize");

const MenuRow& RowOf(const TForm1& form, const TMenuItem* item)
{
    for (const MenuRow& row : kMenu) {
        if ((form.*row.item).get() == item)
            return row;
    }
    throw std::logic_error("a menu item without a row");
}

}  // namespace

void TForm1::CreateMenus()
{
    QMenuBar* bar = menuBar();
    bar->setNativeMenuBar(false);
    std::vector<TMenuItem*> barItems;
    for (const MenuRow& row : kMenu) {
        const QString caption = QString::fromUtf8(row.caption);
        std::unique_ptr<TMenuItem>& item = this->*row.item;
        if (row.parent) {
            item = std::make_unique<TMenuItem>((this->*row.parent).get(), caption, row.setting != Setting::None);
        } else {
            item = std::make_unique<TMenuItem>(bar, caption);
            barItems.push_back(item.get());
        }
        if (StartsChecked(row))
            item->SetChecked(true);
        if (row.onClick)
            item->OnClick = [this, handler = row.onClick](TMenuItem* sender) {
                RunHandler(this, [&] { (this->*handler)(sender->Action()); });
            };
    }

    // Access keys per level, once every level has all its items.
    TMenuItem::AssignBarKeys(barItems);
    for (const MenuRow& row : kMenu)
        (this->*row.item)->AssignKeys();
}

void TForm1::BindEvents()
{
    Image1->OnMouseDown = [this](TImage* sender, puzzle::MouseButton button, int x, int y) {
        RunHandler(this, [&] { Image1MouseDown(sender, button, x, y); });
    };
    Timer1->OnTimer = [this](TTimer* sender) { RunHandler(this, [&] { Timer1Timer(sender); }); };
    Timer2->OnTimer = [this](TTimer* sender) { RunHandler(this, [&] { Timer2Timer(sender); }); };
}

TForm1* CreateMainWindow(Clock& clock)
{
    auto* form = new TForm1(clock);
    RunHandler(form, [form] { form->FormCreate(form); });
    return form;
}

void TForm1::FormCreate(QObject*)
{
    puzzle::ApplyStartupSettings(Game);
    puzzle::SeedRandom(std::chrono::system_clock::now());
    Image3->SetPicture(Image2->Picture());
    Image1->SetPicture(Image3->Picture());
}

void TForm1::PieceCountClick(TMenuItem* item)
{
    const std::int32_t gridSide = RowOf(*this, item).value;
    puzzle::ChoosePieceCount(Game, gridSide);
    Edit2->setText(PieceCountText(gridSide));
    item->SetChecked(true);
}

void TForm1::TimeLimitClick(TMenuItem* item)
{
    puzzle::ChooseTimeLimit(Game, RowOf(*this, item).value);
    item->SetChecked(true);
}

void TForm1::N41Click(QObject*) { PieceCountClick(N41.get()); }
void TForm1::N91Click(QObject*) { PieceCountClick(N91.get()); }
void TForm1::N161Click(QObject*) { PieceCountClick(N161.get()); }
void TForm1::N251Click(QObject*) { PieceCountClick(N251.get()); }
void TForm1::N361Click(QObject*) { PieceCountClick(N361.get()); }
void TForm1::N491Click(QObject*) { PieceCountClick(N491.get()); }
void TForm1::N641Click(QObject*) { PieceCountClick(N641.get()); }
void TForm1::N811Click(QObject*) { PieceCountClick(N811.get()); }
void TForm1::N301Click(QObject*) { TimeLimitClick(N301.get()); }
void TForm1::N451Click(QObject*) { TimeLimitClick(N451.get()); }
void TForm1::N601Click(QObject*) { TimeLimitClick(N601.get()); }
void TForm1::N901Click(QObject*) { TimeLimitClick(N901.get()); }
void TForm1::N1201Click(QObject*) { TimeLimitClick(N1201.get()); }
void TForm1::N1801Click(QObject*) { TimeLimitClick(N1801.get()); }
void TForm1::N7Click(QObject*) { TimeLimitClick(N7.get()); }

void TForm1::N2Click(QObject*)
{
    Label4->SetTop(kBannerHiddenTop);
    puzzle::StartNewGame(Game, Image2->width(), Image2->height());
    Timer1->SetEnabled(true);
    Edit3->setText(QString::number(Game.TimeLeft));
    ComposeForBoard(this);
    Image4->SetPicture(Image2->Picture());
}

void TForm1::Exit1Click(QObject*)
{
    close();
}

namespace {

// The busy cursor over the program's windows while it lives, so a step that handles no event
// for a while shows that it works. It goes back on every way out, failures included, before the
// error box shows.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Puts the window's pixels on the screen again now, as the expose after a closed dialog would
// once the event loop handles it. Where no compositor keeps a window's pixels, the screen shows
// the closed dialog until then. Only the window's own paint runs: no input, no timer.
void ShowAnew(QWidget* window)
{
    QWindow* handle = window->windowHandle();
    if (!handle || !handle->isExposed())
        return;
    QExposeEvent exposed{QRegion(window->rect())};
    QCoreApplication::sendEvent(handle, &exposed);
}

}  // namespace

void TForm1::N4Click(QObject*)
{
    if (!OpenPictureDialog1->Execute()) {
        TakePicture(std::nullopt);
        return;
    }
    // Reading a camera's photo takes a while, in which no event is handled.
    const BusyCursor busy;
    ShowAnew(this);
    TakePicture(OpenPictureDialog1->FileName);
}

void TForm1::TakePicture(const std::optional<QString>& fileName)
{
    if (fileName) {
        Game.PicturePath = fileName->toStdString();
        Image2->SetPicture(pictures::LoadPictureFile(*fileName));
    }
    Image3->SetPicture(Image2->Picture());
    Image1->SetPicture(Image3->Picture());
    Image4->SetPicture(Image2->Picture());
    puzzle::ResetForNewPicture(Game);
    // The reader is done with its buffers: they go back before the copies' storage comes.
    pictures::GiveBackFreeMemory();
    const pictures::Picture& taken = Image2->Picture();
    WarmUp->Start(taken.image().size(), taken.image().format(), pictures::kCopiesReserved);
}

void TForm1::Image1MouseDown(QObject* sender, puzzle::MouseButton button, int x, int y)
{
    switch (puzzle::PressBoard(Game, button, Image1->width(), Image1->height(), x, y)) {
    case puzzle::PressEffect::NewGame:
        N2Click(sender);
        break;
    case puzzle::PressEffect::FirstChosen:
        FrameCell(Game.FirstCell, pictures::kRed);
        break;
    case puzzle::PressEffect::Cancelled:
        Image1->SetPicture(Image3->Picture());
        break;
    case puzzle::PressEffect::Exchanged:
        Edit1->setText(SwapCountText(Game.SwapCount));
        FrameCell(Game.FirstCell, pictures::kRed);
        FrameCell(Game.SecondCell, pictures::kBlue);
        puzzle::SwapChosenPieces(Game);
        Timer2->SetEnabled(true);
        break;
    }
}

void TForm1::Timer1Timer(QObject*)
{
    const puzzle::TickEffect effect = puzzle::CountDown(Game);
    if (effect == puzzle::TickEffect::Nothing)
        return;
    Edit3->setText(TimeText(Game));
    if (effect == puzzle::TickEffect::TimeUp)
        ShowBanner(kTimeUpBanner);
}

void TForm1::Timer2Timer(QObject*)
{
    Timer2->SetEnabled(false);
    ComposeForBoard(this);
    if (puzzle::FinishIfSolved(Game)) {
        Timer1->SetEnabled(false);
        ShowBanner(kClearBanner);
    }
}

void TForm1::ShowBanner(const Banner& banner)
{
    Label4->SetTop(banner.top);
    Label4->SetColor(banner.colour);
    Label4->SetCaption(QString::fromUtf8(banner.caption));
}

void TForm1::FrameCell(int cell, std::uint32_t colour)
{
    pictures::Picture& canvas = Image1->Canvas();
    canvas.setPenColour(colour);
    canvas.setPenWidth(kFrameWidth);
    DrawCellFrame(cell);
}

void TForm1::DrawCellFrame(int cell)
{
    pictures::Picture& canvas = Image1->Canvas();
    const auto path = puzzle::CellFramePath(Game, cell);
    canvas.moveTo(path.front().x, path.front().y);
    for (const puzzle::Point& corner : std::span(path).subspan<1>())
        canvas.lineTo(corner.x, corner.y);
    Image1->Changed();
}

void DrawPieces(std::int32_t count, std::int32_t width, std::int32_t height, puzzle::PieceTable lefts,
                puzzle::PieceTable tops, puzzle::PieceTable order)
{
    if (count <= 0)
        return;
    std::vector<pictures::Picture::RectCopy> copies;
    copies.reserve(static_cast<size_t>(std::min(count, puzzle::kTableSize)));
    puzzle::ForEachPieceCopy(count, lefts, tops, order,
                             [&](std::int32_t dx, std::int32_t dy, std::int32_t sx, std::int32_t sy) {
                                 copies.push_back({QRect(dx, dy, width, height), QRect(sx, sy, width, height)});
                             });
    Form1->Image3->Canvas().copyRects(copies, Form1->Image2->Picture());
    Form1->Image3->Changed();
}
