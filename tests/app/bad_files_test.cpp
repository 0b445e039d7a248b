// Bad files through the game's own load command: each gives its message (or, where the reader
// works around the damage, loads), and a failure leaves the picture and the running game
// exactly as they were.

#include "app/error_box.h"
#include "app/form1.h"
#include "pictures/failure.h"
#include "tests/support/bmp_file.h"
#include "tests/support/fake_clock.h"
#include "tests/support/jpeg_file.h"
#include "tests/support/jpeg_surgery.h"
#include "tests/support/memory.h"
#include "tests/support/modal.h"
#include "tests/support/test_file.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>


namespace {

using bmp_file::BmpFile;
using jpeg_surgery::First;
using jpeg_surgery::Segment;
using jpeg_surgery::Segments;
using pictures::kBitmapInvalid;

std::string JpegError(int code)
{
    return "JPEG エラー #" + std::to_string(code);
}

QByteArray Q(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

// ---------------------------------------------------------------------------------------------
// JPEG files made by cjpeg, and taken apart into their segments for surgery (jpeg_surgery.h).

QByteArray Cjpeg(const QTemporaryDir& dir, const QStringList& options, int width = 48, int height = 32)
{
    return Q(jpeg_file::Cjpeg(jpeg_file::Pnm(jpeg_file::Photo(width, height, 3), width, height, 3),
                              options.join(' ').toStdString(), dir.path().toStdString()));
}

// ---------------------------------------------------------------------------------------------
// The window with a game running, and everything a failed load must leave alone.

struct Before {
    pictures::Picture source, work, board, preview;  // share the pixels: a write would detach
    QImage sourcePixels, boardPixels, workPixels;
    puzzle::GameFields game;
    bool timer1 = false;
    bool timer2 = false;
};

class BadFiles : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        form.reset(CreateMainWindow(clock));
        form->N91->Action()->trigger();
        form->N2Click(nullptr);
        // A first piece chosen, so a half-made exchange is part of what must survive.
        form->Image1MouseDown(form->Image1, puzzle::MouseButton::Left, 10, 10);
        ASSERT_EQ(form->Game.Playing, 1);
        ASSERT_EQ(form->Game.Selecting, 1);
        ASSERT_EQ(form->Game.PieceCount, 9);
    }

    QString Write(const QString& name, const QByteArray& bytes) { return test_file::Write(dir.filePath(name), bytes); }

    Before Take() const
    {
        Before b;
        b.source = form->Image2->Picture();
        b.work = form->Image3->Picture();
        b.board = form->Image1->Picture();
        b.preview = form->Image4->Picture();
        b.sourcePixels = b.source.image().copy();
        b.workPixels = b.work.image().copy();
        b.boardPixels = b.board.image().copy();
        b.game = form->Game;
        b.timer1 = form->Timer1->Enabled();
        b.timer2 = form->Timer2->Enabled();
        return b;
    }

    // Everything as before, but the remembered file name.
    void ExpectUnchanged(const Before& b) const
    {
        const puzzle::GameFields& g = form->Game;
        EXPECT_EQ(form->Image2->Picture().storage(), b.source.storage());
        EXPECT_EQ(form->Image3->Picture().storage(), b.work.storage());
        EXPECT_EQ(form->Image1->Picture().storage(), b.board.storage());
        EXPECT_EQ(form->Image4->Picture().storage(), b.preview.storage());
        EXPECT_TRUE(form->Image2->Picture().image() == b.sourcePixels);
        EXPECT_TRUE(form->Image3->Picture().image() == b.workPixels);
        EXPECT_TRUE(form->Image1->Picture().image() == b.boardPixels);
        EXPECT_EQ(g.Playing, b.game.Playing);
        EXPECT_EQ(g.PieceOrder, b.game.PieceOrder);
        EXPECT_EQ(g.PieceLeft, b.game.PieceLeft);
        EXPECT_EQ(g.PieceTop, b.game.PieceTop);
        EXPECT_EQ(g.PieceCount, b.game.PieceCount);
        EXPECT_EQ(g.PieceWidth, b.game.PieceWidth);
        EXPECT_EQ(g.PieceHeight, b.game.PieceHeight);
        EXPECT_EQ(g.PictureWidth, b.game.PictureWidth);
        EXPECT_EQ(g.PictureHeight, b.game.PictureHeight);
        EXPECT_EQ(g.Selecting, b.game.Selecting);
        EXPECT_EQ(g.FirstCell, b.game.FirstCell);
        EXPECT_EQ(g.SwapCount, b.game.SwapCount);
        EXPECT_EQ(g.TimeLeft, b.game.TimeLeft);
        EXPECT_EQ(g.TimeLimit, b.game.TimeLimit);
        EXPECT_EQ(g.GridSide, b.game.GridSide);
        EXPECT_EQ(form->Timer1->Enabled(), b.timer1);
        EXPECT_EQ(form->Timer2->Enabled(), b.timer2);
    }

