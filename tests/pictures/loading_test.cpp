#include "pictures/loading.h"

#include "pictures/bmp_reader.h"
#include "pictures/failure.h"
#include "pictures/picture.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "tests/support/bmp_file.h"
#include "tests/support/jpeg_file.h"
#include "tests/support/test_file.h"

#include <stdexcept>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace pictures {
namespace {

// ---------------------------------------------------------------------------------------------
// Extension rule

TEST(ExtensionOf, TakesTheTextFromTheLastDotWhenNoSeparatorFollowsIt)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\pic\\cat.tar.bmp", ".bmp"},
        {"C:\\pic.old\\cat", ""},
        {"/home/a.b/cat", ""},
        {"/home/a/cat.jpg", ".jpg"},
        {"cat.BMP", ".BMP"},
        {"cat", ""},
        {"cat.", "."},
        {"dir/.bmp", ".bmp"},
        {"C:cat", ""},
        {"C:.bmp", ".bmp"},
        {"a.b:cat", ""},
        {"", ""},
        {"猫.bmp", ".bmp"},
        {"写真.フォルダ/猫", ""},
        {"写真/猫.じぇいぺぐ", ".じぇいぺぐ"},
    };
    for (auto [name, extension] : cases)
        EXPECT_EQ(ExtensionOf(name), extension) << name;
}

// ---------------------------------------------------------------------------------------------
// Reading files

class Loading : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString path(const QString& name) const { return dir_.filePath(name); }

    QString write(const QString& name, const QByteArray& bytes) const { return test_file::Write(path(name), bytes); }

    // A small colour JPEG made by cjpeg.
    QByteArray jpeg() const
    {
        const std::string file = jpeg_file::Cjpeg(jpeg_file::Pnm(jpeg_file::Photo(19, 11, 3), 19, 11, 3), "",
                                                  dir_.path().toStdString());
        return QByteArray(file.data(), qsizetype(file.size()));
    }

    static std::string message(const QString& file)
    {
        try {
            LoadPictureFile(file);
        } catch (const Failure& failure) {
            return failure.what();
        }
        return "(loaded)";
    }

    static std::string cannotOpen(const QString& file)
    {
        return "ファイル " + file.toStdString() + " は開けません";
    }

private:
    QTemporaryDir dir_;
};

// A 3 x 2 bitmap of 24 bits per pixel; its pixels are the bitmap reader's tests' business.
QByteArray TinyBitmap()
{
    const std::string file = bmp_file::Picture(3, 2, 24).build();
    return QByteArray(file.data(), qsizetype(file.size()));
}

TEST_F(Loading, BmpNameReadsABitmap)
{
    const Picture picture = LoadPictureFile(write("cat.bmp", TinyBitmap()));
    EXPECT_EQ(picture.width(), 3);
    EXPECT_EQ(picture.height(), 2);
    EXPECT_EQ(picture.bitsPerPixel(), 24);
}

TEST_F(Loading, AFileOpenedAsTheFirstDescriptorLoads)
{
    // Started with its standard input closed, the program's next open takes descriptor 0.
    const QString name = write("cat.bmp", TinyBitmap());
    std::string outcome;
    test_file::WithInputClosed([&] {
        try {
            outcome = std::to_string(LoadPictureFile(name).width());
        } catch (const Failure& failure) {
            outcome = failure.what();
        }
    });
    EXPECT_EQ(outcome, "3");
}

TEST_F(Loading, OnlyTheExactLowerCaseBmpGoesToTheBitmapReader)
{
    for (const char* name : {"CAT.BMP", "cat.Bmp", "cat.bmp.old", "cat.dib", "cat"}) {
        EXPECT_EQ(message(write(name, TinyBitmap())), "JPEG エラー #52") << name;
    }
}

TEST_F(Loading, JpegNamedBmpIsRefusedByTheBitmapReader)
{
    EXPECT_EQ(message(write("cat.bmp", jpeg())), kBitmapInvalid);
}

TEST_F(Loading, JpegUnderAnyOtherNameLoads)
{
    const QByteArray file = jpeg();
    for (const char* name : {"cat.jpg", "cat.jpeg", "cat.JPG", "cat.jpe", "cat.jfif", "cat", "cat.",
                             "cat.BMP", "写真.jpg"}) {
        SCOPED_TRACE(name);
        Picture picture;
        ASSERT_NO_THROW(picture = LoadPictureFile(write(name, file)));
        EXPECT_EQ(picture.width(), 19);
        EXPECT_EQ(picture.height(), 11);
        EXPECT_EQ(picture.bitsPerPixel(), 24);
    }
}

