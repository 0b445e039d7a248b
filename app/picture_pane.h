#pragma once
// The picture pane beside the file dialog's list, and the preview window it opens: what a
// picture file shows before the game loads it.

#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

class IdleWarmUp;
class QLabel;
class QToolButton;

namespace picture_dialog {

// The largest rectangle of the picture's proportions that fits into area, centred in it.
QRect FitCentred(QSize picture, const QRect& area);

// Client size of the preview window: the picture with 5 pixels around it, but no more than
// three quarters of the available screen area each way.
QSize PreviewClientSize(QSize picture, QSize available);

enum class PictureState {
    None,     // nothing to show: "(なし)"
    Shown,    // the picture is shown
    Invalid,  // the file was recognised but its pixels cannot be decoded: "画像が不正です"
};

// A picture as the pane reads it: with the general picture loader, which picks the reader by the
// registry entry of the file's extension, any case. JPEG files are decoded at the smallest scale
// that still covers the cover size.
struct PaneLoad {
    PictureState state = PictureState::None;
    QSize size;    // the picture's full size; known for Shown and Invalid
    QImage image;  // set for Shown
    QImage::Format format = QImage::Format_Invalid;  // the full picture's, as a load makes it; set for Shown
};
PaneLoad LoadPaneFile(const QString& path, QSize cover);

// Draws a picture scaled to fit with its proportions kept and centred, or a text in its place.
class PictureView : public QFrame {
    Q_OBJECT

public:
    explicit PictureView(QWidget* parent = nullptr);
    void SetPicture(PictureState state, const QImage& image);
    QString ShownText() const;  // the text in place of the picture; empty when it is shown

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PictureState state_ = PictureState::None;
    QImage image_;
    QImage scaled_;  // image_ at the size last drawn, so repaints do not rescale
};

// The pane beside the dialog's file list.
class PicturePane : public QWidget {
    Q_OBJECT

public:
    explicit PicturePane(QWidget* parent = nullptr);

    // Shows the file (an empty name, a folder or a missing file show nothing).
    void ShowFile(const QString& path);

    // Opens the preview window modally.
    void OpenPreview();

private:
    QString path_;
    PaneLoad load_;
    QLabel* caption_;
    QToolButton* previewButton_;
    PictureView* view_;
    IdleWarmUp* warmUp_;  // readies the storage a load of the file shown will read into
};

// The modal preview window captioned "プレビュー".
class PicturePreviewWindow : public QDialog {
    Q_OBJECT

public:
    // Reads the file again for the window's own size; pictureSize is its full size.
    PicturePreviewWindow(const QString& path, QSize pictureSize, QWidget* parent);

private:
    PictureView* view_;
};

}  // namespace picture_dialog