    // Runs the load command's step after its dialog on the file; the failure's message, or
    // nothing when it loaded.
    std::optional<std::string> Load(const QString& path)
    {
        try {
            form->TakePicture(path);
        } catch (const pictures::Failure& failure) {
            return std::string(failure.what());
        }
        return std::nullopt;
    }

    // The file fails with the message and changes nothing of the picture or the game.
    void ExpectRefused(const QString& path, const std::string& message)
    {
        const Before before = Take();
        const std::optional<std::string> got = Load(path);
        ASSERT_TRUE(got.has_value()) << "loaded";
        EXPECT_EQ(*got, message);
        ExpectUnchanged(before);
        EXPECT_EQ(form->Game.PicturePath, path.toStdString());
    }

    // The file loads: the board shows it unscrambled and the game stops.
    void ExpectLoads(const QString& path, int width, int height)
    {
        const std::optional<std::string> got = Load(path);
        ASSERT_FALSE(got.has_value()) << *got;
        const pictures::Picture& source = form->Image2->Picture();
        EXPECT_EQ(source.width(), width);
        EXPECT_EQ(source.height(), height);
        EXPECT_EQ(form->Image1->Picture().storage(), source.storage());
        EXPECT_EQ(form->Image4->Picture().storage(), source.storage());
        EXPECT_EQ(form->Game.Playing, 0);
        for (int k = 0; k < form->Game.PieceCount; ++k)
            EXPECT_EQ(form->Game.PieceOrder[k], k);
    }

    // A bad file, refused with its message or loaded at its size.
    struct Row {
        const char* name;
        QByteArray file;
        std::string message;  // empty: the file loads, at the size below
        int width = 0;
        int height = 0;
    };

    // Each row's file under the same name; after one that loads, a new game runs again, so
    // every row meets a running game.
    void ExpectRows(const QString& name, std::initializer_list<Row> rows)
    {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            const QString path = Write(name, row.file);
            if (!row.message.empty()) {
                ExpectRefused(path, row.message);
            } else {
                ExpectLoads(path, row.width, row.height);
                form->N2Click(nullptr);
                form->Image1MouseDown(form->Image1, puzzle::MouseButton::Left, 10, 10);
            }
        }
    }

    void ExpectCannotOpen(const QString& path) { ExpectRefused(path, "ファイル " + path.toStdString() + " は開けません"); }

    QTemporaryDir dir;
    // The game's clock stands still: a second passing while a dialog is open would change
    // the time left that a failure must leave as it was.
    FakeClock clock;
    std::unique_ptr<TForm1> form;
};

// ---------------------------------------------------------------------------------------------
// Bitmaps

BmpFile Good24()
{
    return bmp_file::Picture(5, 4, 24);
}

BmpFile Rle8(int width, int height, std::initializer_list<int> data)
{
    BmpFile f;
    f.width = width;
    f.height = height;
    f.bpp = 8;
    f.compression = 1;
    f.table = bmp_file::Table(256);
    for (int v : data)
        f.pixels.push_back(char(v));
    return f;
}

// The bitmap branch of the load, refusing and working around damage; which file gives which
// message or picture is the bitmap reader's tests' business.
TEST_F(BadFiles, Bitmaps)
{
    QByteArray wrongMagic = Q(Good24().build());
    wrongMagic[1] = 'A';
    ExpectRows(QStringLiteral("bad.bmp"), {
        {"wrong magic", wrongMagic, kBitmapInvalid},
        {"RLE ending early", Q(Rle8(5, 3, {0, 5, 7, 8}).build()), "", 5, 3},
    });
}

// ---------------------------------------------------------------------------------------------
// JPEG files

// The JPEG branch of the load, refusing and working around damage; which file gives which
// message or picture is the JPEG reader's tests' business.
TEST_F(BadFiles, JpegFiles)
{
    const QByteArray restarts = Cjpeg(dir, {QStringLiteral("-restart"), QStringLiteral("1B")}, 96, 64);

    // Restart markers out of order, one lost and one doubled.
    QByteArray restartMess = restarts;
    {
        const std::optional<Segment> scan = First(restarts, {0xDA});
        ASSERT_TRUE(scan);
        int seen = 0;
        for (qsizetype i = scan->start + 4; i + 1 < restartMess.size(); ++i) {
            const int next = uchar(restartMess[i + 1]);
            if (uchar(restartMess[i]) != 0xFF || next < 0xD0 || next > 0xD7)
                continue;
            ++seen;
            if (seen % 3 == 0)
                restartMess[i + 1] = char(0xD0 + (next - 0xD0 + 5) % 8);
            else if (seen % 5 == 0)
                restartMess.remove(i, 2);
            else if (seen % 7 == 0)
                restartMess.insert(i, QByteArray("\xFF\xD3", 2));
            ++i;
        }
        ASSERT_GT(seen, 10);
    }

    ExpectRows(QStringLiteral("bad.jpg"), {
        {"bitmap named .jpg", Q(Good24().build()), JpegError(52)},
        // Damage the decoder works around: the picture loads.
        {"restart-marker mess", restartMess, "", 96, 64},
    });
}

