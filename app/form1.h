#pragma once
// The main window: its fixed layout, its menus, and the handlers bound to them.

#include "app/banner_label.h"
#include "app/board_look.h"
#include "app/menu_item.h"
#include "app/open_picture_dialog.h"
#include "app/picture_surface.h"
#include "app/timer.h"
#include "puzzle/game_fields.h"
#include "puzzle/rules.h"

#include <QLineEdit>
#include <QMainWindow>
#include <memory>
#include <optional>

class IdleWarmUp;

class TForm1 : public QMainWindow {
public:
    // The timers tick on `clock`.
    explicit TForm1(Clock& clock = SystemClock());
    ~TForm1() override;

    // Components, in layout order.
    TImage* Image1;  // board picture
    TImage* Image2;  // source picture
    TImage* Image3;  // work picture
    TImage* Image4;  // preview picture
    TLabel* Label1;
    TLabel* Label2;
    TLabel* Label3;
    TLabel* Label4;  // result banner
    QLineEdit* Edit1;  // exchange counter
    QLineEdit* Edit2;  // piece count
    QLineEdit* Edit3;  // time
    // The menu; one table in form1.cpp gives each item its place, caption, setting and handler.
    std::unique_ptr<TMenuItem> N1, N2, Exit1, N3, N4, N5, N41, N91, N161, N251, N361, N491, N641,
        N811, N6, N301, N451, N601, N901, N1201, N1801, N7;
    std::unique_ptr<TOpenPictureDialog> OpenPictureDialog1;
    TTimer* Timer1;
    TTimer* Timer2;

    // The game's fields.
    puzzle::GameFields Game;

    // Handlers.
    void FormCreate(QObject* sender);
    void N2Click(QObject* sender);
    void Exit1Click(QObject* sender);
    void N4Click(QObject* sender);
    void N41Click(QObject* sender);
    void N91Click(QObject* sender);
    void N161Click(QObject* sender);
    void N251Click(QObject* sender);
    void N361Click(QObject* sender);
    void N491Click(QObject* sender);
    void N641Click(QObject* sender);
    void N811Click(QObject* sender);
    void N301Click(QObject* sender);
    void N451Click(QObject* sender);
    void N601Click(QObject* sender);
    void N901Click(QObject* sender);
    void N1201Click(QObject* sender);
    void N1801Click(QObject* sender);
    void N7Click(QObject* sender);
    void Image1MouseDown(QObject* sender, puzzle::MouseButton button, int x, int y);
    void Timer1Timer(QObject* sender);
    void Timer2Timer(QObject* sender);

    // Outlines one cell on the board picture with the board's current pen.
    void DrawCellFrame(int cell);

    // What N4Click does once its dialog has returned: reads the chosen file (none when the
    // dialog was cancelled) into the source picture, copies it to the others and stops the
    // game. A failure to read leaves everything but PicturePath as it was.
    void TakePicture(const std::optional<QString>& fileName);

private:
    void CreateComponents(Clock& clock);
    void CreateMenus();  // builds, checks and binds every item of the menu table
    void BindEvents();
    // A settings item: chooses the value of its row in the menu table.
    void PieceCountClick(TMenuItem* item);
    void TimeLimitClick(TMenuItem* item);
    void FrameCell(int cell, std::uint32_t colour);
    void ShowBanner(const Banner& banner);

    IdleWarmUp* WarmUp = nullptr;  // readies the storage of a taken picture's first copies
};

// The one main window; set before its construction begins.
extern TForm1* Form1;

// Composes the work picture of Form1 from its source picture: cell i receives piece order[i].
void DrawPieces(std::int32_t count, std::int32_t width, std::int32_t height, puzzle::PieceTable lefts,
                puzzle::PieceTable tops, puzzle::PieceTable order);

// Creates the main window the way start-up does: Form1 is set first, the layout applied, then
// FormCreate runs.
TForm1* CreateMainWindow(Clock& clock = SystemClock());
