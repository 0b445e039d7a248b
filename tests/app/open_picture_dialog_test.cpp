#include "app/open_picture_dialog.h"
#include "app/picture_pane.h"

#include "pictures/loading.h"
#include "tests/support/bmp_file.h"
#include "tests/support/memory.h"
#include "tests/support/modal.h"
#include "tests/support/test_file.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeView>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <gtest/gtest.h>

using picture_dialog::PictureState;

namespace {

const QString kDefaultFilter =
    QStringLiteral("ビットマップ (*.bmp)|*.bmp|JPEG|*.jpg;*.jpeg|JPEG・BMP|*.bmp;*.jpeg;*.jpg");

void WriteImage(const QString& path, int width, int height, QColor colour, const char* format)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, format)) << path.toStdString();
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Where two pictures of one size differ: empty when they do not.
std::string Difference(const QImage& shown, const QImage& expected)
{
    int count = 0;
    QPoint first;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (shown.pixel(x, y) != expected.pixel(x, y) && count++ == 0)
                first = QPoint(x, y);
    if (count == 0)
        return {};
    return std::to_string(count) + " pixels differ, first at (" + std::to_string(first.x()) + ", " +
           std::to_string(first.y()) + "): " + QColor(shown.pixel(first)).name().toStdString() + " instead of " +
           QColor(expected.pixel(first)).name().toStdString();
}

// What the pane shows: the label above the picture, the preview button, the picture area's text.
QString Caption(const QWidget* pane)
{
    return pane->findChild<QLabel*>()->text();
}
QToolButton* PreviewButton(const QWidget* pane)
{
    return pane->findChild<QToolButton*>();
}
bool PreviewEnabled(const QWidget* pane)
{
    return PreviewButton(pane)->isEnabled();
}
QString PictureText(const QWidget* pane)
{
    return pane->findChild<picture_dialog::PictureView*>()->ShownText();
}

QComboBox* FileTypeBox(QFileDialog* dialog)
{
    return dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
}

// The names the dialog's file list holds for its current folder, once it has filled in.
QSet<QString> ListedNames(QFileDialog* dialog, const QSet<QString>& expected)
{
    auto* model = dialog->findChild<QFileSystemModel*>();
    if (!model)
        return {};
    QSet<QString> names;
    (void)QTest::qWaitFor(
        [&] {
            const QModelIndex root = model->index(dialog->directory().absolutePath());
            names.clear();
            for (int row = 0; row < model->rowCount(root); ++row)
                names.insert(model->index(row, 0, root).data().toString());
            return names == expected;
        },
        5000);
    return names;
}

// Clicks a file in the dialog's list, as the player would, then gives the name box the focus.
void ClickFile(QFileDialog* dialog, const QString& path)
{
    auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_TRUE(tree && model);
    const QRect row = tree->visualRect(model->index(path));
    ASSERT_TRUE(row.isValid()) << path.toStdString();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, row.center());
    modal::Activate(dialog);
    modal::FileNameEdit(dialog)->setFocus();
    modal::FileNameEdit(dialog)->selectAll();
}

}  // namespace

TEST(OpenPictureFilter, SplitsDescriptionsAndPatterns)
{
    const auto types = picture_dialog::ParseFilter(kDefaultFilter);
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[0].description, QStringLiteral("ビットマップ (*.bmp)"));
    EXPECT_EQ(types[0].patterns, QStringList({"*.bmp"}));
    EXPECT_EQ(types[1].description, QStringLiteral("JPEG"));
    EXPECT_EQ(types[1].patterns, QStringList({"*.jpg", "*.jpeg"}));
    EXPECT_EQ(types[2].description, QStringLiteral("JPEG・BMP"));
    EXPECT_EQ(types[2].patterns, QStringList({"*.bmp", "*.jpeg", "*.jpg"}));

    // A trailing description without patterns names no files and is dropped.
    EXPECT_EQ(picture_dialog::ParseFilter(QStringLiteral("A|*.a|B")).size(), 1u);
    EXPECT_TRUE(picture_dialog::ParseFilter(QString()).empty());
}

TEST(OpenPictureFilter, QtFiltersCarryThePatternsInTheLastParentheses)
{
    EXPECT_EQ(picture_dialog::QtNameFilters(kDefaultFilter),
              QStringList({QStringLiteral("ビットマップ (*.bmp) (*.bmp)"), QStringLiteral("JPEG (*.jpg *.jpeg)"),
                           QStringLiteral("JPEG・BMP (*.bmp *.jpeg *.jpg)")}));
}