TEST_F(Loading, OnlyRegularFilesAreRead)
{
    // Devices and pipes never end, and a pipe with no writer would hold its open forever. The
    // pipes here have no writer: what decides is what the open gives, not a look at the name
    // before it, which another process could switch to a pipe in between.
    for (const char* name : {"pipe.jpg", "pipe.bmp", "pipe.ico"})
        ASSERT_EQ(mkfifo(QFile::encodeName(path(name)).constData(), 0600), 0) << name;
    ASSERT_TRUE(QDir(path("")).mkdir("folder.bmp"));
    for (const QString& file : {QString("/dev/zero"), path("pipe.jpg"), path("pipe.bmp"), path("folder.bmp")})
        EXPECT_EQ(message(file), cannotOpen(file)) << file.toStdString();
    // The dialog's pane reads icons through the general loader too.
    try {
        LoadRegisteredPicture(path("pipe.ico"));
        ADD_FAILURE() << "a pipe read as an icon";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.what(), cannotOpen(path("pipe.ico")));
    }
}

TEST_F(Loading, AFileOfTheWrongKindIsRefusedFromItsFirstBytes)
{
    // 3 GB of zeros (sparse, so the test writes nothing): larger than any picture file, and
    // refused as soon as its first bytes are seen.
    for (const char* name : {"zeros.jpg", "zeros.bmp"}) {
        QFile file(write(name, QByteArray()));
        ASSERT_TRUE(file.resize(3LL << 30)) << name;
    }
    EXPECT_EQ(message(path("zeros.jpg")), "JPEG エラー #52");
    EXPECT_EQ(message(path("zeros.bmp")), kBitmapInvalid);
}

TEST_F(Loading, ABitmapIsReadNoFurtherThanItsRows)
{
    // Whatever follows the rows is never read, however large: here 3 GB of zeros (sparse). The
    // rows are read from the file many at a time, and must land as the bytes in memory put them.
    const std::string bytes = bmp_file::Picture(3, 600, 24).build();
    QFile file(write("tail.bmp", QByteArray(bytes.data(), qsizetype(bytes.size()))));
    ASSERT_TRUE(file.resize(3LL << 30));
    const Picture picture = LoadPictureFile(file.fileName());
    EXPECT_TRUE(picture.image() == ReadBitmap(QByteArray(bytes.data(), qsizetype(bytes.size()))).image());
    EXPECT_EQ(picture.height(), 600);
}

TEST_F(Loading, AnIconIsDrawnOnWhite)
{
    QImage icon(2, 1, QImage::Format_ARGB32);
    icon.setPixel(0, 0, qRgba(0, 0, 255, 255));
    icon.setPixel(1, 0, qRgba(0, 0, 0, 0));
    ASSERT_TRUE(icon.save(path("icon.ico"), "ICO"));
    const Picture picture = LoadRegisteredPicture(path("icon.ico"));
    EXPECT_EQ(picture.pixel(0, 0), kBlue);
    EXPECT_EQ(picture.pixel(1, 0), 0x00FFFFFFu) << "transparent parts show white";
}

// ---------------------------------------------------------------------------------------------
// Registry

class Registry : public ::testing::Test {
protected:
    void SetUp() override { UnregisterJpegFormats(); }
    void TearDown() override { UnregisterJpegFormats(); }

    static void ExpectEntry(const char* extension, PictureKind kind)
    {
        const PictureFormat* f = FindPictureFormat(extension);
        ASSERT_NE(f, nullptr) << extension;
        EXPECT_EQ(f->extension, extension);
        EXPECT_EQ(f->kind, kind);
    }
    static void ExpectToolkitEntries()
    {
        ExpectEntry("wmf", PictureKind::Metafile);
        ExpectEntry("emf", PictureKind::Metafile);
        ExpectEntry("ico", PictureKind::Icon);
        ExpectEntry("bmp", PictureKind::Bitmap);
    }
};

TEST_F(Registry, JpegEntriesComeAndGoBesideTheToolkitsFormats)
{
    ExpectToolkitEntries();
    EXPECT_EQ(FindPictureFormat("jpg"), nullptr);
    RegisterJpegFormats();
    RegisterJpegFormats();
    ExpectToolkitEntries();
    ExpectEntry("jpeg", PictureKind::Jpeg);
    ExpectEntry("jpg", PictureKind::Jpeg);
    UnregisterJpegFormats();
    ExpectToolkitEntries();
    EXPECT_EQ(FindPictureFormat("jpeg"), nullptr);
    EXPECT_EQ(FindPictureFormat("jpg"), nullptr);
}

TEST_F(Registry, LookupIgnoresCaseAndTheDot)
{
    RegisterJpegFormats();
    const std::pair<const char*, PictureKind> found[] = {
        {"jpg", PictureKind::Jpeg},      {".JPG", PictureKind::Jpeg},  {"Jpeg", PictureKind::Jpeg},
        {".bmp", PictureKind::Bitmap},   {"BMP", PictureKind::Bitmap}, {"ico", PictureKind::Icon},
        {".Emf", PictureKind::Metafile}, {"wmf", PictureKind::Metafile},
    };
    for (auto [extension, kind] : found) {
        const PictureFormat* f = FindPictureFormat(extension);
        ASSERT_NE(f, nullptr) << extension;
        EXPECT_EQ(f->kind, kind) << extension;
    }
    for (const char* extension : {"", ".", "png", "jpe", "..jpg", "jpg.", "bmpx"})
        EXPECT_EQ(FindPictureFormat(extension), nullptr) << extension;
}

}  // namespace
}  // namespace pictures