TEST_F(BadFiles, TheSameBadFileAThousandTimesKeepsNoMemory)
{
    // A progressive file whose last Huffman table is broken fails only after the decoder has
    // set up its whole-picture buffers.
    const QByteArray progressive = Cjpeg(dir, {QStringLiteral("-progressive")}, 160, 120);
    qsizetype lastDht = -1;
    for (const Segment& s : Segments(progressive))
        if (s.marker == 0xC4)
            lastDht = s.start;
    ASSERT_GT(lastDht, 0);
    QByteArray file = progressive;
    file[lastDht + 5] = char(0xFF);
    const QString path = Write(QStringLiteral("broken.jpg"), file);

    const Before before = Take();
    const std::string message = JpegError(28);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(Load(path), message);
    const long long start = test_memory::InUseBytes();
    ASSERT_GT(start, 0);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(Load(path), message);
    const long long grown = test_memory::InUseBytes() - start;
    EXPECT_LT(grown, 2LL << 20) << "bytes gained over 1000 failed loads";
    ExpectUnchanged(before);
}

// ---------------------------------------------------------------------------------------------
// Files that cannot be opened

TEST_F(BadFiles, FilesThatCannotBeOpened)
{
    ExpectCannotOpen(dir.filePath(QStringLiteral("nothere.bmp")));
    ExpectCannotOpen(dir.filePath(QStringLiteral("nothere.jpg")));
    for (const QString& name : {QStringLiteral("folder.bmp"), QStringLiteral("folder.jpg"), QStringLiteral("folder")}) {
        const QString folder = dir.filePath(name);
        ASSERT_TRUE(QDir().mkpath(folder));
        ExpectCannotOpen(folder);
    }
}

TEST_F(BadFiles, FileWithoutReadPermission)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    for (const QString& name : {QStringLiteral("locked.bmp"), QStringLiteral("locked.jpg")}) {
        const QString path = Write(name, Q(Good24().build()));
        ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0), 0);
        ExpectCannotOpen(path);
    }
}

// What the window saw each time it was asked to show itself anew: whether the busy cursor was
// up and the source still held the picture from before the load.
struct ShowSeen {
    bool busy;
    bool oldSource;
};

class ShowWatch : public QObject {
public:
    ShowWatch(TForm1* form, const pictures::Picture& before) : form_(form), before_(before)
    {
        form->windowHandle()->installEventFilter(this);
    }
    ~ShowWatch() override { form_->windowHandle()->removeEventFilter(this); }

    bool armed = false;
    std::vector<ShowSeen> seen;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (armed && event->type() == QEvent::Expose) {
            const QCursor* cursor = QGuiApplication::overrideCursor();
            seen.push_back({cursor && cursor->shape() == Qt::WaitCursor,
                            form_->Image2->Picture().storage() == before_.storage()});
        }
        return false;
    }

private:
    TForm1* form_;
    pictures::Picture before_;
};

// The command as the player runs it: once the dialog has closed, the window shows itself anew
// before the file is read, with the busy cursor up; the cursor is back when the picture is in, and
// before the error box shows when it is not.
TEST_F(BadFiles, TheMenuCommandShowsItIsWorkingAndTheMessageInTheErrorBox)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const struct {
        const char* name;
        QString path;
        std::string message;  // empty: the file loads
    } rows[] = {
        {"loads", Write(QStringLiteral("cat.bmp"), Q(bmp_file::Picture(64, 48, 24).build())), ""},
        {"fails", Write(QStringLiteral("CAT.BMP"), Q(Good24().build())), JpegError(52) + "."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Before before = Take();
        ShowWatch watch(form.get(), before.source);
        QString shown;
        bool busyAtBox = true;
        // The player types the file's name into the dialog; the error box follows a failure.
        modal::WhenOpen<QFileDialog>([&](QFileDialog* dialog) {
            modal::TypeAndConfirm(dialog, row.path);
            watch.armed = true;
            if (row.message.empty())
                return;
            modal::WhenOpen<QMessageBox>([&](QMessageBox* box) {
                shown = box->text();
                busyAtBox = QGuiApplication::overrideCursor() != nullptr;
                box->accept();
            });
        });
        form->N4->Action()->trigger();
        EXPECT_TRUE(std::any_of(watch.seen.begin(), watch.seen.end(),
                                [](const ShowSeen& p) { return p.busy && p.oldSource; }))
            << "not shown anew with the busy cursor before the file was read";
        EXPECT_TRUE(std::none_of(watch.seen.begin(), watch.seen.end(),
                                 [](const ShowSeen& p) { return p.busy && !p.oldSource; }));
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        if (row.message.empty()) {
            EXPECT_EQ(form->Image2->Picture().width(), 64);
            EXPECT_EQ(form->Game.Playing, 0);
            form->N2Click(nullptr);
            form->Image1MouseDown(form->Image1, puzzle::MouseButton::Left, 10, 10);
        } else {
            EXPECT_EQ(shown, QString::fromStdString(row.message));
            EXPECT_FALSE(busyAtBox);
            ExpectUnchanged(before);
        }
    }
}

}  // namespace