TEST(PictureFit, KeepsProportionsAndCentres)
{
    struct Row {
        const char* name;
        QSize picture;
        QRect area;
        QRect expected;
    };
    const Row rows[] = {
        {"wide picture in a square", {100, 50}, {0, 0, 200, 200}, {0, 50, 200, 100}},
        {"tall picture in a square", {50, 100}, {0, 0, 200, 200}, {50, 0, 100, 200}},
        {"small picture is enlarged", {10, 10}, {0, 0, 40, 20}, {10, 0, 20, 20}},
        {"offset area", {480, 360}, {5, 5, 100, 100}, {5, 17, 100, 75}},
        {"very thin picture keeps one pixel", {10000, 1}, {0, 0, 100, 100}, {0, 49, 100, 1}},
        {"very narrow picture keeps one pixel", {1, 10000}, {0, 0, 100, 100}, {49, 0, 1, 100}},
        {"height rounded to the nearest pixel (39.6)", {5, 2}, {0, 0, 99, 99}, {0, 29, 99, 40}},
        {"width rounded to the nearest pixel (39.6)", {2, 5}, {0, 0, 99, 99}, {29, 0, 40, 99}},
        {"empty picture", {0, 0}, {0, 0, 100, 100}, {}},
        {"empty area", {10, 10}, {0, 0, 0, 0}, {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(picture_dialog::FitCentred(row.picture, row.area), row.expected) << row.name;
}

TEST(PreviewWindowSize, PictureWithMarginCappedAtThreeQuartersOfTheScreen)
{
    struct Row {
        const char* name;
        QSize picture;
        QSize available;
        QSize expected;
    };
    const Row rows[] = {
        {"small picture", {40, 30}, {1920, 1040}, {50, 40}},
        {"huge picture", {6000, 4000}, {1920, 1040}, {1440, 780}},
        {"wide picture: only the width capped", {3000, 100}, {1920, 1040}, {1440, 110}},
        {"exactly at the cap", {1430, 770}, {1920, 1040}, {1440, 780}},
        {"odd screen rounds down", {5000, 5000}, {1366, 705}, {1024, 528}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(picture_dialog::PreviewClientSize(row.picture, row.available), row.expected) << row.name;
}

// The pane knows JPEG names only once start-up has registered them: registered for a test's
// length unless they already are.
class JpegFormats {
public:
    JpegFormats() : registeredHere_(!pictures::FindPictureFormat("jpg"))
    {
        if (registeredHere_)
            pictures::RegisterJpegFormats();
    }
    ~JpegFormats()
    {
        if (registeredHere_)
            pictures::UnregisterJpegFormats();
    }

private:
    bool registeredHere_;
};

class PicturePaneTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString Path(const QString& name) const { return dir_.filePath(name); }

    JpegFormats formats_;
    QTemporaryDir dir_;
};

// The extensions the program knows are listed three times: in the picture-format registry, in
// the dialog's filter, and in the game's extension rule. The dialog lists exactly the
// registered extensions of the kinds the game reads, and the game reads each listed name with
// the reader its registry entry names.
TEST(OpenPictureFilter, ListsWhatTheRegistryAndTheGameRead)
{
    JpegFormats formats;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string bitmap = bmp_file::Picture(3, 2, 24).build();
    QImage photo(5, 4, QImage::Format_RGB888);
    photo.fill(Qt::red);
    ASSERT_TRUE(photo.save(dir.filePath("sample.jpg"), "JPEG"));
    const QByteArray jpeg = ReadBytes(dir.filePath("sample.jpg"));
    const std::map<pictures::PictureKind, QByteArray> samples = {
        {pictures::PictureKind::Bitmap, QByteArray(bitmap.data(), qsizetype(bitmap.size()))},
        {pictures::PictureKind::Jpeg, jpeg},
    };

    const auto types = picture_dialog::ParseFilter(TOpenPictureDialog(nullptr).Filter);
    ASSERT_FALSE(types.empty());
    QStringList everyPattern;
    for (const auto& type : types) {
        for (const QString& pattern : type.patterns) {
            SCOPED_TRACE(pattern.toStdString());
            everyPattern += pattern;
            ASSERT_TRUE(pattern.startsWith("*."));
            const pictures::PictureFormat* format = pictures::FindPictureFormat(pattern.mid(1).toStdString());
            ASSERT_NE(format, nullptr) << "listed but not registered";
            ASSERT_TRUE(samples.count(format->kind)) << "listed, but the game has no reader for its kind";
            const QString name = test_file::Write(dir.filePath("x" + pattern.mid(1)), samples.at(format->kind));
            EXPECT_NO_THROW(pictures::LoadPictureFile(name)) << "the game reads it with another reader";
        }
    }
    // The last type lists them all.
    EXPECT_EQ(QSet<QString>(types.back().patterns.begin(), types.back().patterns.end()),
              QSet<QString>(everyPattern.begin(), everyPattern.end()));
    for (const pictures::PictureFormat& format : pictures::PictureFormats()) {
        EXPECT_EQ(types.back().patterns.contains(QString::fromStdString("*." + format.extension)),
                  samples.count(format.kind) == 1)
            << format.extension;
    }
}

TEST_F(PicturePaneTest, ShowsWhatTheGameWouldLoad)
{
    WriteImage(Path("cat.bmp"), 40, 30, Qt::red, "BMP");
    WriteImage(Path("CAT.BMP"), 41, 31, Qt::red, "BMP");
    WriteImage(Path("photo.jpg"), 64, 48, Qt::green, "JPEG");
    WriteImage(Path("photo.JPEG"), 65, 49, Qt::green, "JPEG");
    WriteImage(Path("icon.ico"), 32, 32, Qt::blue, "ICO");
    WriteImage(Path("png.png"), 20, 20, Qt::red, "PNG");
    WriteImage(Path("bitmap-named.jpg"), 20, 20, Qt::red, "BMP");
    WriteImage(Path("noext"), 20, 20, Qt::red, "BMP");
    test_file::Write(Path("drawing.wmf"), QByteArray("\xD7\xCD\xC6\x9A", 4) + QByteArray(40, '\0'));
    test_file::Write(Path("garbage.bmp"), QByteArray(200, 'x'));
    test_file::Write(Path("empty.bmp"), QByteArray());
    // Cut off right after its headers: the game loads it, the missing rows black.
    test_file::Write(Path("headers-only.bmp"), ReadBytes(Path("cat.bmp")).left(54));
    // Run-length data stored top-down, which the game refuses.
    bmp_file::BasicBmpFile<QByteArray> rle;
    rle.width = 2;
    rle.height = -2;
    rle.bpp = 8;
    rle.compression = 1;
    rle.table = bmp_file::Table(256);
    rle.pixels = QByteArray("\x02\x01\x00\x00\x02\x01\x00\x01", 8);
    test_file::Write(Path("rle-topdown.bmp"), rle.build());
    // A JPEG header claiming 16000 x 12000 in a few hundred bytes: the size is known, the game
    // refuses the pixels.
    QByteArray claim = ReadBytes(Path("photo.jpg"));
    const qsizetype sof = claim.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    claim[sof + 5] = char(12000 >> 8);
    claim[sof + 6] = char(12000 & 0xFF);
    claim[sof + 7] = char(16000 >> 8);
    claim[sof + 8] = char(16000 & 0xFF);
    test_file::Write(Path("claim.jpg"), claim);
    QDir(dir_.path()).mkdir("folder.bmp");

    struct Row {
        const char* file;
        QString caption;
        QString text;  // empty: the picture shows
    };
    const QString none = QStringLiteral("画像:");
    const QString noPicture = QStringLiteral("(なし)");
    const Row rows[] = {
        {"cat.bmp", QStringLiteral(" (40x30)"), QString()},
        {"CAT.BMP", QStringLiteral(" (41x31)"), QString()},
        {"photo.jpg", QStringLiteral(" (64x48)"), QString()},
        {"photo.JPEG", QStringLiteral(" (65x49)"), QString()},
        {"icon.ico", QStringLiteral(" (32x32)"), QString()},
        {"headers-only.bmp", QStringLiteral(" (40x30)"), QString()},
        {"claim.jpg", QStringLiteral(" (16000x12000)"), QStringLiteral("画像が不正です")},
        {"rle-topdown.bmp", none, noPicture},
        {"png.png", none, noPicture},
        {"bitmap-named.jpg", none, noPicture},
        {"noext", none, noPicture},
        {"drawing.wmf", none, noPicture},
        {"garbage.bmp", none, noPicture},
        {"empty.bmp", none, noPicture},
        {"missing.bmp", none, noPicture},
        {"folder.bmp", none, noPicture},
    };

    picture_dialog::PicturePane pane;
    // A new pane names no file: the dialog may open on none.
    EXPECT_EQ(Caption(&pane), none);
    EXPECT_FALSE(PreviewEnabled(&pane));
    for (const Row& row : rows) {
        // Start from a shown picture each time, so a row that shows nothing must clear it.
        pane.ShowFile(Path("cat.bmp"));
        pane.ShowFile(Path(row.file));
        EXPECT_EQ(Caption(&pane), row.caption) << row.file;
        EXPECT_EQ(PreviewEnabled(&pane), row.caption != none) << row.file;
        EXPECT_EQ(PictureText(&pane), row.text.isEmpty() ? QString() : row.text) << row.file;
    }

    pane.ShowFile(QString());
    EXPECT_EQ(Caption(&pane), none);
    EXPECT_FALSE(PreviewEnabled(&pane));
    EXPECT_EQ(PictureText(&pane), noPicture);
    EXPECT_EQ(PreviewButton(&pane)->toolTip(), QStringLiteral("プレビュー"));
    // The caption with the button at its right, the picture below both.
    pane.resize(220, 300);
    pane.layout()->activate();
    const QRect caption = pane.findChild<QLabel*>()->geometry(), button = PreviewButton(&pane)->geometry();
    EXPECT_GT(button.left(), caption.right());
    const QRect view = pane.findChild<picture_dialog::PictureView*>()->geometry();
    EXPECT_GT(view.top(), std::max(caption.bottom(), button.bottom()));
    // Edge to edge: the dialog's own spacing sets the pane apart.
    EXPECT_EQ(QRect(QPoint(view.left(), std::min(caption.top(), button.top())), view.bottomRight()), pane.rect());
    // Squeezed, it keeps room for a picture 64 pixels high, and 180 pixels of width.
    pane.resize(1, 1);
    pane.layout()->invalidate();
    pane.layout()->activate();
    EXPECT_EQ(pane.findChild<picture_dialog::PictureView*>()->height(), 64);
    EXPECT_EQ(pane.width(), 180);
}

TEST_F(PicturePaneTest, PicturesAreKeptOnlyAsLargeAsTheyAreShown)
{
    WriteImage(Path("photo.jpg"), 1600, 1200, Qt::green, "JPEG");
    WriteImage(Path("photo.bmp"), 1600, 1200, Qt::green, "BMP");
    WriteImage(Path("tall.jpg"), 1200, 1600, Qt::green, "JPEG");
    struct Row {
        const char* file;
        QSize cover;
        QSize kept;
    };
    const Row rows[] = {
        {"photo.jpg", {200, 150}, {200, 150}},   // 1/8
        {"photo.jpg", {200, 200}, {200, 150}},   // the width is the side it meets
        {"photo.jpg", {201, 151}, {400, 300}},   // 1/8 would fall a pixel short
        {"tall.jpg", {400, 201}, {300, 400}},    // upright in a wide area: the heights meet
        {"photo.jpg", {1000, 700}, {1000, 750}}, // 5/8
        {"photo.jpg", {3000, 3000}, {1600, 1200}},
        {"photo.bmp", {200, 150}, {400, 300}},   // read whole, then sampled to twice the size shown
        {"photo.bmp", {1000, 1000}, {1600, 1200}},
    };
    for (const Row& row : rows) {
        const picture_dialog::PaneLoad load = picture_dialog::LoadPaneFile(Path(row.file), row.cover);
        EXPECT_EQ(load.state, PictureState::Shown) << row.file;
        EXPECT_EQ(load.size, row.file == std::string("tall.jpg") ? QSize(1200, 1600) : QSize(1600, 1200)) << row.file;
        EXPECT_EQ(load.image.size(), row.kept) << row.file << " for " << row.cover.width() << "x"
                                                  << row.cover.height();
    }
}

// While the player looks at a camera-sized photo in the pane, the storage its load will make
// is written between events, so the load finds pages in use.
TEST_F(PicturePaneTest, APhotoShownHasTheStorageOfItsLoadReadied)
{
    WriteImage(Path("photo.jpg"), 3004, 1000, Qt::green, "JPEG");  // 9 MB of pixels
    picture_dialog::PicturePane pane;
    pane.ShowFile(Path("photo.jpg"));
    EXPECT_TRUE(pictures::WarmStorage(0));
    for (int i = 0; i < 1000 && pictures::WarmStorage(0); ++i)
        QCoreApplication::processEvents();
    const QImage load = pictures::NewImage(3004, 1000, QImage::Format_BGR888);  // as a colour photo loads
    EXPECT_EQ(test_memory::PagesNotInUse(load.constBits(), std::size_t(load.sizeInBytes())), 0);
    // The load's alone: browsing keeps no more than one picture's storage.
    const QImage more = pictures::NewImage(3004, 1000, QImage::Format_BGR888);
    EXPECT_GT(test_memory::PagesNotInUse(more.constBits(), std::size_t(more.sizeInBytes())), 0);
}

TEST_F(PicturePaneTest, JpegNamesShowNothingWhileUnregistered)
{
    WriteImage(Path("photo.jpg"), 64, 48, Qt::green, "JPEG");
    pictures::UnregisterJpegFormats();
    picture_dialog::PicturePane pane;
    pane.ShowFile(Path("photo.jpg"));
    EXPECT_EQ(Caption(&pane), QStringLiteral("画像:"));
    EXPECT_EQ(PictureText(&pane), QStringLiteral("(なし)"));
    pictures::RegisterJpegFormats();
    pane.ShowFile(Path("photo.jpg"));
    EXPECT_EQ(Caption(&pane), QStringLiteral(" (64x48)"));
}

TEST(PictureViewPaint, DrawsThePictureFittedAndCentredOrTheText)
{
    QImage red(100, 100, QImage::Format_RGB32);
    red.fill(Qt::red);
    picture_dialog::PictureView view;
    view.setFrameStyle(QFrame::NoFrame);
    view.resize(200, 100);
    view.SetPicture(PictureState::Shown, red);
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(100, 50)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(51, 1)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(148, 98)), QColor(Qt::red));
    // The bands beside the square picture stay window-coloured.
    const QColor window = view.palette().color(QPalette::Window);
    EXPECT_EQ(QColor(shot.pixel(10, 50)), window);
    EXPECT_EQ(QColor(shot.pixel(190, 50)), window);
    // The pane's sunken frame is drawn around it.
    view.setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    EXPECT_NE(QColor(view.grab().toImage().pixel(0, 50)), window);
    view.setFrameStyle(QFrame::NoFrame);

    // Without a picture the text alone is drawn, centred, and the old picture is gone.
    struct Row {
        PictureState state;
        QString text;
    };
    for (const Row& row : {Row{PictureState::None, QStringLiteral("(なし)")},
                           Row{PictureState::Invalid, QStringLiteral("画像が不正です")}}) {
        view.SetPicture(PictureState::Shown, red);
        view.SetPicture(row.state, red);
        EXPECT_EQ(view.ShownText(), row.text);
        QImage expected(view.size(), QImage::Format_RGB32);
        expected.fill(window);
        QPainter painter(&expected);
        painter.setFont(view.font());
        painter.setPen(view.palette().color(view.foregroundRole()));
        painter.drawText(expected.rect(), Qt::AlignCenter, row.text);
        painter.end();
        EXPECT_EQ(view.grab().toImage().convertToFormat(QImage::Format_RGB32), expected) << row.text.toStdString();
    }
}

TEST_F(PicturePaneTest, PreviewButtonOpensAModalPreviewThatEscapeCloses)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();

    struct Row {
        const char* name;
        QSize picture;
        int enlarged;  // the window made this many times as large as it opens, then checked again
    };
    const Row rows[] = {
        {"small picture", {40, 30}, 3},
        // Sampled down as it is read: enlarging it would show the sample's proportions.
        {"picture wider than the screen", {available.width() * 2, 20}, 1},
    };
    for (const Row& row : rows) {
        WriteImage(Path("p.bmp"), row.picture.width(), row.picture.height(), Qt::red, "BMP");
        picture_dialog::PicturePane pane;
        pane.ShowFile(Path("p.bmp"));
        ASSERT_TRUE(PreviewEnabled(&pane)) << row.name;

        bool opened = false;
        modal::WhenOpen<picture_dialog::PicturePreviewWindow>([&](picture_dialog::PicturePreviewWindow* window) {
            opened = true;
            EXPECT_EQ(window->windowTitle(), QStringLiteral("プレビュー")) << row.name;
            EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool)) << row.name;
            EXPECT_EQ(window->size(), picture_dialog::PreviewClientSize(row.picture, available.size())) << row.name;
            EXPECT_LE(window->width(), available.width() * 3 / 4) << row.name;
            // QRect::center() rounds down, so the centres may differ by a pixel.
            const QPoint offset = window->geometry().center() - available.center();
            EXPECT_LE(std::abs(offset.x()), 1) << row.name;
            EXPECT_LE(std::abs(offset.y()), 1) << row.name;
            EXPECT_EQ(window->findChild<picture_dialog::PictureView*>()->ShownText(), QString()) << row.name;
            // The picture fitted and centred 5 pixels inside the window, on the window colour
            // (white like the edit boxes, not button-face grey), at the opening size and enlarged.
            const QColor base = window->palette().color(QPalette::Base);
            EXPECT_NE(base, window->palette().color(QPalette::Button)) << row.name;
            for (const QSize size : {window->size(), window->size() * row.enlarged}) {
                window->resize(size);
                QImage expected(size, QImage::Format_RGB32);
                expected.fill(base);
                QPainter(&expected).fillRect(picture_dialog::FitCentred(row.picture, expected.rect().adjusted(5, 5, -5, -5)), Qt::red);
                EXPECT_EQ(Difference(window->grab().toImage(), expected), "")
                    << row.name << " at " << size.width() << " x " << size.height();
            }
            QTest::keyClick(window, Qt::Key_Escape);
        });
        PreviewButton(&pane)->click();
        EXPECT_TRUE(opened) << row.name;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << row.name;
    }
}

class OpenPictureDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        saved_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
        ASSERT_TRUE(QDir(dir_.path()).mkdir("pic"));
        WriteImage(Pic("a.bmp"), 40, 30, Qt::red, "BMP");
        WriteImage(Pic("B.BMP"), 40, 30, Qt::red, "BMP");
        WriteImage(Pic("c.jpg"), 40, 30, Qt::red, "JPEG");
        WriteImage(Pic("d.jpeg"), 40, 30, Qt::red, "JPEG");
        WriteImage(Pic("e.png"), 40, 30, Qt::red, "PNG");
    }
    void TearDown() override { QDir::setCurrent(saved_); }
    QString Pic(const QString& name) const { return QDir(dir_.filePath("pic")).absoluteFilePath(name); }

    JpegFormats formats_;
    QTemporaryDir dir_;
    QString saved_;
};

TEST_F(OpenPictureDialogTest, ListsTheDescriptionsAndFiltersByThePatterns)
{
    TOpenPictureDialog dialog(nullptr);
    bool opened = false;
    modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) {
        opened = true;
        // The game's own dialog, with its pane, whatever file chooser the desktop offers.
        EXPECT_TRUE(fd->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(QDir(fd->directory()).absolutePath(), QDir(dir_.filePath("pic")).absolutePath());
        QComboBox* types = FileTypeBox(fd);
        ASSERT_NE(types, nullptr);
        ASSERT_EQ(types->count(), 3);
        EXPECT_EQ(types->itemText(0), QStringLiteral("ビットマップ (*.bmp)"));
        EXPECT_EQ(types->itemText(1), QStringLiteral("JPEG"));
        EXPECT_EQ(types->itemText(2), QStringLiteral("JPEG・BMP"));
        EXPECT_EQ(types->currentIndex(), 2);

        const QSet<QString> all = {"a.bmp", "B.BMP", "c.jpg", "d.jpeg"};
        EXPECT_EQ(ListedNames(fd, all), all);
        const QStringList filters = fd->nameFilters();
        ASSERT_EQ(filters.size(), 3);
        fd->selectNameFilter(filters[0]);
        const QSet<QString> bitmaps = {"a.bmp", "B.BMP"};
        EXPECT_EQ(ListedNames(fd, bitmaps), bitmaps);
        fd->selectNameFilter(filters[1]);
        const QSet<QString> jpegs = {"c.jpg", "d.jpeg"};
        EXPECT_EQ(ListedNames(fd, jpegs), jpegs);

        // The pane sits in the dialog and shows what the name box names, also a file the type
        // hides, starting each time from a file clicked in the list.
        auto* pane = fd->findChild<picture_dialog::PicturePane*>();
        ASSERT_NE(pane, nullptr);
        EXPECT_EQ(Caption(pane), QStringLiteral("画像:"));
        WriteImage(Pic("hidden.bmp"), 24, 18, Qt::red, "BMP");
        struct Row {
            QString typed, caption;
        };
        const QString none = QStringLiteral("画像:");
        for (const Row& row : {Row{QStringLiteral("hidden.bmp"), QStringLiteral(" (24x18)")},
                               Row{QStringLiteral("nothere.jpg"), none}, Row{QStringLiteral("c.jp"), none},
                               Row{QStringLiteral("e.png"), none}, Row{QStringLiteral("d.jpeg"), QStringLiteral(" (40x30)")}}) {
            ClickFile(fd, Pic("c.jpg"));
            EXPECT_EQ(modal::FileNameEdit(fd)->text(), QStringLiteral("c.jpg"));
            EXPECT_EQ(Caption(pane), QStringLiteral(" (40x30)"));
            // The name box names the clicked file: the list keeps it selected.
            const QModelIndexList selected = fd->findChild<QTreeView*>(QStringLiteral("treeView"))->selectionModel()->selectedRows();
            EXPECT_TRUE(selected.size() == 1 && selected.first().data(QFileSystemModel::FilePathRole) == Pic("c.jpg"));
            QTest::keyClicks(modal::FileNameEdit(fd), row.typed);
            EXPECT_EQ(Caption(pane), row.caption) << row.typed.toStdString();
            EXPECT_EQ(PictureText(pane), row.caption == none ? QStringLiteral("(なし)") : QString()) << row.typed.toStdString();
        }

        // A wildcard confirmed in the name box filters the list instead of naming a file, in the
        // folder it names if any; a type chosen afterwards filters by its own patterns again.
        WriteImage(dir_.filePath("outside.jpg"), 20, 10, Qt::red, "JPEG");
        const QSet<QString> everything = {"a.bmp", "B.BMP", "c.jpg", "d.jpeg", "e.png", "hidden.bmp"};
        const QSet<QString> anyBitmap = {"a.bmp", "B.BMP", "hidden.bmp"};
        for (const auto& [typed, listed] : {std::pair{QStringLiteral("*"), everything},
                                            std::pair{QStringLiteral("*.bmp"), anyBitmap},
                                            std::pair{QStringLiteral("?.jp*;e.*"), QSet<QString>{"c.jpg", "d.jpeg", "e.png"}},
                                            std::pair{dir_.filePath("*.jpg"), QSet<QString>{"pic", "outside.jpg"}},
                                            std::pair{QStringLiteral("pic/*.bmp"), anyBitmap}}) {
            modal::TypeAndConfirm(fd, typed);
            ASSERT_TRUE(fd->isVisible()) << typed.toStdString();
            EXPECT_EQ(ListedNames(fd, listed), listed) << typed.toStdString();
        }
        fd->selectNameFilter(filters[1]);
        EXPECT_EQ(ListedNames(fd, jpegs), jpegs);
        fd->reject();
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(opened);
    // A cancel changes nothing, not even the file type chosen meanwhile.
    EXPECT_EQ(dialog.FileName, QString());
    EXPECT_EQ(dialog.FilterIndex, 3);
}

TEST_F(OpenPictureDialogTest, SizeTypeAndDateReadWholeAtTheOpeningSize)
{
    // The toolkit's own texts in Japanese, as the program loads them at start-up.
    QTranslator japanese;
    ASSERT_TRUE(japanese.load(QStringLiteral("qt_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    const QLocale saved;
    for (const QLocale& locale : {QLocale(QLocale::Japanese, QLocale::Japan), QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::German, QLocale::Germany)}) {
        QLocale::setDefault(locale);
        const bool inJapanese = locale.language() == QLocale::Japanese;
        if (inJapanese)
            QApplication::installTranslator(&japanese);
        TOpenPictureDialog dialog(nullptr);
        modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) {
            const QSet<QString> all = {"a.bmp", "B.BMP", "c.jpg", "d.jpeg"};
            EXPECT_EQ(ListedNames(fd, all), all);
            auto* tree = fd->findChild<QTreeView*>(QStringLiteral("treeView"));
            ASSERT_NE(tree, nullptr);
            const QHeaderView* header = tree->header();
            // The width the column's heading and longest text ask for.
            const auto wanted = [&](int column) {
                QStyleOptionViewItem option;
                option.initFrom(tree);
                int width = header->sectionSizeHint(column);
                const QModelIndex root = tree->rootIndex();
                for (int row = 0; row < tree->model()->rowCount(root); ++row) {
                    const QModelIndex index = tree->model()->index(row, column, root);
                    width = std::max(width, tree->itemDelegateForIndex(index)->sizeHint(option, index).width());
                }
                return width;
            };
            // Each column as wide as its texts (filled in as the files are examined) and inside
            // the list without scrolling.
            const auto whole = [&](int column) {
                return header->sectionSize(column) >= wanted(column) &&
                       header->sectionViewportPosition(column) + header->sectionSize(column) <= tree->viewport()->width();
            };
            for (int column = 1; column <= 3; ++column) {
                EXPECT_TRUE(QTest::qWaitFor([&] { return whole(column); }, 5000))
                    << locale.name().toStdString() << " column " << column << ": " << header->sectionSize(column)
                    << " px for " << wanted(column) << " at " << header->sectionViewportPosition(column) << " in "
                    << tree->viewport()->width();
            }
            // A wider dialog gives its room to the names.
            const int narrower = header->sectionSize(0);
            fd->resize(fd->width() + 100, fd->height());
            EXPECT_TRUE(QTest::qWaitFor([&] { return header->sectionSize(0) > narrower; }, 5000))
                << locale.name().toStdString() << ": names " << narrower << " px";
            EXPECT_EQ(header->length(), tree->viewport()->width()) << locale.name().toStdString();
            // The player may still drag the type and date columns wider, and they stay so; the
            // list then scrolls sideways and the names keep their width.
            QWidget* handles = header->viewport();
            const auto drag = [&](int column, int by) {
                const QPoint edge(header->sectionViewportPosition(column) + header->sectionSize(column) - 1,
                                  header->height() / 2);
                QTest::mousePress(handles, Qt::LeftButton, {}, edge);
                QTest::mouseMove(handles, edge + QPoint(by, 0));
                QTest::mouseRelease(handles, Qt::LeftButton, {}, edge + QPoint(by, 0));
                if (by > 0)  // the list changes
                    fd->setNameFilter(QString::fromLatin1(fd->nameFilters() == QStringList{"*.jpg"} ? "*.bmp" : "*.jpg"));
                for (int round = 0; round < 3; ++round)
                    QCoreApplication::processEvents();
            };
            // The names dragged wider are not the player's widths: the list changing fits them again.
            drag(0, 40);
            EXPECT_EQ(header->length(), tree->viewport()->width()) << locale.name().toStdString();
            const int names = header->sectionSize(0);
            EXPECT_GE(names, wanted(0)) << locale.name().toStdString();
            for (int column : {2, 3}) {
                const int before = header->sectionSize(column);
                drag(column, 40);  // and no fitting after it
                EXPECT_EQ(header->sectionSize(column), before + 40) << locale.name().toStdString() << " column " << column;
                EXPECT_EQ(header->sectionSize(0), names) << locale.name().toStdString() << " column " << column;
                EXPECT_TRUE(tree->horizontalScrollBar()->isVisible()) << locale.name().toStdString() << " column " << column;
            }
            // Dragged narrower than it was, a column leaves its room to the names.
            drag(3, -120);
            EXPECT_EQ(header->length(), tree->viewport()->width()) << locale.name().toStdString();
            fd->reject();
        });
        EXPECT_FALSE(dialog.Execute());
        if (inJapanese)
            QApplication::removeTranslator(&japanese);
    }
    QLocale::setDefault(saved);
}

TEST_F(OpenPictureDialogTest, RemembersTheConfirmedFileAndTypeButNotACancelledOne)
{
    TOpenPictureDialog dialog(nullptr);
    modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) {
        fd->selectNameFilter(fd->nameFilters().at(0));
        modal::TypeAndConfirm(fd, QStringLiteral("a.bmp"));
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, Pic("a.bmp"));
    EXPECT_EQ(dialog.FilterIndex, 1);

    // Reopening starts on that file and type; this time the player picks another type and
    // cancels.
    bool reopened = false;
    modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) {
        reopened = true;
        EXPECT_EQ(QDir(fd->directory()).absolutePath(), QDir(dir_.filePath("pic")).absolutePath());
        EXPECT_EQ(modal::FileNameEdit(fd)->text(), QStringLiteral("a.bmp"));
        EXPECT_EQ(FileTypeBox(fd)->currentIndex(), 0);
        auto* pane = fd->findChild<picture_dialog::PicturePane*>();
        ASSERT_NE(pane, nullptr);
        EXPECT_EQ(Caption(pane), QStringLiteral(" (40x30)"));
        EXPECT_TRUE(PreviewEnabled(pane));
        fd->selectNameFilter(fd->nameFilters().at(1));
        fd->reject();
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(reopened);
    EXPECT_EQ(dialog.FileName, Pic("a.bmp"));
    EXPECT_EQ(dialog.FilterIndex, 1);

    modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) {
        EXPECT_EQ(FileTypeBox(fd)->currentIndex(), 0);
        EXPECT_EQ(modal::FileNameEdit(fd)->text(), QStringLiteral("a.bmp"));
        fd->selectNameFilter(fd->nameFilters().at(1));
        modal::TypeAndConfirm(fd, QStringLiteral("c.jpg"));
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, Pic("c.jpg"));
    EXPECT_EQ(dialog.FilterIndex, 2);
}

