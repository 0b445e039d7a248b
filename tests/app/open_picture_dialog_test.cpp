#include "app/open_picture_dialog.h"

#include "pictures/loading.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <functional>
#include <memory>
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

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs action on the first visible modal widget of type T once it is open (the modal's own
// event loop runs the timer). Gives up after a few seconds by closing whatever modal is open,
// so a missing window fails the test instead of hanging it.
template <class T>
void WhenModalOpens(std::function<void(T*)> action)
{
    auto* timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, started, action] {
        T* found = qobject_cast<T*>(QApplication::activeModalWidget());
        if (found && found->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(found);
            return;
        }
        if (started->elapsed() > 5000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected modal window did not open";
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        }
    });
    timer->start();
}

QLineEdit* FileNameEdit(QFileDialog* dialog)
{
    return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

QComboBox* FileTypeBox(QFileDialog* dialog)
{
    return dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
}

// Types a name and presses the accept button, as the player would.
void TypeAndConfirm(QFileDialog* dialog, const QString& name)
{
    QLineEdit* edit = FileNameEdit(dialog);
    ASSERT_NE(edit, nullptr);
    // Typed into the focused name box, the name also replaces the file selected in the list.
    QApplication::setActiveWindow(dialog);
    edit->setFocus();
    ASSERT_TRUE(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, name);
    ASSERT_EQ(edit->text(), name);
    auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_NE(box, nullptr);
    QPushButton* open = box->button(QDialogButtonBox::Open);
    ASSERT_NE(open, nullptr);
    EXPECT_TRUE(open->isEnabled()) << name.toStdString();
    open->click();
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

class PicturePaneTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        // The pane knows JPEG names only once start-up has registered them.
        if (!pictures::FindPictureFormat("jpg")) {
            pictures::RegisterJpegFormats();
            registeredHere_ = true;
        }
    }
    void TearDown() override
    {
        if (registeredHere_)
            pictures::UnregisterJpegFormats();
    }
    QString Path(const QString& name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    bool registeredHere_ = false;
};

TEST_F(PicturePaneTest, ShowsWhatTheRegistryAndTheFileAllow)
{
    WriteImage(Path("cat.bmp"), 40, 30, Qt::red, "BMP");
    WriteImage(Path("CAT.BMP"), 41, 31, Qt::red, "BMP");
    WriteImage(Path("photo.jpg"), 64, 48, Qt::green, "JPEG");
    WriteImage(Path("photo.JPEG"), 65, 49, Qt::green, "JPEG");
    WriteImage(Path("icon.ico"), 32, 32, Qt::blue, "ICO");
    WriteImage(Path("png.png"), 20, 20, Qt::red, "PNG");
    WriteImage(Path("bitmap-named.jpg"), 20, 20, Qt::red, "BMP");
    WriteImage(Path("noext"), 20, 20, Qt::red, "BMP");
    WriteBytes(Path("drawing.wmf"), QByteArray("\xD7\xCD\xC6\x9A", 4) + QByteArray(40, '\0'));
    WriteBytes(Path("garbage.bmp"), QByteArray(200, 'x'));
    WriteBytes(Path("empty.bmp"), QByteArray());
    // A bitmap cut off right after its headers: the size is known, the pixels are not.
    WriteBytes(Path("headers-only.bmp"), ReadBytes(Path("cat.bmp")).left(54));
    QDir(dir_.path()).mkdir("folder.bmp");

    struct Row {
        const char* file;
        QString caption;
        bool preview;
        QString text;
        PictureState state;
    };
    const QString none = QStringLiteral("画像:");
    const QString noPicture = QStringLiteral("(なし)");
    const Row rows[] = {
        {"cat.bmp", QStringLiteral(" (40x30)"), true, QString(), PictureState::Shown},
        {"CAT.BMP", QStringLiteral(" (41x31)"), true, QString(), PictureState::Shown},
        {"photo.jpg", QStringLiteral(" (64x48)"), true, QString(), PictureState::Shown},
        {"photo.JPEG", QStringLiteral(" (65x49)"), true, QString(), PictureState::Shown},
        {"icon.ico", QStringLiteral(" (32x32)"), true, QString(), PictureState::Shown},
        {"headers-only.bmp", QStringLiteral(" (40x30)"), true, QStringLiteral("画像が不正です"), PictureState::Invalid},
        {"png.png", none, false, noPicture, PictureState::None},
        {"bitmap-named.jpg", none, false, noPicture, PictureState::None},
        {"noext", none, false, noPicture, PictureState::None},
        {"drawing.wmf", none, false, noPicture, PictureState::None},
        {"garbage.bmp", none, false, noPicture, PictureState::None},
        {"empty.bmp", none, false, noPicture, PictureState::None},
        {"missing.bmp", none, false, noPicture, PictureState::None},
        {"folder.bmp", none, false, noPicture, PictureState::None},
    };

    picture_dialog::PicturePane pane;
    for (const Row& row : rows) {
        // Start from a shown picture each time, so a row that shows nothing must clear it.
        pane.ShowFile(Path("cat.bmp"));
        pane.ShowFile(Path(row.file));
        EXPECT_EQ(pane.Caption(), row.caption) << row.file;
        EXPECT_EQ(pane.PreviewEnabled(), row.preview) << row.file;
        EXPECT_EQ(pane.PictureText(), row.text) << row.file;
        EXPECT_EQ(pane.State(), row.state) << row.file;
    }

    pane.ShowFile(QString());
    EXPECT_EQ(pane.Caption(), none);
    EXPECT_FALSE(pane.PreviewEnabled());
    EXPECT_EQ(pane.PictureText(), noPicture);
    EXPECT_EQ(pane.PreviewButton()->toolTip(), QStringLiteral("プレビュー"));
}

TEST_F(PicturePaneTest, JpegNamesShowNothingWhileUnregistered)
{
    WriteImage(Path("photo.jpg"), 64, 48, Qt::green, "JPEG");
    pictures::UnregisterJpegFormats();
    picture_dialog::PicturePane pane;
    pane.ShowFile(Path("photo.jpg"));
    EXPECT_EQ(pane.Caption(), QStringLiteral("画像:"));
    EXPECT_EQ(pane.PictureText(), QStringLiteral("(なし)"));
    pictures::RegisterJpegFormats();
    pane.ShowFile(Path("photo.jpg"));
    EXPECT_EQ(pane.Caption(), QStringLiteral(" (64x48)"));
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

    view.SetPicture(PictureState::Invalid, QImage());
    EXPECT_EQ(view.ShownText(), QStringLiteral("画像が不正です"));
    const QImage text = view.grab().toImage();
    bool anyRed = false;
    for (int y = 0; y < text.height() && !anyRed; ++y)
        for (int x = 0; x < text.width() && !anyRed; ++x)
            anyRed = QColor(text.pixel(x, y)) == QColor(Qt::red);
    EXPECT_FALSE(anyRed) << "the old picture is still drawn";
}

TEST_F(PicturePaneTest, PreviewButtonOpensAModalPreviewThatEscapeCloses)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();

    struct Row {
        const char* name;
        QSize picture;
    };
    const Row rows[] = {
        {"small picture", {40, 30}},
        {"picture wider than the screen", {available.width() * 2, 20}},
    };
    for (const Row& row : rows) {
        WriteImage(Path("p.bmp"), row.picture.width(), row.picture.height(), Qt::red, "BMP");
        picture_dialog::PicturePane pane;
        pane.ShowFile(Path("p.bmp"));
        ASSERT_TRUE(pane.PreviewEnabled()) << row.name;

        bool opened = false;
        WhenModalOpens<picture_dialog::PicturePreviewWindow>([&](picture_dialog::PicturePreviewWindow* window) {
            opened = true;
            EXPECT_EQ(window->windowTitle(), QStringLiteral("プレビュー")) << row.name;
            EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool)) << row.name;
            EXPECT_EQ(window->size(), picture_dialog::PreviewClientSize(row.picture, available.size())) << row.name;
            EXPECT_LE(window->width(), available.width() * 3 / 4) << row.name;
            // QRect::center() rounds down, so the centres may differ by a pixel.
            const QPoint offset = window->geometry().center() - available.center();
            EXPECT_LE(std::abs(offset.x()), 1) << row.name;
            EXPECT_LE(std::abs(offset.y()), 1) << row.name;
            EXPECT_EQ(window->View()->ShownText(), QString()) << row.name;
            QTest::keyClick(window, Qt::Key_Escape);
        });
        pane.PreviewButton()->click();
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

    QTemporaryDir dir_;
    QString saved_;
};