TEST_F(OpenPictureDialogTest, AcceptsATypedNameOfAMissingFileAsAFullName)
{
    TOpenPictureDialog dialog(nullptr);
    modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) { modal::TypeAndConfirm(fd, QStringLiteral("nothere.bmp")); });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, Pic("nothere.bmp"));
    EXPECT_TRUE(QFileInfo(dialog.FileName).isAbsolute());
    EXPECT_EQ(dialog.FilterIndex, 3);

    // The next opening starts on that name in its folder; a name whose folder is gone starts
    // in the initial folder.
    QDir(dir_.path()).mkdir("other");
    struct Row {
        QString fileName, folder, typed;
    };
    const Row rows[] = {
        {Pic("nothere.bmp"), Pic(""), QStringLiteral("nothere.bmp")},
        {dir_.filePath("other/gone.bmp"), dir_.filePath("other"), QStringLiteral("gone.bmp")},
        {dir_.filePath("vanished/x.bmp"), Pic(""), QString()},
    };
    for (const Row& row : rows) {
        dialog.FileName = row.fileName;
        bool opened = false;
        modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) {
            opened = true;
            EXPECT_EQ(QDir(fd->directory()).absolutePath(), QDir(row.folder).absolutePath());
            EXPECT_EQ(modal::FileNameEdit(fd)->text(), row.typed);
            auto* pane = fd->findChild<picture_dialog::PicturePane*>();
            EXPECT_EQ(Caption(pane), QStringLiteral("画像:"));
            EXPECT_EQ(PictureText(pane), QStringLiteral("(なし)"));
            fd->reject();
        });
        EXPECT_FALSE(dialog.Execute());
        EXPECT_TRUE(opened);
        EXPECT_EQ(dialog.FileName, row.fileName) << "a cancel keeps the last confirmed name";
    }
}

TEST_F(OpenPictureDialogTest, StartsInTheCurrentDirectoryWhenTheInitialFolderIsMissing)
{
    ASSERT_TRUE(QDir(dir_.filePath("pic")).removeRecursively());
    TOpenPictureDialog dialog(nullptr);
    bool opened = false;
    modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) {
        opened = true;
        EXPECT_EQ(QDir(fd->directory()).absolutePath(), QDir(dir_.path()).absolutePath());
        modal::TypeAndConfirm(fd, QStringLiteral("z.jpg"));
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_TRUE(opened);
    EXPECT_EQ(dialog.FileName, QDir(dir_.path()).absoluteFilePath("z.jpg"));
}

TEST_F(OpenPictureDialogTest, OpensATypedFullPathAfterTwoFolders)
{
    QStringList paths;
    for (const char* name : {"a/one.bmp", "b/one.bmp", "b/two.bmp", "b/three.bmp"}) {
        paths << dir_.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(paths.back()).path()));
        WriteImage(paths.back(), 8, 8, Qt::red, "BMP");
    }
    TOpenPictureDialog dialog(nullptr);
    for (const QString& path : paths) {
        modal::WhenOpen<QFileDialog>([&](QFileDialog* fd) {
            modal::TypeAndConfirm(fd, path);
            if (fd->isVisible())
                fd->reject();
        });
        EXPECT_TRUE(dialog.Execute()) << path.toStdString();
        EXPECT_EQ(dialog.FileName.toStdString(), path.toStdString());
    }
}