TEST_F(OpenPictureDialogTest, ListsTheDescriptionsAndFiltersByThePatterns)
{
    TOpenPictureDialog dialog(nullptr);
    bool opened = false;
    WhenModalOpens<QFileDialog>([&](QFileDialog* fd) {
        opened = true;
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

        // The pane sits in the dialog and follows the file list.
        auto* pane = fd->findChild<picture_dialog::PicturePane*>();
        ASSERT_NE(pane, nullptr);
        EXPECT_EQ(pane->Caption(), QStringLiteral("画像:"));
        emit fd->currentChanged(Pic("a.bmp"));
        EXPECT_EQ(pane->Caption(), QStringLiteral(" (40x30)"));
        fd->reject();
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(opened);
    // A cancel changes nothing, not even the file type chosen meanwhile.
    EXPECT_EQ(dialog.FileName, QString());
    EXPECT_EQ(dialog.FilterIndex, 3);
}

TEST_F(OpenPictureDialogTest, RemembersTheConfirmedFileAndTypeButNotACancelledOne)
{
    TOpenPictureDialog dialog(nullptr);
    WhenModalOpens<QFileDialog>([&](QFileDialog* fd) {
        fd->selectNameFilter(fd->nameFilters().at(0));
        TypeAndConfirm(fd, QStringLiteral("a.bmp"));
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, Pic("a.bmp"));
    EXPECT_EQ(dialog.FilterIndex, 1);

    // Reopening starts on that file and type; this time the player picks another type and
    // cancels.
    bool reopened = false;
    WhenModalOpens<QFileDialog>([&](QFileDialog* fd) {
        reopened = true;
        EXPECT_EQ(QDir(fd->directory()).absolutePath(), QDir(dir_.filePath("pic")).absolutePath());
        EXPECT_EQ(FileNameEdit(fd)->text(), QStringLiteral("a.bmp"));
        EXPECT_EQ(FileTypeBox(fd)->currentIndex(), 0);
        auto* pane = fd->findChild<picture_dialog::PicturePane*>();
        ASSERT_NE(pane, nullptr);
        EXPECT_EQ(pane->Caption(), QStringLiteral(" (40x30)"));
        EXPECT_TRUE(pane->PreviewEnabled());
        fd->selectNameFilter(fd->nameFilters().at(1));
        fd->reject();
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(reopened);
    EXPECT_EQ(dialog.FileName, Pic("a.bmp"));
    EXPECT_EQ(dialog.FilterIndex, 1);

    WhenModalOpens<QFileDialog>([&](QFileDialog* fd) {
        EXPECT_EQ(FileTypeBox(fd)->currentIndex(), 0);
        EXPECT_EQ(FileNameEdit(fd)->text(), QStringLiteral("a.bmp"));
        fd->selectNameFilter(fd->nameFilters().at(1));
        TypeAndConfirm(fd, QStringLiteral("c.jpg"));
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, Pic("c.jpg"));
    EXPECT_EQ(dialog.FilterIndex, 2);
}

TEST_F(OpenPictureDialogTest, AcceptsATypedNameOfAMissingFileAsAFullName)
{
    TOpenPictureDialog dialog(nullptr);
    WhenModalOpens<QFileDialog>([&](QFileDialog* fd) { TypeAndConfirm(fd, QStringLiteral("nothere.bmp")); });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, Pic("nothere.bmp"));
    EXPECT_TRUE(QFileInfo(dialog.FileName).isAbsolute());
    EXPECT_EQ(dialog.FilterIndex, 3);

    // A missing last file is not preselected: the dialog starts in the initial folder again.
    QDir(dir_.path()).mkdir("other");
    WriteImage(dir_.filePath("other/x.bmp"), 8, 8, Qt::red, "BMP");
    dialog.FileName = dir_.filePath("other/gone.bmp");
    bool opened = false;
    WhenModalOpens<QFileDialog>([&](QFileDialog* fd) {
        opened = true;
        EXPECT_EQ(QDir(fd->directory()).absolutePath(), QDir(dir_.filePath("pic")).absolutePath());
        EXPECT_EQ(fd->findChild<picture_dialog::PicturePane*>()->Caption(), QStringLiteral("画像:"));
        fd->reject();
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(opened);
}

TEST_F(OpenPictureDialogTest, StartsInTheCurrentDirectoryWhenTheInitialFolderIsMissing)
{
    ASSERT_TRUE(QDir(dir_.filePath("pic")).removeRecursively());
    TOpenPictureDialog dialog(nullptr);
    bool opened = false;
    WhenModalOpens<QFileDialog>([&](QFileDialog* fd) {
        opened = true;
        EXPECT_EQ(QDir(fd->directory()).absolutePath(), QDir(dir_.path()).absolutePath());
        TypeAndConfirm(fd, QStringLiteral("z.jpg"));
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
        WhenModalOpens<QFileDialog>([&](QFileDialog* fd) {
            TypeAndConfirm(fd, path);
            if (fd->isVisible())
                fd->reject();
        });
        EXPECT_TRUE(dialog.Execute()) << path.toStdString();
        EXPECT_EQ(dialog.FileName.toStdString(), path.toStdString());
    }
}
